// The Backup/Restore page against the emulated device: a task made through
// the wizard, refused while busy, backed up, restored both ways, run once on
// a schedule and deleted; every outcome a System Log row at the main window;
// every control named.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>

#include "GuiTestSupport.h"
#include "BlockingCallCounter.h"
#include "AddTaskWS_P2.h"
#include "AddTaskWZ_P0.h"
#include "AccessibleWalk.h"
#include "AddTaskWZ_p3.h"
#include "BackupProgress.h"
#include "BackupRestorePage.h"
#include "Clock.h"
#include "Dialog.h"
#include "EmulatedNas.h"
#include "FolderDlg.h"
#include "ListCtrl.h"
#include "MessageBoxes.h"
#include "RsyncEngine.h"
#include "Schedule.h"
#include "TaskPanel.h"
#include "TaskWizardpage1.h"
#include "stdafx.h"

TOLVANE_PRIVATE_NETWORK();

using namespace platform::gui;
namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

// The main window's side of WM_ADD_LOG.
class Host : public Dialog {
public:
    Host()
    {
        SetMessageHandler(WM_ADD_LOG, [this](const Message& m) {
            if (const LogRowMessage* row = std::any_cast<LogRowMessage>(&m.data))
                rows.emplace_back(static_cast<int>(m.wParam), *row);
            return intptr_t(1);
        });
    }
    std::vector<std::pair<int, LogRowMessage>> rows;
};

// Time 20 times faster than real time that can also jump ahead.
class JumpingClock : public platform::FastClock {
public:
    JumpingClock() : platform::FastClock(20) {}
    int64_t TickMs() override { return platform::FastClock::TickMs() + m_jumped.load(); }
    std::time_t Now() override { return platform::FastClock::Now() + static_cast<std::time_t>(m_jumped.load() / 1000); }
    void Jump(int64_t ms) { m_jumped += ms; }

private:
    std::atomic<int64_t> m_jumped{0};
};

// The last row posted so far (posts are delivered by the event loop).
std::pair<int, LogRowMessage> Last(Host& host)
{
    QCoreApplication::processEvents();
    return host.rows.empty() ? std::pair<int, LogRowMessage>{} : host.rows.back();
}

// An emulated device with the backup folder "backups" and what more is
// given, logged in as its administrator; the program's files in
// dir/program.
std::unique_ptr<testsupport::EmulatedNas> LoggedInDevice(const testsupport::TempDir& dir, const std::string& more = "")
{
    fs::create_directories(dir / "program");
    GetNasContext()->SetIniPath((dir / "program" / "quom.ini").string());
    auto nas = std::make_unique<testsupport::EmulatedNas>(
        "user = admin:pw:15\ncommunity = c0mm\nrsync = 1\nfolder = 1:backups:Disk1:1\n" + more +
        testsupport::DiskRoots(dir.path()));
    if (nas->Started())
        nas->LogInContext("admin", "pw");
    return nas;
}

} // namespace

