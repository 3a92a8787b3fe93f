// The task wizard's local folders page, the schedule page, the schedule
// manage dialog and the progress window: what they put in the task and the
// store, with the dialogs run modally and the boxes answered by the test;
// a real backup shown by the progress window; every control named.
#include <QComboBox>
#include <QPushButton>
#include <QtTest>
#include <filesystem>

#include "GuiTestSupport.h"
#include "AccessibleWalk.h"
#include "AddTaskWZ_p3.h"
#include "BackupProgress.h"
#include "Clock.h"
#include "Dialog.h"
#include "EmulatedNas.h"
#include "FolderDlg.h"
#include "ListCtrl.h"
#include "MessageBoxes.h"
#include "Schedue_manage_page.h"
#include "Schedule.h"
#include "TaskStore.h"
#include "TaskWizardpage1.h"
#include "stdafx.h"

TOLVANE_PRIVATE_NETWORK();

using namespace platform::gui;
namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {} // namespace

class TestBackupPages : public QObject {
    Q_OBJECT

    testsupport::TempDir m_dir;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    int m_answer = IDYES;

private slots:
    void init()
    {
        GetNasContext()->SetIniPath((m_dir / "quom.ini").string());
        m_answer = IDYES;
        m_boxes = std::make_unique<MessageBoxRecorder>([this](const RecordedBox&) { return m_answer; });
    }
    void cleanup() { m_boxes.reset(); }

