// The whole program against the device emulator in a private network, driven
// the way a user drives it: the remembered login attaches at start-up, the
// share-folder page lists the device's folders, User Management from the menu
// adds a user and a group, the share-folder page's "Add Folder" link makes a
// Private folder for them, the backup/restore page's wizard makes a task that
// backs a local tree up to that folder, it is restored elsewhere, and each
// outcome is a row of the System Log page.
// Only the window's controls are used: menu commands, task-panel links,
// dialog buttons; message boxes and modal runs are answered by hooks.
#include <QAbstractButton>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <filesystem>

#include "Clock.h"
#include "CommandBars.h"
#include "AddTaskWS_P2.h"
#include "AddTaskWZ_P0.h"
#include "BackupRestorePage.h"
#include "BarCommands.h"
#include "BackupTask.h"
#include "DiscoverNasDlg.h"
#include "FolderDlg.h"
#include "GuiTestSupport.h"
#include "EmulatedNas.h"
#include "GroupManagement.h"
#include "ListBox.h"
#include "ListCtrl.h"
#include "ListFolderView.h"
#include "MessageBoxes.h"
#include "NasMib.h"
#include "PageView.h"
#include "PopDlg.h"
#include "Profile.h"
#include "QuomDlg.h"
#include "ReportControl.h"
#include "ShareManagement.h"
#include "SnmpHelpers.h"
#include "TaskPanel.h"
#include "TaskWizardpage1.h"
#include "TestSupport.h"
#include "UserManagement.h"
#include "stdafx.h"

TOLVANE_PRIVATE_NETWORK();

using namespace platform::gui;
namespace fs = std::filesystem;