class TestBackupRestorePage : public QObject {
    Q_OBJECT

private slots:
    void taskLifeOnThePage()
    {
        testsupport::TempDir dir;
        const auto nas = LoggedInDevice(dir);
        QVERIFY(nas->Started());
        const fs::path src = dir / "home" / "Photos";
        fs::create_directories(src / "sub");
        WriteFile(src / "a.txt", "alpha");
        WriteFile(src / "sub" / "b.bin", std::string(50000, 'b'));

        // Another user's task stays in the store but is not shown.
        BackupTaskInfo theirs;
        theirs.taskName = "Theirs";
        theirs.nasUser = "bob";
        theirs.taskBackSize = "1 KB"; // as stored; the page measures 48 KB
        theirs.folders.push_back({"Photos", "", "1 KB", src.string()});
        CTaskStore store;
        store.CreateTaskStore();
        store.SaveTasks({theirs});

        int answer = IDYES;
        int scheduleAnswer = IDYES; // to "The Task : ... will work ..."
        MessageBoxRecorder boxes(
            [&](const RecordedBox& b) { return b.text.rfind("The Task : ", 0) == 0 ? scheduleAnswer : answer; });
        std::string chosen = src.string();
        CFolderDialog::Chooser oldChooser =
            CFolderDialog::SetChooser([&](CFolderDialog&) -> std::optional<std::string> { return chosen; });

        // No folder walk or device request of the page holds up the GUI
        // thread: the task sizes, the wizard's folder, the device folder checks.
        std::optional<testsupport::BlockingCallCounter> calls(std::in_place);
        Host host;
        auto* page = new CBackupRestorePage;
        page->CreatePage(QRect(0, 0, 900, 600), &host);
        ListCtrl* list = page->GetListCtrl();
        QCOMPARE(list->GetItemCount(), 0);
        QCOMPARE(page->Tasks().size(), size_t(1));
        QVERIFY(WaitFor([&] { return page->Tasks().front().taskBackSize == "48 KB"; }));
        QCOMPARE(page->GetTitle(), std::string("Backup/Restore Management"));

        // Add Task: the three wizard steps, No to the schedule question;
        // nothing is written before the last of them.
        const std::string storeBefore = ReadFile(store.File());
        std::string storeOnLaterPage;
        Dialog::SetModalHook([&](Dialog& shown) {
            if (&shown == page->Wizard1()) {
                page->Wizard1()->OnSelect();
                static_cast<QPushButton*>(page->Wizard1()->GetDlgItem(1))->click();
            } else if (&shown == page->Wizard2()) {
                ListCtrl* folders = page->Wizard2()->GetFolderList();
                for (int r = 0; r < folders->GetItemCount(); ++r)
                    if (folders->GetItemText(r, 1) == "backups")
                        folders->SetItemSelected(r, true);
                page->Wizard2()->OnClickList();
                shown.findChild<QPushButton*>("nextButton")->click();
            } else if (&shown == page->NameDialog()) {
                storeOnLaterPage = ReadFile(store.File());
                shown.findChild<QLineEdit*>("nameEdit")->setText("Mine");
                answer = IDNO;
                shown.findChild<QPushButton*>("applyButton")->click();
            } else {
                shown.EndDialog(IDCANCEL);
            }
        });
        page->OnTaskPanelLink(CBackupRestorePage::IDS_ADD_TASK);
        Dialog::SetModalHook({});
        QCOMPARE(calls->OnMakerThread(BlockingCall::FolderWalk), 0);
        QCOMPARE(calls->Elsewhere(BlockingCall::FolderWalk), 2);
        answer = IDYES;
        QCOMPARE(storeOnLaterPage, storeBefore);
        QCOMPARE(boxes.LastText(), std::string("Do you want to set the task schedule ?"));
        QCOMPARE(list->GetItemCount(), 1);
        QCOMPARE(list->GetItemText(0, 0), std::string("Mine"));
        QCOMPARE(list->GetItemImage(0), int(CBackupRestorePage::IMAGE_TASK));
        QCOMPARE(store.ReadTaskValue("Mine", "NAS_Folder_name"), std::string("backups"));
        QCOMPARE(store.ReadTaskValue("Theirs", "NAS_User"), std::string("bob"));

        list->SetSelectionMark(0);
        page->OnListItemSelected(0);
        using P = CBackupRestorePage;
        QCOMPARE(TaskLinks(*page, CBackupRestorePage::IDS_TASK_GROUP),
                 (std::vector<unsigned>{P::IDS_ADD_TASK, P::IDS_DELETE_TASK, P::IDS_EDIT_TASK, P::IDS_BACKUP_NOW,
                                        P::IDS_SCHEDULE_SETTING, P::IDS_SHOW_PROPERTY}));
        QCOMPARE(page->GetTitle(), std::string("Select Task : Mine"));

        // While the task runs it is neither backed up again, nor deleted, nor edited.
        QVERIFY(GetNasContext()->TryStartTask("Mine"));
        page->RefreshTaskList();
        QCOMPARE(list->GetItemImage(0), int(CBackupRestorePage::IMAGE_RUNNING));
        list->SetSelectionMark(0);
        boxes.Clear();
        page->OnPageCommand(P::ID_BACKUP_NOW);
        page->OnPageCommand(P::ID_DELETE_TASK);
        page->OnPageCommand(P::ID_EDIT_TASK);
        std::vector<std::string> texts;
        for (const RecordedBox& b : boxes.Boxes())
            texts.push_back(b.text);
        QCOMPARE(texts, (std::vector<std::string>{"Do you want to Backup Task : Mine now?",
                                                  "Some Task running, please wait the process finish!!",
                                                  "The task is running, please wait the process finish!!",
                                                  "The task is running, please wait the process finish!!"}));
        GetNasContext()->EndTask();
        QCOMPARE(page->Tasks().size(), size_t(2));

        // Backup Now, chosen through the accessibility interface: the task
        // selected by its item's Toggle, the panel's link pressed. Then both
        // restores. After each run the task stays selected and its panel is
        // the task's as the task file has it.
        auto panelAgrees = [&] {
            TaskPanelGroup* info = page->GetTaskPanel()->FindGroup(P::IDS_INFO_GROUP);
            const std::string text = info != nullptr && info->GetItemCount() == 1 ? info->GetItem(0)->GetCaption() : "";
            return list->GetSelectedItem() == 0 && text == "Mine information :\n" + page->GetTaskInfoText("Mine") &&
                   text.find(":\n    " + store.ReadTaskValue("Mine", "Last_Back_Time")) != std::string::npos;
        };
        list->ClearSelection();
        QVERIFY(testsupport::DoAccessibleAction(list, "Mine", QAccessibleActionInterface::toggleAction()));
        QVERIFY(testsupport::DoAccessibleAction(page->GetTaskPanel(), "Backup Now",
                                                QAccessibleActionInterface::pressAction()));
        QTRY_COMPARE(boxes.LastText(), std::string("Do you want to Backup Task : Mine now?"));
        QVERIFY(page->WaitRuns(30000));
        QVERIFY(panelAgrees());
        QCOMPARE(Last(host).first, int(LOG_BACKUP));
        QCOMPARE(Last(host).second.description, std::string("Mine : backup processing Finish!!"));
        QVERIFY(fs::exists(Last(host).second.filePath));
        QVERIFY(page->HasBackup("Mine"));
        QCOMPARE(TaskLinks(*page, CBackupRestorePage::IDS_TASK_GROUP).size(), size_t(8));

        fs::remove_all(dir / "home");
        page->OnTaskPanelLink(P::IDS_RESTORE_ORIGINAL);
        QVERIFY(page->WaitRuns(30000));
        QCOMPARE(Last(host).first, int(LOG_RESTORE));
        QCOMPARE(Last(host).second.description, std::string("Mine : restore processing Finish!!"));
        QCOMPARE(ReadFile(src / "sub" / "b.bin"), std::string(50000, 'b'));

        // A target whose path is longer than 260 bytes.
        const fs::path target = testsupport::MakeLongFolder(dir / "target", 400);
        chosen = target.string();
        list->SetSelectionMark(0);
        page->OnPageCommand(P::ID_RESTORE_OTHER);
        QVERIFY(page->WaitRuns(30000));
        QCOMPARE(Last(host).second.description, std::string("Mine : restore processing Finish!!"));
        QCOMPARE(ReadFile(target / "Photos" / "a.txt"), std::string("alpha"));
        QCOMPARE(calls->OnMakerThread(), 0);
        QVERIFY(calls->Elsewhere(BlockingCall::Snmp) > 0);
        calls.reset();
        // A share mounted by the desktop's file system layer is a network folder.
        chosen = (dir / "gvfs" / "smb-share=server,share=data").string();
        fs::create_directories(chosen);
        const size_t rowsBefore = host.rows.size();
        list->SetSelectionMark(0);
        page->OnPageCommand(P::ID_RESTORE_OTHER);
        QCOMPARE(boxes.LastText(), std::string("Can't choice network folder!!"));
        // One longer than the system takes is refused, saying why.
        chosen = target.string() + "/" + std::string(200, 'x') + "/" + std::string(PATH_MAX - 400 - 202, 'y');
        list->SetSelectionMark(0);
        page->OnPageCommand(P::ID_RESTORE_OTHER);
        QCOMPARE(boxes.LastText(), "Can't choice this folder: its path is " + std::to_string(PATH_MAX) +
                                       " bytes long, and the system takes paths of at most " +
                                       std::to_string(PATH_MAX - 1) + " bytes!!");
        QCOMPARE(host.rows.size(), rowsBefore);

        // A one-time schedule due now runs at the next check, once (an hour
        // on, so that its time differs from the last).
        std::optional<platform::FastClock> later(std::in_place, 1.0, platform::WallNow() + 3600);
        std::optional<platform::ScopedClock> scoped(std::in_place, *later);
        Dialog::SetModalHook([&](Dialog& shown) {
            auto* dlg = page->ScheduleDialog();
            if (&shown != dlg)
                return shown.EndDialog(IDCANCEL);
            dlg->OnOneTime();
            const std::tm t = platform::LocalTime(platform::WallNow() - 5);
            dlg->SetOneTime(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
            shown.findChild<QPushButton*>("finishButton")->click();
        });
        list->SetSelectionMark(0);
        page->OnPageCommand(P::ID_SCHEDULE_SETTING);
        QVERIFY(page->HasSchedule("Mine"));
        QCOMPARE(list->GetItemImage(0), int(CBackupRestorePage::IMAGE_SCHEDULED));
        QCOMPARE(Last(host).first, int(LOG_SCHEDULE));
        QCOMPARE(Last(host).second.description, std::string("Add schedule to task ( Mine )."));
        // No to the new time: the stored schedule stays, nothing is logged.
        const std::string withSchedule = ReadFile(store.File());
        const size_t rowsBeforeNo = host.rows.size();
        const std::string keyBeforeNo = page->Tasks().back().schedules.front().key;
        scheduleAnswer = IDNO;
        list->SetSelectionMark(0);
        page->OnPageCommand(P::ID_SCHEDULE_SETTING);
        scheduleAnswer = IDYES;
        QCOMPARE(boxes.LastText().rfind("The Task : Mine will work on ", 0), size_t(0));
        QCOMPARE(page->Tasks().back().schedules.front().key, keyBeforeNo);
        QCOMPARE(ReadFile(store.File()), withSchedule);
        QCOMPARE(Last(host).first, int(LOG_SCHEDULE));
        QCOMPARE(host.rows.size(), rowsBeforeNo);
        Dialog::SetModalHook({});
        page->CheckSchedules();
        QVERIFY(page->WaitRuns(30000));
        QCOMPARE(Last(host).first, int(LOG_SCHEDULE));
        QCOMPARE(Last(host).second.description, std::string("Mine : backup processing Finish!!"));
        QVERIFY(panelAgrees());
        QCOMPARE(page->Tasks().back().schedules.front().setDate, std::string("finish"));
        const size_t afterPass = host.rows.size();
        page->CheckSchedules();
        QVERIFY(page->WaitRuns(30000));
        QCOMPARE(host.rows.size(), afterPass);
        scoped.reset();

        // The property view shows the task, its last backup time whole on
        // screen, and changes nothing.
        std::string title;
        QStringList unnamed;
        QString values;
        bool valuesWhole = false;
        Dialog::SetModalHook([&](Dialog& shown) {
            title = shown.windowTitle().toStdString();
            unnamed = testsupport::UnnamedWidgets(&shown);
            auto* label = shown.findChild<QLabel*>("infoValue6"); // the last backup time
            values = label->text();
            valuesWhole = label->height() >= label->heightForWidth(label->width()) &&
                          label->height() >= label->sizeHint().height() &&
                          label->mapTo(&shown, QPoint(0, label->height())).y() <= shown.height();
            shown.EndDialog(IDCANCEL);
        });
        list->SetSelectionMark(0);
        page->OnPageCommand(P::ID_SHOW_PROPERTY);
        Dialog::SetModalHook({});
        QCOMPARE(title, std::string("Task Property : Mine"));
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(",")));
        const std::string lastBackup = store.ReadTaskValue("Mine", "Last_Back_Time");
        QVERIFY(!lastBackup.empty());
        QCOMPARE(values.toStdString(), lastBackup);
        QVERIFY(valuesWhole);