    void localFoldersPage()
    {
        fs::create_directories(m_dir / "a" / "Photos");
        fs::create_directories(m_dir / "b" / "Photos");
        fs::create_directories(m_dir / "Music");
        fs::create_directories(m_dir / "new\nline");
        WriteFile(m_dir / "a" / "Photos" / "p", std::string(2048, 'p'));
        WriteFile(m_dir / "Music" / "m", std::string(100, 'm'));
        std::vector<std::string> offers;
        CFolderDialog::Chooser old = CFolderDialog::SetChooser([&](CFolderDialog&) -> std::optional<std::string> {
            std::string next = offers.front();
            offers.erase(offers.begin());
            return next;
        });

        // An edited task: the store is not written at "Next".
        CTaskStore store;
        BackupTaskInfo task;
        task.taskName = "T";
        task.lastBackTime = "earlier";
        task.folders.push_back({"Music", "", "1 KB", (m_dir / "Music").string()});
        store.SaveTasks({task});
        const std::string oldKey = MakeMD5Key((m_dir / "Music").string());
        QCOMPARE(store.ReadTaskValue("T", oldKey + "_Folder_path"), (m_dir / "Music").string());

        CTaskWizardpage1 page;
        page.SetTask(&task);
        bool nextWhenEmpty = true;
        int rows = 0;
        int64_t total = 0;
        int code = RunScripted(page, [&] {
            ListCtrl* list = page.FolderList();
            QCOMPARE(list->GetItemText(0, 2), std::string("1 KB")); // the stored size text
            QCOMPARE(page.Total(), 100);                            // measured afresh
            list->SetSelectionMark(0);
            page.OnRemove();
            nextWhenEmpty = page.GetDlgItem(1)->isEnabled();
            page.OnRemove(); // nothing selected
            offers = {(m_dir / "a" / "Photos").string(), (m_dir / "b" / "Photos").string(), "/",
                      (m_dir / "new\nline").string(), (m_dir / "Music").string()};
            for (int i = 0; i < 5; ++i)
                page.OnSelect();
            rows = list->GetItemCount();
            total = page.Total();
            static_cast<QPushButton*>(page.GetDlgItem(1))->click();
        });
        QCOMPARE(code, CTaskWizardpage1::kNext);
        QVERIFY(!nextWhenEmpty);
        QCOMPARE(rows, 2);
        QCOMPARE(total, int64_t(2148));
        QCOMPARE(task.folders.size(), size_t(2));
        QCOMPARE(task.folders.front().sizeText, std::string("2 KB"));
        QCOMPARE(task.taskBackSize, std::string("2 KB"));
        // The page leaves the last backup time to the end of the edit.
        QCOMPARE(task.lastBackTime, std::string("earlier"));
        QCOMPARE(store.ReadTaskValue("T", oldKey + "_Folder_path"), (m_dir / "Music").string());
        QCOMPARE(store.ReadTaskValue("T", "Total_local_Folder_name"), oldKey + ":");
        std::vector<std::string> texts;
        for (const RecordedBox& b : m_boxes->Boxes())
            texts.push_back(b.text);
        QCOMPARE(texts.size(), size_t(4));
        QCOMPARE(texts[0], std::string("Please select a folder to delete!"));
        QVERIFY(texts[1].find("Folders of one task need different names!!") != std::string::npos);
        QCOMPARE(texts[2], std::string("Can't choice the root folder!!"));
        QCOMPARE(texts[3], std::string("Can't choice a folder whose path holds a line break!!"));

        // A stored folder shown under another name still holds its device
        // name; a name that differs in case only is another folder there.
        fs::create_directories(m_dir / "b" / "photos");
        task.folders.front().folderName = "Pictures";
        m_boxes->Clear();
        code = RunScripted(page, [&] {
            offers = {(m_dir / "b" / "Photos").string(), (m_dir / "b" / "photos").string()};
            page.OnSelect();
            page.OnSelect();
            rows = page.FolderList()->GetItemCount();
            static_cast<QPushButton*>(page.GetDlgItem(2))->click();
        });
        QCOMPARE(rows, 3);
        QCOMPARE(m_boxes->Count(), size_t(1));
        QCOMPARE(m_boxes->LastText(),
                 std::string(
                     "A folder named \"Photos\" is in the list already.\nFolders of one task need different names!!"));

        // Nor may a folder go where one of that name of another stored task
        // goes on the device: a stored clash stops Next, a new one is not added.
        BackupTaskInfo other;
        other.taskName = "Other";
        other.folders = {{"Docs", "", "", (m_dir / "x" / "Docs").string()},
                         {"Music", "", "", (m_dir / "x" / "Music").string()}};
        for (BackupTaskInfo* t : {&other, &task}) {
            t->nasFolderSet = 1;
            t->nasIp = "198.18.1.10";
            t->nasFolderName = "backups";
            t->nasFolderDisk = "Disk1";
        }
        task.folders = {{"Docs", "", "", (m_dir / "Docs").string()}};
        store.SaveTasks({other, task});
        fs::create_directories(m_dir / "x" / "Music");
        m_boxes->Clear();
        code = RunScripted(page, [&] {
            static_cast<QPushButton*>(page.GetDlgItem(1))->click();
            page.FolderList()->SetSelectionMark(0);
            page.OnRemove();
            offers = {(m_dir / "x" / "Music").string(), (m_dir / "b" / "Photos").string()};
            page.OnSelect();
            page.OnSelect();
            static_cast<QPushButton*>(page.GetDlgItem(1))->click();
        });
        CFolderDialog::SetChooser(old);
        QCOMPARE(code, CTaskWizardpage1::kNext);
        QCOMPARE(task.folders.size(), size_t(1));
        QCOMPARE(task.folders.front().folderName, std::string("Photos"));
        texts.clear();
        for (const RecordedBox& b : m_boxes->Boxes())
            texts.push_back(b.text);
        const auto clash = [](const std::string& name) {
            return "A folder named \"" + name +
                   "\" of task \"Other\" is backed up into backups on Disk1 already.\nTasks that back up into one NAS "
                   "folder need different folder names!!";
        };
        QCOMPARE(texts, (std::vector<std::string>{clash("Docs"), clash("Music")}));
        QVERIFY(CTaskWizardpage1::IsNetworkFolder("//server/share"));
        QVERIFY(!CTaskWizardpage1::IsNetworkFolder(m_dir.path().string()));
        QCOMPARE(testsupport::UnnamedWidgets(&page), QStringList());
    }