namespace {

const char kMacText[] = "02:00:00:00:16:01";

// The user's way to a command: the action of the menu bar that carries it.
bool Choose(CQuomDlg& dlg, unsigned id)
{
    return TriggerMenuCommand(dlg.GetCommandBars() ? dlg.GetCommandBars()->GetMenuBar() : nullptr, id);
}

// A click on a link of the page's task panel; false when it is not shown.
bool ClickLink(CPageView* page, unsigned id)
{
    TaskPanel* panel = page->GetTaskPanel();
    const QRect r = panel->ItemRect(id);
    if (r.isEmpty())
        return false;
    // On the caption's first letters, where a link is hot.
    const QPoint at(r.left() + 4, r.center().y());
    QTest::mouseMove(panel, at);
    QTest::mouseClick(panel, Qt::LeftButton, Qt::NoModifier, at);
    return true;
}

template <class D> void Click(D& d, int id)
{
    auto* b = qobject_cast<QAbstractButton*>(d.GetDlgItem(id));
    QVERIFY2(b != nullptr && b->isEnabled(), qPrintable(QString::number(id)));
    b->click();
}

template <class D> void Type(D& d, int id, const QString& text)
{
    auto* e = qobject_cast<QLineEdit*>(d.GetDlgItem(id));
    QVERIFY(e != nullptr);
    e->setText(text);
}

// A click on a row of a list, as the mouse does it.
void ClickRow(ListCtrl* list, int row)
{
    QAbstractItemView* view = list->CurrentView();
    const QRect r = view->visualRect(list->ModelIndex(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
}

int RowOf(ListCtrl* list, int column, const std::string& text)
{
    for (int r = 0; r < list->GetItemCount(); ++r)
        if (list->GetItemText(r, column) == text)
            return r;
    return -1;
}

template <class D> void Pick(D& d, int id, const QString& text)
{
    auto* box = qobject_cast<platform::gui::ListBox*>(d.GetDlgItem(id));
    QVERIFY(box != nullptr);
    const int row = box->FindStringExact(text);
    QVERIFY2(row >= 0, qPrintable(text));
    box->SetCurSel(row);
}

std::vector<std::string> Column(ListCtrl* list, int column)
{
    std::vector<std::string> texts;
    texts.reserve(static_cast<size_t>(list->GetItemCount()));
    for (int r = 0; r < list->GetItemCount(); ++r)
        texts.push_back(list->GetItemText(r, column));
    return texts;
}

bool Has(const std::vector<std::string>& texts, const std::string& text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

} // namespace

class TestWholeProgram : public QObject {
    Q_OBJECT
    testsupport::TempDir m_dir;
    // Device waits and time-outs run 8 times faster.
    platform::FastClock m_clock{8};
    std::unique_ptr<platform::ScopedClock> m_scopedClock;

    // The dialogs a user meets on the way; anything else is cancelled.
    void OnDialog(Dialog& d)
    {
        if (auto* users = dynamic_cast<CUserManagement*>(&d)) {
            Click(*users, CUserManagement::IDC_ADD);
            Type(*users, CUserManagement::IDC_NAME, "carol");
            Type(*users, CUserManagement::IDC_PASSWORD, "c4rol");
            Type(*users, CUserManagement::IDC_CONFIRM, "c4rol");
            Click(*users, CUserManagement::IDC_SAVE);
            Click(*users, CUserManagement::IDC_GROUP_TAB);
        } else if (auto* groups = dynamic_cast<CGroupManagement*>(&d)) {
            Click(*groups, CGroupManagement::IDC_ADD);
            Type(*groups, CGroupManagement::IDC_NAME, "crew");
            Pick(*groups, CGroupManagement::IDC_ALL_USERS, "carol");
            Click(*groups, CGroupManagement::IDC_ADD_MEMBER);
            Click(*groups, CGroupManagement::IDC_SAVE);
            Click(*groups, CGroupManagement::IDC_CLOSE);
        } else if (auto* folder = dynamic_cast<CShareManagement*>(&d)) {
            CShareManagement::Parts c = folder->Controls();
            c.folderName->setText("carols");
            c.privateFolder->click();
            for (const char* name : {"carol", "@crew"}) {
                QTreeWidgetItem* item = c.userList->findItems(name, Qt::MatchExactly).value(0);
                QVERIFY2(item != nullptr, name);
                item->setSelected(true);
            }
            c.addUser->click();
            c.allowList->GetRecord(0)->GetItem(1)->SetChecked(true); // carol may write
            c.createButton->click();
        } else if (auto* local = dynamic_cast<CTaskWizardpage1*>(&d)) {
            Click(*local, CTaskWizardpage1::IDC_SELECT);
            Click(*local, 1); // Next
        } else if (auto* nas = dynamic_cast<CAddTaskWS_P2*>(&d)) {
            ListCtrl* folders = nas->GetFolderList();
            const int row = RowOf(folders, 1, "carols");
            QVERIFY(row >= 0);
            ClickRow(folders, row);
            d.findChild<QPushButton*>("nextButton")->click();
        } else if (dynamic_cast<CAddTaskWZ_P0*>(&d) != nullptr) {
            d.findChild<QLineEdit*>("nameEdit")->setText("Papers");
            d.findChild<QPushButton*>("applyButton")->click();
        } else {
            d.EndDialog(IDCANCEL);
        }
        if (d.IsInModalRun() && d.isVisible())
            d.EndDialog(IDCANCEL);
    }

private slots:
    void initTestCase()
    {
        GetNasContext()->SetIniPath((m_dir / "program" / "quom.ini").string());
        fs::create_directories(m_dir / "program");
        m_scopedClock = std::make_unique<platform::ScopedClock>(m_clock);
    }
    void cleanupTestCase()
    {
        Dialog::SetModalHook({});
        m_scopedClock.reset();
    }

    void aUsersDayWithTheProgram()
    {
        testsupport::EmulatedNas nas(std::string("name = NAS-SIXTEEN\nmac = ") + kMacText +
                                     "\ndisk1 = 2\ndisk2 = 2\ncommunity = c0mm\nuser = admin:secret:15\n"
                                     "folder = 1:share:Disk1:1\nfolder = 2:media:Disk1:1\nrsync = 1\n" +
                                     testsupport::DiskRoots(m_dir.path()));
        QVERIFY(nas.Started());
        RememberLogin(kMacText, "admin", "secret");

        // The local tree to back up.
        const fs::path papers = m_dir / "home" / "papers";
        fs::create_directories(papers / "tax");
        testsupport::WriteFile(papers / "letter.txt", "dear carol");
        testsupport::WriteFile(papers / "tax" / "2026.bin", std::string(70000, 't'));
        std::string chosen = papers.string();
        CFolderDialog::Chooser oldChooser =
            CFolderDialog::SetChooser([&](CFolderDialog&) -> std::optional<std::string> { return chosen; });
        fs::create_directories(m_dir / "elsewhere");

        // Every box is recorded: Yes to running now, No to setting a schedule.
        std::vector<std::string> boxTexts;
        MessageBoxRecorder boxes([&](const RecordedBox& box) {
            boxTexts.push_back(box.text);
            return box.text.find("schedule") != std::string::npos ? IDNO : IDYES;
        });
        CQuomDlg dlg;
        bool startUp = true;
        Dialog::SetModalHook([&](Dialog& d) {
            if (dynamic_cast<CPopDlg*>(&d) != nullptr)
                return;
            // The remembered login attaches by itself.
            if (startUp && dynamic_cast<CDiscoverNasDlg*>(&d) != nullptr)
                return;
            OnDialog(d);
        });

        bool done = false;
        auto script = [&] {
            startUp = false;
            QCOMPARE(dlg.windowTitle(), QString("NAS-SIXTEEN-198.18.1.10 User:admin"));
            // The share-folder page shows first, with the device's folders.
            CPageView* share = dlg.GetPage(ID_VIEW_SHARE_FOLDER);
            QVERIFY(share != nullptr && share->isVisible());
            QTRY_VERIFY_WITH_TIMEOUT(Has(Column(share->GetListCtrl(), 0), "media"), 30000);

            // User Management: a user, then a group with that user.
            QVERIFY(Choose(dlg, ID_USER_MANAGEMENT));
            QVERIFY2(boxes.Count() == 0, boxes.LastText().c_str());

            // A Private folder for them from the page's task panel.
            QVERIFY(ClickLink(share, IDS_ADD_FOLDER));
            QVERIFY2(boxes.Count() == 0, boxes.LastText().c_str());
            QTRY_VERIFY_WITH_TIMEOUT(Has(Column(share->GetListCtrl(), 0), "carols"), 30000);

            // A backup task for the local tree through the wizard, into it.
            QVERIFY(Choose(dlg, ID_VIEW_BACKUP_RESTORE));
            CPageView* backup = dlg.GetPage(ID_VIEW_BACKUP_RESTORE);
            QVERIFY(backup->isVisible() && !share->isVisible());
            QVERIFY(ClickLink(backup, CBackupRestorePage::IDS_ADD_TASK));
            ListCtrl* tasks = backup->GetListCtrl();
            QCOMPARE(Column(tasks, 0), std::vector<std::string>{"Papers"});

            // Backed up, then restored to another folder.
            ClickRow(tasks, 0);
            QVERIFY(ClickLink(backup, CBackupRestorePage::IDS_BACKUP_NOW));
            ListCtrl* log = dlg.GetPage(ID_VIEW_SYSTEM_LOG)->GetListCtrl();
            QTRY_VERIFY_WITH_TIMEOUT(Has(Column(log, 3), "Papers : backup processing Finish!!"), 60000);
            chosen = (m_dir / "elsewhere").string();
            ClickRow(tasks, 0);
            QVERIFY(ClickLink(backup, CBackupRestorePage::IDS_RESTORE_OTHER));
            QTRY_VERIFY_WITH_TIMEOUT(Has(Column(log, 3), "Papers : restore processing Finish!!"), 60000);

            // The System Log page is a menu command away, with each outcome.
            QVERIFY(Choose(dlg, ID_VIEW_SYSTEM_LOG));
            QVERIFY(dlg.GetPage(ID_VIEW_SYSTEM_LOG)->isVisible() && !backup->isVisible());
            std::vector<std::string> rows;
            rows.reserve(static_cast<size_t>(log->GetItemCount()));
            for (int r = 0; r < log->GetItemCount(); ++r)
                rows.push_back(log->GetItemText(r, 0) + " " + log->GetItemText(r, 2) + " " + log->GetItemText(r, 3));
            QCOMPARE(rows, (std::vector<std::string>{"1 Backup Add backup task ( Papers ).",
                                                     "2 Backup Papers : backup processing Finish!!",
                                                     "3 Restore Papers : restore processing Finish!!"}));
            QVERIFY(fs::exists(log->GetItemText(1, 4)));
            done = true;
        };
        QCOMPARE(RunWhenUp(dlg, script, ID_APP_EXIT), int(IDCANCEL));
        Dialog::SetModalHook({});
        CFolderDialog::SetChooser(oldChooser);
        QVERIFY(done);
        QCOMPARE(boxTexts, (std::vector<std::string>{"Do you want to set the task schedule ?",
                                                     "Do you want to Backup Task : Papers now?",
                                                     "Please select a folder to store the data."}));
        // The copy on the device's disk, in the new folder, and the one
        // restored elsewhere.
        QCOMPARE(testsupport::ReadFile(m_dir / "disk1" / "carols" / "papers" / "letter.txt"),
                 std::string("dear carol"));
        QCOMPARE(testsupport::ReadFile(m_dir / "elsewhere" / "papers" / "letter.txt"), std::string("dear carol"));
        QCOMPARE(testsupport::ReadFile(m_dir / "elsewhere" / "papers" / "tax" / "2026.bin"), std::string(70000, 't'));

        // What the device holds now.
        auto cell = [&](const char* column, const std::string& row) {
            const std::string reply = nas.dev->Command("mib get " + NasCell(column, row));
            return reply.rfind("OK ", 0) == 0 ? reply.substr(5) : std::string("<none>");
        };
        QCOMPARE(cell(nasmib::kUserName, "2"), std::string("carol"));
        QCOMPARE(QString::fromStdString(cell(nasmib::kGroupName, "2") + ":" + cell(nasmib::kGroupUserList, "2")),
                 QString("crew:carol"));
        QCOMPARE(cell(nasmib::kFolderShareName, "3"), std::string("carols"));
        QCOMPARE(cell(nasmib::kFolderWriteList, "3"), std::string("carol,"));
        QCOMPARE(cell(nasmib::kFolderReadList, "3"), std::string("@crew,"));
    }
};

QTEST_MAIN(TestWholeProgram)
#include "test_whole_program.moc"