        // Another user logs in: the page forgets the selected task.
        page->OnListItemSelected(0);
        QCOMPARE(page->GetTitle(), std::string("Select Task : Mine"));
        GetNasContext()->m_user = "bob";
        page->Refresh();
        QCOMPARE(page->GetTitle(), std::string("Backup/Restore Management"));
        QCOMPARE(list->GetItemCount(), 1);
        QCOMPARE(list->GetItemText(0, 0), std::string("Theirs"));
        QCOMPARE(TaskLinks(*page, CBackupRestorePage::IDS_TASK_GROUP), std::vector<unsigned>{P::IDS_ADD_TASK});
        QVERIFY(page->GetTaskPanel()->FindGroup(CBackupRestorePage::IDS_INFO_GROUP) == nullptr);
        GetNasContext()->m_user = "admin";
        page->Refresh();

        list->SetSelectionMark(0);
        page->OnPageCommand(P::ID_REMOVE_SCHEDULE);
        QVERIFY(!page->HasSchedule("Mine"));
        QCOMPARE(Last(host).second.description, std::string("Delete schedule setting to backup task ( Mine )."));

        // Edit Task, the folder swapped for another: the store stays as it
        // was while the wizard runs and after a Cancel on its second step;
        // the finished edit stores the new folder and drops the old one's keys.
        const fs::path other = dir / "home" / "Music";
        fs::create_directories(other);
        chosen = other.string();
        const std::string stored = ReadFile(store.File());
        std::string storeOnPage2;
        int nasStep = IDCANCEL;
        Dialog::SetModalHook([&](Dialog& shown) {
            if (&shown == page->Wizard1()) {
                page->Wizard1()->FolderList()->SetSelectionMark(0);
                page->Wizard1()->OnRemove();
                page->Wizard1()->OnSelect();
                static_cast<QPushButton*>(page->Wizard1()->GetDlgItem(1))->click();
            } else if (&shown == page->Wizard2()) {
                storeOnPage2 = ReadFile(store.File());
                if (nasStep == IDCANCEL)
                    return shown.findChild<QPushButton*>("cancelButton")->click();
                page->Wizard2()->GetFolderList()->SetItemSelected(0, true);
                page->Wizard2()->OnClickList();
                shown.findChild<QPushButton*>("nextButton")->click();
            } else {
                shown.EndDialog(IDCANCEL);
            }
        });
        list->SetSelectionMark(0);
        page->OnPageCommand(P::ID_EDIT_TASK);
        QCOMPARE(storeOnPage2, stored);
        QCOMPARE(ReadFile(store.File()), stored);
        QCOMPARE(page->Tasks().back().folders.front().path, src.string());
        nasStep = IDOK;
        list->SetSelectionMark(0);
        page->OnPageCommand(P::ID_EDIT_TASK);
        Dialog::SetModalHook({});
        QCOMPARE(storeOnPage2, stored);
        QCOMPARE(store.LoadTask("Mine", false).folders.size(), size_t(1));
        QCOMPARE(store.LoadTask("Mine", false).folders.front().path, other.string());
        QCOMPARE(store.ReadTaskValue("Mine", MakeMD5Key(src.string()) + "_Folder_path"),
                 std::string(CTaskStore::kReadDefault));