    // Folders with paths up to the system's limit become rows; a longer one
    // is refused with a box that says why.
    void localFoldersOfLongPaths()
    {
        struct Case {
            size_t length;
            bool taken;
        };
        const std::vector<Case> cases = {{260, true}, {PATH_MAX - 1, true}, {PATH_MAX, false}, {PATH_MAX + 500, false}};
        std::string offer;
        CFolderDialog::Chooser old =
            CFolderDialog::SetChooser([&](CFolderDialog&) -> std::optional<std::string> { return offer; });
        BackupTaskInfo task;
        task.taskName = "Long";
        CTaskWizardpage1 page;
        page.SetTask(&task);
        for (const Case& c : cases) {
            const fs::path base = m_dir / ("long" + std::to_string(c.length));
            if (c.taken) {
                offer = testsupport::MakeLongFolder(base, c.length).string();
            } else {
                // Made as far as the system lets a path go; the rest is named only.
                offer = testsupport::MakeLongFolder(base, PATH_MAX - 1).string();
                offer += "/" + std::string(c.length - offer.size() - 1, 'x');
            }
            QCOMPARE(offer.size(), c.length);
            m_boxes->Clear();
            int rows = -1;
            RunScripted(page, [&] {
                page.OnSelect();
                rows = page.FolderList()->GetItemCount();
                page.EndDialog(IDCANCEL);
            });
            QCOMPARE(rows, c.taken ? 1 : 0);
            const std::vector<std::string> expected =
                c.taken ? std::vector<std::string>{}
                        : std::vector<std::string>{"Can't choice this folder: its path is " + std::to_string(c.length) +
                                                   " bytes long, and the system takes paths of at most " +
                                                   std::to_string(PATH_MAX - 1) + " bytes!!"};
            QCOMPARE(m_boxes->Texts(), expected);
        }
        CFolderDialog::SetChooser(old);
    }

    // A folder chosen from the keyboard: the focus is back on "Select", and
    // Enter answers "Next", which stays the default button.
    void localFoldersPageKeepsNextTheDefault()
    {
        fs::create_directories(m_dir / "k" / "Keys");
        CFolderDialog::Chooser old = CFolderDialog::SetChooser(
            [this](CFolderDialog&) -> std::optional<std::string> { return (m_dir / "k" / "Keys").string(); });
        BackupTaskInfo task;
        task.taskName = "K";
        CTaskWizardpage1 page;
        page.SetTask(&task);
        bool focusBack = false;
        int rows = 0;
        const int code = RunScripted(page, [&] {
            page.activateWindow();
            (void)QTest::qWaitForWindowActive(&page);
            QWidget* select = page.GetDlgItem(CTaskWizardpage1::IDC_SELECT);
            select->setFocus();
            QTest::keyClick(select, Qt::Key_Space);
            rows = page.FolderList()->GetItemCount();
            focusBack = QApplication::focusWidget() == select;
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        });
        CFolderDialog::SetChooser(old);
        QCOMPARE(rows, 1);
        QVERIFY(focusBack);
        QCOMPARE(code, CTaskWizardpage1::kNext);
        QCOMPARE(m_boxes->Count(), size_t(0));
    }

