// The task wizard's device folder and task name steps: which folders a user
// is offered, what Next stores in the task, and the name rules.
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "AddTaskWS_P2.h"
#include "AccessibleWalk.h"
#include "GuiTestSupport.h"
#include "AddTaskWZ_P0.h"
#include "ListCtrl.h"
#include "MessageBoxes.h"
#include "NasBackupFolders.h"
#include "SnmpTestAgent.h"
#include "TaskStore.h"
#include "TestNetwork.h"
#include "stdafx.h"

TOLVANE_PRIVATE_NETWORK();

using namespace platform::gui;
using testbed::NasDescription;

namespace {

NasDescription FolderMix()
{
    NasDescription nas = NasDescription::Default();
    auto folder = [](int index, std::string name, int type, std::string write, int cifs, int ftp, int nfs) {
        NasDescription::Folder f;
        f.index = index;
        f.shareName = std::move(name);
        f.folderType = type;
        f.writeList = std::move(write);
        f.cifs = cifs;
        f.ftp = ftp;
        f.nfs = nfs;
        f.location = index % 2 ? "HDD1" : "HDD2";
        return f;
    };
    nas.folders = {
        folder(1, "public", 1, "", 1, 1, 0),
        folder(2, "team", 2, "alice,bob,", 1, 0, 0),
        folder(3, "jims", 2, "jimbob,", 1, 0, 0),
        folder(4, "\xE6\x96\x87\xE4\xBB\xB6", 1, "", 1, 0, 0), // CJK: never offered
        folder(5, "caf\xC3\xA9", 1, "", 0, 0, 1),              // accented Latin: offered
        folder(6, "empty", 2, "", 1, 0, 0),
    };
    return nas;
}

std::vector<std::string> Names(const CAddTaskWS_P2& dlg)
{
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(dlg.GetFolderList()->GetItemCount()));
    for (int r = 0; r < dlg.GetFolderList()->GetItemCount(); ++r)
        names.push_back(dlg.GetFolderList()->GetItemText(r, 1));
    return names;
}

} // namespace

class TestTaskWizardPages : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::TestNetwork> m_net;