        list->SetSelectionMark(0);
        page->OnPageCommand(P::ID_DELETE_TASK);
        QCOMPARE(list->GetItemCount(), 0);
        QCOMPARE(store.ReadTaskValue("Mine", "NAS_User"), std::string(CTaskStore::kReadDefault));
        QCOMPARE(Last(host).first, int(LOG_BACKUP));
        QCOMPARE(Last(host).second.description, std::string("Delete backup task ( Mine )."));
        QCOMPARE(page->PanelMode(), 1);
        QCOMPARE(host.rows.front().second.description, std::string("Add backup task ( Mine )."));

        const QStringList pageUnnamed = testsupport::UnnamedWidgets(page);
        QVERIFY2(pageUnnamed.isEmpty(), qPrintable(pageUnnamed.join(",")));
        CFolderDialog::SetChooser(oldChooser);
        delete page;
    }

    // Edit Task keeps the last backup time while the task's folders and its
    // device folder stay, and keeps a schedule that a pass moved on while the
    // wizard was open; a change of either empties the time.
    void editKeepsTheBackupItDoesNotMove()
    {
        testsupport::TempDir dir;
        const auto nas = LoggedInDevice(dir, "folder = 2:other:Disk1:1\n");
        QVERIFY(nas->Started());
        struct Case {
            std::string task;
            bool otherLocalFolder;
            std::string deviceFolder; // "" answers No to changing it
            bool passMeanwhile;       // a schedule pass runs the task while the wizard is open
            bool kept;
        };
        const std::vector<Case> cases = {
            {"Unchanged", false, "", true, true},
            {"SameDeviceFolder", false, "backups", false, true},
            {"OtherDeviceFolder", false, "other", false, false},
            {"OtherLocalFolder", true, "", false, false},
        };
        const std::time_t now = platform::WallNow();
        std::list<BackupTaskInfo> tasks;
        for (const Case& c : cases) {
            BackupTaskInfo t;
            t.taskName = c.task;
            t.nasUser = "admin";
            t.nasFolderSet = 1;
            t.nasIp = testsupport::EmulatedNas::kAddress;
            t.nasCommunity = GetNasContext()->m_community;
            t.nasMac = GetNasContext()->m_macText;
            t.nasFolderName = "backups";
            t.nasFolderDisk = "Disk1";
            t.lastBackTime = "10:00:00, 12/01/26";
            WriteFile(dir / c.task / c.task / "f", c.task);
            t.folders.push_back({c.task, "", "", (dir / c.task / c.task).string()});
            t.schedules.push_back(schedule::MakeSchedule("day", "", c.passMeanwhile ? now - 60 : now + 3600));
            tasks.push_back(t);
        }
        CTaskStore store;
        store.CreateTaskStore();
        QVERIFY(store.SaveTasks(tasks));
        fs::create_directories(dir / "Elsewhere");
        CFolderDialog::Chooser oldChooser = CFolderDialog::SetChooser(
            [&](CFolderDialog&) -> std::optional<std::string> { return (dir / "Elsewhere").string(); });
        int changeDeviceFolder = IDNO;
        MessageBoxRecorder boxes([&](const RecordedBox& b) {
            return b.text == "Do you want to change the NAS folder?" ? changeDeviceFolder : IDYES;
        });
        Host host;
        auto* page = new CBackupRestorePage;
        page->CreatePage(QRect(0, 0, 900, 600), &host);
        ListCtrl* list = page->GetListCtrl();
        auto find = [&](const std::string& name) {
            return *std::find_if(page->Tasks().begin(), page->Tasks().end(),
                                 [&](const BackupTaskInfo& t) { return t.taskName == name; });
        };

        for (const Case& c : cases) {
            changeDeviceFolder = c.deviceFolder.empty() ? IDNO : IDYES;
            std::string lastBackup = "10:00:00, 12/01/26";
            int64_t nextRun = find(c.task).schedules.front().nextRun;
            Dialog::SetModalHook([&](Dialog& shown) {
                if (&shown == page->Wizard1()) {
                    if (c.passMeanwhile) {
                        page->CheckSchedules();
                        QVERIFY(page->WaitRuns(30000));
                        QVERIFY(WaitFor([&] { return find(c.task).schedules.front().nextRun > now; }));
                        nextRun = find(c.task).schedules.front().nextRun;
                        lastBackup = store.ReadTaskValue(c.task, "Last_Back_Time");
                        QCOMPARE(find(c.task).lastBackTime, lastBackup);
                    }
                    if (c.otherLocalFolder) {
                        page->Wizard1()->FolderList()->SetSelectionMark(0);
                        page->Wizard1()->OnRemove();
                        page->Wizard1()->OnSelect();
                    }
                    static_cast<QPushButton*>(page->Wizard1()->GetDlgItem(1))->click();
                } else if (&shown == page->Wizard2()) {
                    ListCtrl* folders = page->Wizard2()->GetFolderList();
                    for (int r = 0; r < folders->GetItemCount(); ++r)
                        if (folders->GetItemText(r, 1) == c.deviceFolder)
                            folders->SetItemSelected(r, true);
                    page->Wizard2()->OnClickList();
                    shown.findChild<QPushButton*>("nextButton")->click();
                } else {
                    shown.EndDialog(IDCANCEL);
                }
            });
            list->ClearSelection();
            QVERIFY(testsupport::DoAccessibleAction(list, QString::fromStdString(c.task),
                                                    QAccessibleActionInterface::toggleAction()));
            QVERIFY(testsupport::DoAccessibleAction(page->GetTaskPanel(), "Edit Task",
                                                    QAccessibleActionInterface::pressAction()));
            // The link's press arrives through the event loop.
            QVERIFY2(
                WaitFor([&] { return Last(host).second.description == "Edit backup task ( " + c.task + " )."; }, 30000),
                c.task.c_str());
            Dialog::SetModalHook({});
            const BackupTaskInfo edited = find(c.task);
            const BackupTaskInfo stored = store.LoadTask(c.task, false);
            QCOMPARE(edited.nasFolderName, c.deviceFolder.empty() ? std::string("backups") : c.deviceFolder);
            const std::string expected = c.kept ? lastBackup : std::string();
            QVERIFY2(edited.lastBackTime == expected, c.task.c_str());
            QCOMPARE(stored.lastBackTime, expected);
            QCOMPARE(page->HasBackup(c.task), c.kept);
            QCOMPARE(edited.schedules.front().nextRun, nextRun);
            QCOMPARE(stored.schedules.front().nextRun, nextRun);
        }
        CFolderDialog::SetChooser(oldChooser);
        QVERIFY(page->WaitRuns(30000));
        delete page;
    }

    // A scheduled run whose device stops answering is recorded without
    // anyone answering a box, and holds up no other task's schedule; a
    // schedule too late to run has its row too.
    void unattendedFailuresWaitForNobody()
    {
        testsupport::TempDir dir;
        const auto nas = LoggedInDevice(dir);
        QVERIFY(nas->Started());
        JumpingClock clock;
        platform::ScopedClock scoped(clock);
        // Nobody is there: a box that waits for an answer waits two hours.
        MessageBoxRecorder boxes([&](const RecordedBox&) {
            clock.Jump(int64_t{2} * 3600 * 1000);
            return IDOK;
        });
        const std::time_t now = platform::WallNow();
        std::list<BackupTaskInfo> tasks;
        for (const char* name : {"Stalled", "Later", "Slept"}) {
            BackupTaskInfo t;
            t.taskName = name;
            t.nasUser = "admin";
            t.nasFolderSet = 1;
            t.nasIp = testsupport::EmulatedNas::kAddress;
            t.nasCommunity = GetNasContext()->m_community;
            t.nasFolderName = "backups";
            t.nasFolderDisk = "Disk1";
            WriteFile(dir / name / "f", name);
            t.folders.push_back({name, "", "", (dir / name).string()});
            // The second falls due while the first runs.
            const std::time_t due = tasks.empty()       ? now - 60
                                    : tasks.size() == 1 ? now + 60
                                                        : now - std::time_t{2} * 3600;
            t.schedules.push_back(schedule::MakeSchedule("day", "", due));
            tasks.push_back(t);
        }
        CTaskStore store;
        store.CreateTaskStore();
        store.SaveTasks(tasks);
        QVERIFY(nas->dev->Ok("rsync stall on"));

        Host host;
        auto* page = new CBackupRestorePage;
        page->CreatePage(QRect(0, 0, 900, 600), &host);
        const int64_t start = platform::TickMs();
        page->CheckSchedules();
        QVERIFY(WaitFor([&] { return !Last(host).second.description.empty(); }, 60000));
        // Recorded once the stall watchdog gives up, with room for a loaded
        // machine: far below the two hours a box that waited would cost.
        const int64_t recordedBy = 2 * CRsyncEngine::kStallMs;
        const int64_t recorded = platform::TickMs() - start;
        QVERIFY2(recorded < recordedBy, qPrintable(QString::number(recorded)));
        // The late schedule's row may arrive in the same turn of the loop.
        QCOMPARE(host.rows.front().second.description, std::string("Stalled : backup processing Error!!"));
        QVERIFY(ReadFile(host.rows.front().second.filePath).find("nothing moved") != std::string::npos);
        QVERIFY(nas->dev->Ok("rsync stall off"));

        QVERIFY(WaitFor([&] { return Last(host).second.description.rfind("Later", 0) == 0; }, 60000));
        QCOMPARE(Last(host).second.description, std::string("Later : backup processing Finish!!"));
        QVERIFY(platform::TickMs() - start < recordedBy + CBackupRestorePage::kScheduleCheckMs + 60000);
        QVERIFY(!store.ReadTaskValue("Later", "Last_Back_Time").empty());
        QCOMPARE(store.ReadTaskValue("Stalled", "Last_Back_Time"), std::string());
        // Told once, in a box that nobody waited for, naming the task.
        std::vector<std::string> told;
        for (const RecordedBox& b : boxes.Boxes())
            told.push_back((b.waited ? "waited " : "") + b.caption + " | " + b.text);
        QCOMPARE(told.size(), size_t(2));
        QVERIFY2(told[0].rfind("Stalled | Stalled: rsync error: nothing moved", 0) == 0, told[0].c_str());
        QCOMPARE(told[1], std::string("Slept | Slept: 2 h 0 min late, not run"));
        const auto slept = std::find_if(host.rows.begin(), host.rows.end(), [](const auto& row) {
            return row.second.description == "Slept : backup processing Error!! 2 h 0 min late, not run";
        });
        QVERIFY(slept != host.rows.end());
        QCOMPARE(slept->first, int(LOG_SCHEDULE));
        QVERIFY(ReadFile(slept->second.filePath).find("2 h 0 min late, not run") != std::string::npos);
        QVERIFY(page->WaitRuns(30000));
        delete page;
    }

    // A run that cannot reach the device's rsync service is told in one box
    // with the reason, and its window comes to the front showing the
    // failure; a task whose device moved to a new address (same MAC)
    // follows it there.
    void failedRunsAndMovedDevices()
    {
        testsupport::TempDir dir;
        const auto nas = LoggedInDevice(dir);
        QVERIFY(nas->Started());
        WriteFile(dir / "disk1" / "backups" / "Album" / "a.txt", "alpha");
        WriteFile(dir / "Mine" / "Photos" / "p.txt", "photo");
        std::list<BackupTaskInfo> tasks;
        for (const char* name : {"Mine", "Moved"}) {
            BackupTaskInfo t;
            t.taskName = name;
            t.nasUser = "admin";
            t.nasFolderSet = 1;
            t.nasIp = name == std::string("Mine") ? testsupport::EmulatedNas::kAddress : "198.18.1.77";
            t.nasMac = QString::fromStdString(CopyLogin().mac).toLower().toStdString();
            t.nasCommunity = GetNasContext()->m_community;
            t.nasFolderName = "backups";
            t.nasFolderDisk = "Disk1";
            t.lastBackTime = "earlier";
            const std::string folder = t.taskName == "Mine" ? "Photos" : "Album";
            t.folders.push_back({folder, "", "", (dir / name / folder).string()});
            tasks.push_back(t);
        }
        CTaskStore store;
        store.CreateTaskStore();
        QVERIFY(store.SaveTasks(tasks));

        MessageBoxRecorder boxes([](const RecordedBox& b) {
            return (b.style & platform::MB_TYPEMASK) == platform::MB_YESNO ? IDYES : IDOK;
        });
        const std::string chosen = (dir / "target").string();
        fs::create_directories(chosen);
        CFolderDialog::Chooser oldChooser =
            CFolderDialog::SetChooser([&](CFolderDialog&) -> std::optional<std::string> { return chosen; });
        Host host;
        host.show();
        auto* page = new CBackupRestorePage;
        page->CreatePage(QRect(0, 0, 900, 600), &host);
        CBackupProgress* progress = page->ProgressWindow();
        ListCtrl* list = page->GetListCtrl();
        using P = CBackupRestorePage;
        const auto run = [&](const std::string& name, unsigned command) {
            for (int row = 0; row < list->GetItemCount(); ++row)
                if (list->GetItemText(row, 0) == name)
                    list->SetSelectionMark(row);
            boxes.Clear();
            host.activateWindow();
            QTRY_VERIFY(!progress->isActiveWindow());
            page->OnPageCommand(command);
            QVERIFY(page->WaitRuns(30000));
        };

        QVERIFY(nas->dev->Ok("rsync port closed"));
        const std::string refused =
            "\nSocket Connect Fail!!\nSocket Error code: 10061 ;\nThe attempt to connect was forcefully rejected.";
        const std::vector<std::tuple<unsigned, std::string, std::string>> failing{
            {P::ID_BACKUP_NOW, "Backup",
             "BackUP Task : Mine ,Backup server not available, please check NAS link or "
             "reboot the NAS!!"},
            {P::ID_RESTORE_ORIGINAL, "Restore",
             "Restore Task : Mine ,Restore server not available, please check NAS "
             "link or reboot the NAS!!"},
            {P::ID_RESTORE_OTHER, "Restore",
             "Restore Task : Mine ,Restore server not available, please check NAS "
             "link or reboot the NAS!!"},
        };
        for (const auto& [command, kind, box] : failing) {
            run("Mine", command);
            QStringList told;
            for (const RecordedBox& b : boxes.Boxes())
                if ((b.style & platform::MB_TYPEMASK) != platform::MB_YESNO)
                    told << QString::fromStdString(b.text);
            QCOMPARE(told.join(" | "), QString::fromStdString(box + refused));
            QCOMPARE(Last(host).second.description,
                     "Mine : " + QString::fromStdString(kind).toLower().toStdString() + " processing Error!!");
            QVERIFY(progress->isVisible());
            QCOMPARE(progress->StatusText(), kind + " processing Error!!");
            QTRY_VERIFY(progress->isActiveWindow());
        }
        QVERIFY(nas->dev->Ok("rsync port open"));

        // The moved task's device answers at its new address: the restore
        // goes there, and the task keeps that address.
        run("Moved", P::ID_RESTORE_ORIGINAL);
        QCOMPARE(Last(host).second.description, std::string("Moved : restore processing Finish!!"));
        QCOMPARE(ReadFile(dir / "Moved" / "Album" / "a.txt"), std::string("alpha"));
        QCOMPARE(store.ReadTaskValue("Moved", "NAS_IP"), std::string(testsupport::EmulatedNas::kAddress));
        QCOMPARE(page->Tasks().back().nasIp, std::string(testsupport::EmulatedNas::kAddress));
        CFolderDialog::SetChooser(oldChooser);
        delete page;
    }

    void failedStoreWritesAreShown()
    {
        testsupport::TempDir dir;
        fs::create_directories(dir / "program");
        GetNasContext()->SetIniPath((dir / "program" / "quom.ini").string());
        GetNasContext()->m_user = "admin";
        BackupTaskInfo mine;
        mine.taskName = "Mine";
        mine.nasUser = "admin";
        mine.schedules.push_back(schedule::MakeSchedule("day", "", platform::WallNow() + 3600));
        CTaskStore store;
        store.CreateTaskStore();
        QVERIFY(store.SaveTasks({mine}));

        MessageBoxRecorder boxes;
        Host host;
        auto* page = new CBackupRestorePage;
        page->CreatePage(QRect(0, 0, 900, 600), &host);
        QCOMPARE(page->GetListCtrl()->GetItemCount(), 1);
        // The file can no longer be replaced.
        fs::remove(store.File());
        fs::create_directory(store.File());
        // A schedule the file still holds stays the task's, and no row says
        // it was removed: it would run again at the next start.
        for (const unsigned command : {CBackupRestorePage::ID_REMOVE_SCHEDULE, CBackupRestorePage::ID_DELETE_TASK}) {
            boxes.Clear();
            page->GetListCtrl()->SetSelectionMark(0);
            page->OnPageCommand(command);
            QCOMPARE(boxes.LastText(),
                     "Save backup task setting fail!!\nPlease check that " + store.File() + " can be written.");
            if (command == CBackupRestorePage::ID_REMOVE_SCHEDULE)
                QCOMPARE(page->Tasks().front().schedules.size(), size_t(1));
        }
        QVERIFY(std::none_of(host.rows.begin(), host.rows.end(), [](const auto& row) {
            return row.second.description.rfind("Delete schedule setting", 0) == 0;
        }));
        delete page;
    }
};

QTEST_MAIN(TestBackupRestorePage)
#include "test_backup_restore_page.moc"