    void schedulePage()
    {
        platform::ScopedTimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
        platform::ManualClock clock(schedule::MakeTime(2025, 1, 31, 9, 0, 0));
        platform::ScopedClock scoped(clock);
        CTaskStore store;
        BackupTaskInfo task;
        task.taskName = "S";
        task.folders.push_back({"x", "", "", "/x"});
        task.schedules.push_back(schedule::MakeSchedule("day", "", schedule::MakeTime(2025, 1, 1, 1, 0, 0)));
        store.SaveTasks({task});
        const std::string oldKey = task.schedules.front().key;

        CAddTaskWZ_p3 dlg;
        dlg.SetTask(&task);
        // Monthly on the 31st at 08:00, chosen after that time on 31 January: 31 March.
        int code = RunScripted(dlg, [&] {
            QVERIFY(!dlg.GetDlgItem(CAddTaskWZ_p3::IDC_DAY_COMBO)->isEnabled());
            static_cast<QAbstractButton*>(dlg.GetDlgItem(CAddTaskWZ_p3::IDC_MONTHLY))->click();
            auto* combo = static_cast<QComboBox*>(dlg.GetDlgItem(CAddTaskWZ_p3::IDC_DAY_COMBO));
            QCOMPARE(combo->count(), 31);
            combo->setCurrentIndex(30);
            EXPECT_NOTHING_CUT(&dlg);
            dlg.SetExecuteTime(8, 0, 0);
            static_cast<QAbstractButton*>(dlg.GetDlgItem(1))->click();
        });
        QCOMPARE(code, int(IDOK));
        QCOMPARE(m_boxes->LastText().rfind("The Task : S will work at ", 0), size_t(0));
        QVERIFY(m_boxes->LastText().find(" on every 31 th") != std::string::npos);
        QCOMPARE(task.schedules.size(), size_t(1));
        QCOMPARE(task.schedules.front().setType + task.schedules.front().setDate, std::string("month31"));
        QCOMPARE(schedule::FormatTime(task.schedules.front().nextRun, "%Y-%m-%d %H:%M:%S"),
                 std::string("2025-03-31 08:00:00"));
        // The store is the page's to write: the old schedule is there until
        // the new one is saved.
        QCOMPARE(store.ReadTaskValue("S", "Total_schedule_name"), oldKey + ":");
        QVERIFY(store.SaveTasks({task}));
        QCOMPARE(store.ReadTaskValue("S", oldKey + "_set_type"), std::string(CTaskStore::kReadDefault));
        QCOMPARE(store.ReadTaskValue("S", "Total_schedule_name"), task.schedules.front().key + ":");

        // One time, answered No: the schedule stays.
        m_answer = IDNO;
        const BackupScheduleInfo before = task.schedules.front();
        code = RunScripted(dlg, [&] {
            static_cast<QAbstractButton*>(dlg.GetDlgItem(CAddTaskWZ_p3::IDC_ONE_TIME))->click();
            QVERIFY(dlg.GetDlgItem(CAddTaskWZ_p3::IDC_ONE_TIME_DATE)->isVisibleTo(&dlg));
            QVERIFY(!dlg.GetDlgItem(CAddTaskWZ_p3::IDC_DAY_COMBO)->isVisibleTo(&dlg));
            dlg.SetOneTime(2025, 2, 3, 4, 5, 6);
            EXPECT_NOTHING_CUT(&dlg);
            static_cast<QAbstractButton*>(dlg.GetDlgItem(1))->click();
        });
        QCOMPARE(code, int(IDCANCEL));
        QCOMPARE(m_boxes->LastText().rfind("The Task : S will work on Monday, February 03, 2025 at ", 0), size_t(0));
        QCOMPARE(task.schedules.front().key, before.key);

        // A task without a name gets no schedule.
        BackupTaskInfo unnamed;
        dlg.SetTask(&unnamed);
        const size_t boxes = m_boxes->Count();
        RunScripted(dlg, [&] { static_cast<QAbstractButton*>(dlg.GetDlgItem(1))->click(); });
        QVERIFY(unnamed.schedules.empty());
        QCOMPARE(m_boxes->Count(), boxes);
        QCOMPARE(testsupport::UnnamedWidgets(&dlg), QStringList());
    }