private slots:
    void initTestCase() { m_net = std::make_unique<testsupport::TestNetwork>(); }

    void foldersOfferedByUser()
    {
        testsupport::SnmpTestAgent agent(FolderMix());
        agent.PointContext();
        GetNasContext()->m_macText = "02:00:00:00:00:07";
        MessageBoxRecorder boxes;
        const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
            {"alice", {"public", "team", "caf\xC3\xA9"}},
            {"bob", {"public", "team", "caf\xC3\xA9"}},
            {"jim", {"public", "caf\xC3\xA9"}}, // "jimbob," is not jim's
            {"admin", {"public", "team", "jims", "caf\xC3\xA9"}},
        };
        for (const auto& [user, expected] : cases) {
            GetNasContext()->m_user = user;
            BackupTaskInfo task;
            CAddTaskWS_P2 dlg;
            dlg.SetTask(&task);
            RunScripted(
                dlg,
                [&, &want = expected] {
                    QCOMPARE(Names(dlg), want);
                    QVERIFY(!dlg.IsNextEnabled()); // nothing picked yet
                    const QStringList reading = testsupport::ReadingFaults(&dlg);
                    QVERIFY2(reading.isEmpty(), qPrintable(reading.join("; ")));
                },
                IDCANCEL);
            QCOMPARE(boxes.Count(), size_t(0));
        }

        // The columns of a row, and what Next stores. A device folder into
        // which another stored task backs up a folder of one of this task's
        // names is refused.
        GetNasContext()->m_user = "alice";
        BackupTaskInfo home;
        home.taskName = "Home";
        home.nasIp = "127.0.0.1";
        home.nasFolderName = "public";
        home.nasFolderDisk = "HDD1";
        home.folders = {{"Docs", "", "", "/home/a/Docs"}};
        CTaskStore().SaveTasks({home});
        BackupTaskInfo task;
        task.folders = {{"Docs", "", "", "/work/Docs"}};
        task.lastBackTime = "yesterday";
        task.nasIp = "198.18.9.9"; // the device changed its address since
        CAddTaskWS_P2 dlg;
        dlg.SetTask(&task);
        const int code = RunScripted(
            dlg,
            [&] {
                ListCtrl* list = dlg.GetFolderList();
                QCOMPARE(list->GetItemText(0, 3), std::string("Samba FTP "));
                QCOMPARE(list->GetItemText(2, 3), std::string("NFS "));
                QCOMPARE(list->GetItemText(1, 4), std::string("Private"));
                QCOMPARE(list->GetItemText(1, 5), std::string("alice,bob,"));
                EXPECT_NOTHING_CUT(&dlg);
                list->SetItemSelected(1, true);
                dlg.OnClickList();
                QVERIFY(dlg.IsNextEnabled());
                QCOMPARE(list->GetItemImage(1), CAddTaskWS_P2::kImageChosen);
                QCOMPARE(list->GetItemImage(0), CAddTaskWS_P2::kImagePlain);
                list->SetItemSelected(0, true);
                dlg.OnClickList();
                dlg.findChild<QPushButton*>("nextButton")->click();
                QVERIFY(task.nasFolderName.empty());
                list->SetItemSelected(1, true);
                dlg.OnClickList();
                dlg.findChild<QPushButton*>("nextButton")->click();
            },
            IDCANCEL);
        CTaskStore().SaveTasks({});
        QCOMPARE(code, CAddTaskWS_P2::kNext);
        QCOMPARE(boxes.Count(), size_t(2));
        QVERIFY(boxes.Boxes().front().text.find("Now attaching NAS differ") == 0);
        QCOMPARE(boxes.LastText(),
                 std::string("A folder named \"Docs\" of task \"Home\" is backed up into public on HDD1 "
                             "already.\nTasks that back up into one NAS folder need different folder "
                             "names!!"));
        QCOMPARE(task.nasFolderName, std::string("team"));
        QCOMPARE(task.nasFolderDisk, std::string("HDD2"));
        QCOMPARE(task.nasFolderStatus, std::string("Private"));
        QCOMPARE(task.nasIp, std::string("127.0.0.1"));
        QCOMPARE(task.nasMac, std::string("02:00:00:00:00:07"));
        QCOMPARE(task.nasUser, std::string("alice"));
        QCOMPARE(task.nasFolderSet, 1);
        // The last backup time is the edit's to keep or empty at its end.
        QCOMPARE(task.lastBackTime, std::string("yesterday"));

        // Editing preselects the chosen folder.
        CAddTaskWS_P2 again;
        again.SetTask(&task);
        RunScripted(
            again,
            [&] {
                QCOMPARE(again.GetFolderList()->GetSelectionMark(), 1);
                QVERIFY(again.IsNextEnabled());
            },
            IDCANCEL);
    }

    void deviceProblemsKeepTheListEmpty()
    {
        NasDescription nas = FolderMix();
        nas.disks[0].status = -2;
        testsupport::SnmpTestAgent agent(nas);
        agent.PointContext();
        GetNasContext()->m_user = "admin";
        MessageBoxRecorder boxes;
        BackupTaskInfo task;
        CAddTaskWS_P2 dlg;
        dlg.SetTask(&task);
        RunScripted(
            dlg, [&] { QCOMPARE(dlg.GetFolderList()->GetItemCount(), 0); }, IDCANCEL);
        QCOMPARE(boxes.LastText(), std::string("NAS HardDisk is not ready for use!"));

        GetNasContext()->m_deviceAddress.clear();
        CAddTaskWS_P2 none;
        none.SetTask(&task);
        RunScripted(
            none, [&] { QCOMPARE(none.GetFolderList()->GetItemCount(), 0); }, IDCANCEL);
        QCOMPARE(boxes.LastText(), std::string("NO NAS ,Attach again!"));
    }

    void nameRules()
    {
        QVERIFY(CAddTaskWZ_P0::CheckTaskName(std::string(20, 'a')));
        QVERIFY(!CAddTaskWZ_P0::CheckTaskName(std::string(21, 'a')));
        QVERIFY(CAddTaskWZ_P0::CheckTaskName("my task.v2"));
        QVERIFY(CAddTaskWZ_P0::CheckTaskName("S\xC3\xA4kerhetskopia"));
        QVERIFY(!CAddTaskWZ_P0::CheckTaskName("a:b"));
        QVERIFY(!CAddTaskWZ_P0::CheckTaskName("a*"));
        QVERIFY(!CAddTaskWZ_P0::CheckTaskName(""));

        GetNasContext()->m_user = "alice";
        MessageBoxRecorder boxes;
        BackupTaskInfo task;
        CAddTaskWZ_P0 dlg;
        dlg.SetTask(&task);
        dlg.AddExistingTask("Photos", "alice");
        dlg.AddExistingTask("Music", "bob");
        auto* edit = dlg.findChild<QLineEdit*>("nameEdit");
        auto* apply = dlg.findChild<QPushButton*>("applyButton");
        const int code = RunScripted(
            dlg,
            [&] {
                EXPECT_NOTHING_CUT(&dlg);
                QVERIFY(!dlg.IsApplyEnabled());
                const std::vector<std::pair<std::string, std::string>> refused = {
                    {"Photos", "Task name must be unique!!"},
                    {"PHOTOS", "Task name must be unique!!"}, // one store section whatever the case
                    {"Music", "The name had used by other user. Task name must be unique!!"},
                    {"a|b", "Task Name must have no '()\\/?\"<>:|*' symbol and be shorter than 20 words length."},
                    // What the task store cannot keep as a section name.
                    {"Photos ", TaskNameMessage(TASK_NAME_BAD_CHARACTER)},
                    {"Photos [2019]", TaskNameMessage(TASK_NAME_BAD_CHARACTER)},
                };
                for (const auto& [name, text] : refused) {
                    edit->setText(QString::fromStdString(name));
                    apply->click();
                    QVERIFY(dlg.isVisible());
                    QCOMPARE(boxes.LastText(), text);
                }
                edit->clear();
                QVERIFY(!dlg.IsApplyEnabled());
                edit->setText("Documents");
                QVERIFY(dlg.IsApplyEnabled());
                apply->click();
            },
            IDCANCEL);
        QCOMPARE(code, int(IDOK));
        QCOMPARE(task.taskName, std::string("Documents"));
        QVERIFY(!WriteListAllowsUser("alice,bob,", "ali"));
        QVERIFY(WriteListAllowsUser("alice,bob", "bob"));
    }
};

QTEST_MAIN(TestTaskWizardPages)
#include "test_task_wizard_pages.moc"