    void scheduleManageDialog()
    {
        CSchedue_manage_page dlg;
        dlg.SetSelectionHandling(0);
        int comboWeekly = 0, comboMonthly = 0;
        bool comboEnabledDaily = true;
        int code = RunScripted(dlg, [&] {
            static_cast<QAbstractButton*>(dlg.GetDlgItem(CSchedue_manage_page::IDC_WEEKLY))->click();
            comboWeekly = dlg.DayCombo()->count();
            static_cast<QAbstractButton*>(dlg.GetDlgItem(CSchedue_manage_page::IDC_MONTHLY))->click();
            comboMonthly = dlg.DayCombo()->count();
            EXPECT_NOTHING_CUT(&dlg);
            static_cast<QAbstractButton*>(dlg.GetDlgItem(CSchedue_manage_page::IDC_DAILY))->click();
            comboEnabledDaily = dlg.DayCombo()->isEnabled() || dlg.DayCombo()->count() != 0;
            static_cast<QAbstractButton*>(dlg.GetDlgItem(1))->click(); // APPLY stays open
            QVERIFY(dlg.IsInModalRun());
            static_cast<QAbstractButton*>(dlg.GetDlgItem(2))->click();
        });
        QCOMPARE(code, int(IDCANCEL));
        QCOMPARE(comboWeekly, 7);
        QCOMPARE(comboMonthly, 31);
        QVERIFY(!comboEnabledDaily);
        QCOMPARE(testsupport::UnnamedWidgets(&dlg), QStringList());
    }

    void progressWindowShowsARealBackup()
    {
        for (int i = 0; i < 50; ++i)
            WriteFile(m_dir / "src" / "deep" / ("f" + std::to_string(i)), std::string(1000, 'x'));
        testsupport::EmulatedNas nas("rsync = 1\nfolder = 1:backup:Disk1:1\n" + testsupport::DiskRoots(m_dir.path()));
        QVERIFY(nas.Started());
        BackupTaskInfo task;
        task.taskName = "P";
        task.nasFolderSet = 1;
        task.nasIp = testsupport::EmulatedNas::kAddress;
        task.nasFolderName = "backup";
        task.nasFolderDisk = "Disk1";
        task.folders.push_back({"src", "", "", (m_dir / "src").string()});

        CBackupProgress progress;
        QCOMPARE(testsupport::UnnamedWidgets(&progress), QStringList());
        std::optional<BackupRunResult> result;
        bool runningSeen = false;
        QVERIFY(progress.StartBackup(task, platform::WallNow(), [&](const BackupRunResult& r) { result = r; }));
        QVERIFY(progress.isVisible());
        EXPECT_NOTHING_CUT(&progress);
        // A long folder path in the status text wraps at its slashes, whole.
        progress.SetStatusText(
            "Backup processing : \n    copy file from /home/anna/Documents/Projects2026/"
            "QuarterlyReports/FinalVersions/Spreadsheets/January/Week1/Monday/Morning/Meetings/Minutes/Drafts/Old");
        EXPECT_NOTHING_CUT(&progress);
        QVERIFY(!progress.StartBackup(task, platform::WallNow(), {})); // one run at a time
        QVERIFY(QTest::qWaitFor(
            [&] {
                runningSeen = runningSeen || GetNasContext()->GetRunningTaskName() == "P";
                return result.has_value();
            },
            60000));
        QVERIFY(result->success);
        QVERIFY(runningSeen);
        QVERIFY(!GetNasContext()->IsTaskRunning());
        QCOMPARE(progress.GetPos(), 100);
        QCOMPARE(progress.StatusText(), std::string("Backup processing Finish!!"));
        QCOMPARE(ReadFile(m_dir / "disk1" / "backup" / "src" / "deep" / "f49"), std::string(1000, 'x'));
        QVERIFY(fs::exists(result->resultFile));
        static_cast<QAbstractButton*>(progress.GetDlgItem(1))->click();
        QVERIFY(!progress.isVisible());
    }
};

QTEST_MAIN(TestBackupPages)
#include "test_backup_pages.moc"
