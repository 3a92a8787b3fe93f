// The share-folder page and the folder dialog against the emulated device:
// the list and its tasks, add/edit/delete through the dialog, open, mount and
// unmount (connections kept in memory behind the connection layer), USB
// eject, and an accessibility walk over the page and the dialogs.
#include <QAccessible>
#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "AccessibleWalk.h"
#include "GuiTestSupport.h"
#include "BlockingCallCounter.h"
#include "CommandBars.h"
#include "ConnectionDialog.h"
#include "Dialog.h"
#include "EmulatedNas.h"
#include "ListCtrl.h"
#include "ListFolderView.h"
#include "MessageBoxes.h"
#include "MemoryMounts.h"
#include "NasMib.h"
#include "NetConnection.h"
#include "PopDlg.h"
#include "ReportControl.h"
#include "ShareManagement.h"
#include "ShellOpen.h"
#include "SnmpHelpers.h"
#include "TaskPanel.h"
#include "stdafx.h"
#include "TestClock.h"

// SNMP helpers' pauses between tries pass at once.
static std::unique_ptr<testsupport::InstantPauses> g_instantPauses;

TOLVANE_PRIVATE_NETWORK();

using namespace platform::gui;
using Names = std::vector<std::string>;

namespace {

Names RowTexts(const CListFolderView& page)
{
    Names t;
    for (const FolderRow& r : page.Rows())
        t.push_back(r.text);
    return t;
}

int RowOf(const CListFolderView& page, const std::string& text)
{
    for (size_t i = 0; i < page.Rows().size(); ++i)
        if (page.Rows()[i].text == text)
            return static_cast<int>(i);
    return -1;
}

// Every control a keyboard reaches has a name for assistive technology.
Names Unnamed(QWidget* root)
{
    Names missing;
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* w : widgets) {
        if (!w->isVisibleTo(root) || w->focusPolicy() == Qt::NoFocus)
            continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        if (!a || a->text(QAccessible::Name).trimmed().isEmpty())
            missing.push_back(std::string(w->metaObject()->className()) + " " + w->objectName().toStdString());
    }
    return missing;
}

} // namespace

class TestShareFolderPage : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::EmulatedNas> m_nas;
    std::unique_ptr<QWidget> m_host;
    CListFolderView* m_page = nullptr;
    std::shared_ptr<testsupport::MemoryMounts> m_mounts = std::make_shared<testsupport::MemoryMounts>();
    std::filesystem::path m_dir = std::filesystem::temp_directory_path() / ("tolvane-page-" + std::to_string(getpid()));
    std::vector<std::string> m_opened;

    std::string Cell(const char* column, const std::string& row)
    {
        std::string reply = m_nas->dev->Command("mib get " + NasCell(column, row));
        return reply.size() > 5 ? reply.substr(5) : std::string();
    }
    void Select(const std::string& text)
    {
        int row = RowOf(*m_page, text);
        QVERIFY2(row >= 0, text.c_str());
        m_page->GetListCtrl()->SetItemSelected(row, true);
        m_page->OnListItemSelected(row);
    }
    // Runs body when a dialog of type D shows.
    template <class D> static void OnDialog(std::function<void(D&)> body)
    {
        Dialog::SetModalHook([body](Dialog& shown) {
            if (auto* d = dynamic_cast<D*>(&shown))
                body(*d);
        });
    }

private slots:
    void initTestCase()
    {
        InstallMessageBoxHandler();
        g_instantPauses = std::make_unique<testsupport::InstantPauses>();
        m_nas = std::make_unique<testsupport::EmulatedNas>("community = c0mm\n"
                                                           "user = admin:secret:15\n"
                                                           "user = alice:wonder:1:staff,\n"
                                                           "group = 1:staff:alice,\n"
                                                           "folder = 1:share:Disk1:1\n"
                                                           "folder = 2:media:Disk1:2::alice,\n"
                                                           "folder = 3:ftponly:Disk1:1\n"
                                                           "mib = 1.3.6.1.2.1.21.5.1.12.3 i 0\n"
                                                           "mib = 1.3.6.1.2.1.21.5.1.13.3 i 1\n"
                                                           "usb = 1:7634:120\n"
                                                           "usb = 2:900:100\n");
        QVERIFY(m_nas->Started());
        m_nas->LogInContext("admin", "secret");
        GetNasContext()->m_userLevel = "15";
        std::filesystem::create_directories(m_dir);
        platform::SetDriveTablePath((m_dir / "drives.ini").string());
        platform::SetMountBackend(m_mounts);
        platform::SetShellOpenFunction([this](const std::string& target) {
            m_opened.push_back(target);
            return true;
        });
        m_host = std::make_unique<QWidget>();
        m_host->resize(900, 600);
        m_page = new CListFolderView;
        m_page->CreatePage(QRect(0, 0, 900, 600), m_host.get());
        m_page->show();
        m_host->show();
    }
    void cleanupTestCase()
    {
        Dialog::SetModalHook({});
        m_host.reset();
        platform::SetShellOpenFunction({});
        platform::SetMountBackend(nullptr);
        platform::SetDriveTablePath("");
        g_instantPauses.reset();
    }

    void listAndTasks()
    {
        MessageBoxRecorder boxes;
        // A login about to change ends the refresh under way.
        m_page->Refresh();
        QVERIFY(m_page->StopRefresh());
        QVERIFY(!m_page->Busy());
        QVERIFY(!m_page->StopRefresh());
        m_page->Refresh();
        QVERIFY(m_page->WaitIdle(60000));
        QCOMPARE(RowTexts(*m_page), (Names{"USB1", "USB2", "share", "media", "ftponly"}));
        // A refresh that fails keeps the rows and says why.
        m_mounts->failListing = "drive table unreadable";
        m_page->Refresh();
        QVERIFY(m_page->WaitIdle(60000));
        m_mounts->failListing.clear();
        QCOMPARE(RowTexts(*m_page), (Names{"USB1", "USB2", "share", "media", "ftponly"}));
        QCOMPARE(boxes.Texts(), std::vector<std::string>{"Refresh failed: drive table unreadable"});
        QCOMPARE(m_page->GetListCtrl()->GetItemText(3, 3), std::string("alice"));
        QCOMPARE(m_page->GetListCtrl()->GetItemText(4, 2), std::string("FTP "));
        QCOMPARE(m_page->GetTitle(), std::string("List Folder"));

        Select("media");
        QCOMPARE(TaskLinks(*m_page, IDS_FOLDER_MANAGEMENT),
                 (std::vector<unsigned>{IDS_OPEN_FOLDER, IDS_ADD_FOLDER, IDS_DELETE_FOLDER, IDS_EDIT_FOLDER,
                                        IDS_MOUNT_FOLDER, IDS_REFRESH_FOLDERS}));
        TaskPanelGroup* detail = m_page->GetTaskPanel()->FindGroup(IDS_FOLDER_DETAIL);
        QCOMPARE(detail->GetItem(1)->GetCaption(),
                 std::string("Location: Disk1\nType: Samba\nAllow User:\n        alice\n"));
        QCOMPARE(
            PopupMenuRecorder::CommandIds(m_page->ContextMenu(RowOf(*m_page, "media"))),
            (std::vector<unsigned>{ID_FOLDER_OPEN, ID_FOLDER_ADD, ID_FOLDER_DELETE, ID_FOLDER_EDIT, ID_FOLDER_MOUNT,
                                   ID_FOLDER_ICON_STYLE, ID_FOLDER_REPORT_STYLE, ID_FOLDER_REFRESH}));
        Select("USB1");
        QCOMPARE(TaskLinks(*m_page, IDS_FOLDER_MANAGEMENT),
                 (std::vector<unsigned>{IDS_OPEN_FOLDER, IDS_REMOVE_USB, IDS_REFRESH_FOLDERS}));
        m_page->OnReportStyle();
        QCOMPARE(m_page->GetListCtrl()->GetView(), ListCtrl::Report);
        QCOMPARE(m_page->GetViewStyle(), std::string("REPORT"));
        m_page->OnIconStyle();

        // "share" is the system's.
        Select("share");
        m_page->OnEditFolder();
        QCOMPARE(boxes.LastText(), std::string(" \"share\" is system folder , can not be modify."));
    }

    void addEditAndDeleteThroughTheDialog()
    {
        MessageBoxRecorder boxes;
        Names users;
        OnDialog<CShareManagement>([&](CShareManagement& dlg) {
            CShareManagement::Parts c = dlg.Controls();
            auto* ui = &c;
            users = dlg.UserListNames();
            ui->folderName->setText("docs");
            ui->privateFolder->click();
            QTreeWidgetItem* alice = ui->userList->findItems("alice", Qt::MatchExactly).value(0);
            QTreeWidgetItem* staff = ui->userList->findItems("@staff", Qt::MatchExactly).value(0);
            alice->setSelected(true);
            staff->setSelected(true);
            ui->addUser->click();
            // A reader reads every cell of the allow list, a box ticked or not.
            const QStringList reading = testsupport::ReadingFaults(&dlg);
            QVERIFY2(reading.isEmpty(), qPrintable(reading.join("; ")));
            // Tabbed into, the list has a current row but none selected:
            // the first Space ticks the current row's box (alice's).
            ui->allowList->clearSelection();
            ui->allowList->setCurrentItem(ui->allowList->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
            QTest::keyClick(ui->allowList, Qt::Key_Space);
            QCOMPARE(ui->allowList->topLevelItem(0)->checkState(1), Qt::Checked);
            QTest::keyClick(ui->allowList, Qt::Key_Space);
            // alice may write: her row selected by its name cell's Toggle,
            // Space ticks it; @staff's named tick set and cleared by Toggle.
            const QString toggle = QAccessibleActionInterface::toggleAction();
            QVERIFY(testsupport::DoAccessibleAction(ui->allowList, "alice", toggle));
            QTest::keyClick(ui->allowList, Qt::Key_Space);
            for (int i = 0; i < 2; ++i)
                QVERIFY(testsupport::DoAccessibleAction(ui->allowList, "ReadWrite @staff", toggle));
            ui->createButton->click();
        });
        Select("media");
        m_page->OnAddFolder();
        QCOMPARE(users, (Names{"admin", "alice", "@staff"}));
        QCOMPARE(boxes.Count(), size_t(0));
        int docs = RowOf(*m_page, "docs");
        QVERIFY(docs >= 0);
        QCOMPARE(m_page->SelectedItem(), docs);
        const std::string row = m_page->Rows()[static_cast<size_t>(docs)].row;
        QCOMPARE(row, std::string("4"));
        QCOMPARE(Cell(nasmib::kFolderWriteList, row), std::string("alice,"));
        QCOMPARE(Cell(nasmib::kFolderReadList, row), std::string("@staff,"));

        // Edit: the disk stays, the folder becomes Anonymous.
        bool diskFixed = false;
        std::vector<AllowedEntry> allowed;
        OnDialog<CShareManagement>([&](CShareManagement& dlg) {
            CShareManagement::Parts c = dlg.Controls();
            auto* ui = &c;
            diskFixed = !ui->diskBox->isEnabled() && ui->diskBox->currentText() == "Disk1";
            allowed = dlg.AllowedRows();
            ui->folderName->setText("Docs");
            ui->anonymous->click();
            ui->createButton->click();
        });
        m_page->OnEditFolder();
        QVERIFY(diskFixed);
        QCOMPARE(allowed, (std::vector<AllowedEntry>{{"alice", true}, {"@staff", false}}));
        QCOMPARE(Cell(nasmib::kFolderShareName, row), std::string("Docs"));
        QCOMPARE(Cell(nasmib::kFolderWriteList, row), std::string(""));
        QCOMPARE(Cell(nasmib::kFolderType, row), std::string("1"));
        QCOMPARE(m_page->SelectedItem(), RowOf(*m_page, "Docs"));

        // Delete behind the busy popup.
        Dialog::SetModalHook({});
        m_page->OnDelete();
        QCOMPARE(RowOf(*m_page, "Docs"), -1);
        QVERIFY(m_nas->dev->Command("mib get " + NasCell(nasmib::kFolderShareName, row)).rfind("ERR", 0) == 0);
        QCOMPARE(boxes.Count(), size_t(1)); // the question

        // Edit left by Escape: the list reads again with nothing selected,
        // and the panel shows no row's links or details.
        OnDialog<CShareManagement>([](CShareManagement& dlg) { dlg.EndDialog(platform::IDCANCEL); });
        Select("media");
        m_page->OnEditFolder();
        QCOMPARE(m_page->SelectedItem(), -1);
        QCOMPARE(TaskLinks(*m_page, IDS_FOLDER_MANAGEMENT),
                 (std::vector<unsigned>{IDS_ADD_FOLDER, IDS_REFRESH_FOLDERS}));
        QCOMPARE(m_page->GetTaskPanel()->FindGroup(IDS_FOLDER_DETAIL)->GetItemCount(), 0);
    }

    void openMountAndUnmount()
    {
        MessageBoxRecorder boxes;
        m_opened.clear();
        // Opened through the accessibility interface: the item's Press.
        QVERIFY(testsupport::DoAccessibleAction(m_page->GetListCtrl(), "ftponly",
                                                QAccessibleActionInterface::pressAction()));
        QCoreApplication::processEvents();
        QVERIFY(m_page->WaitIdle(60000));
        QCOMPARE(m_opened, (Names{"ftp://198.18.1.10/ftponly"}));

        // An administrator opening a private folder nobody is connected to
        // is asked first; the share is then opened.
        m_page->OnListDblClk(RowOf(*m_page, "media"));
        QVERIFY(m_page->WaitIdle(60000));
        QCOMPARE(m_opened.back(), std::string("smb://198.18.1.10/media"));
        QCOMPARE(boxes.Count(), size_t(1));
        QVERIFY(boxes.LastText().rfind("The samba shared folder can only be accessed by one user", 0) == 0);

        // Mount on Q: (the connection as another user is dropped and the list
        // refreshed first), then on S: (nothing to drop): shown at once, the
        // row stays selected and its panel tells the drive and offers
        // Unmount. Unmount gives the row back.
        for (const std::string letter : {"Q:", "S:"}) {
            std::string offered;
            QStringList cut;
            OnDialog<ConnectionDialog>([&](ConnectionDialog& dlg) {
                offered = dlg.Letters()->itemText(0).toStdString();
                cut = testsupport::CutTexts(&dlg);
                dlg.Letters()->setCurrentText(QString::fromStdString(letter));
                dlg.EndDialog(1);
            });
            Select("media");
            m_page->OnMount();
            Dialog::SetModalHook({});
            QCOMPARE(offered, std::string("D:"));
            QVERIFY2(cut.isEmpty(), qPrintable(cut.join("; ")));
            const std::string text = "media <" + letter + ">";
            int mapped = RowOf(*m_page, text);
            QVERIFY(mapped >= 0);
            QCOMPARE(m_page->Rows()[static_cast<size_t>(mapped)].image, int(kFolderImageMapped));
            QCOMPARE(m_page->SelectedItem(), mapped);
            QCOMPARE(m_page->GetTaskPanel()->FindGroup(IDS_FOLDER_DETAIL)->GetItem(0)->GetCaption(), text);
            QCOMPARE(TaskLinks(*m_page, IDS_FOLDER_MANAGEMENT),
                     (std::vector<unsigned>{IDS_OPEN_FOLDER, IDS_ADD_FOLDER, IDS_UNMOUNT_FOLDER, IDS_REFRESH_FOLDERS}));
            m_page->RefreshFolderList();
            QVERIFY(RowOf(*m_page, text) >= 0); // the mapping outlives a refresh
            Select(text);
            m_page->OnUnmount();
            QVERIFY(RowOf(*m_page, "media") >= 0);
            QCOMPARE(m_page->Rows()[static_cast<size_t>(RowOf(*m_page, "media"))].image, int(kFolderImagePrivate));
            QVERIFY(!m_mounts->IsMounted("smb://198.18.1.10/media"));
        }

        // A refused mount says what could not be mapped and why.
        m_mounts->failMounts = platform::ERROR_LOGON_FAILURE;
        OnDialog<ConnectionDialog>([&](ConnectionDialog& dlg) {
            dlg.Letters()->setCurrentText("R:");
            dlg.EndDialog(1);
        });
        Select("media");
        m_page->OnMount();
        Dialog::SetModalHook({});
        m_mounts->failMounts = 0;
        QCOMPARE(boxes.LastText(), std::string("Mount error  1326.\nCould not map \\\\198.18.1.10\\media to R: (the "
                                               "user name or password was refused)."));
        QVERIFY(RowOf(*m_page, "media") >= 0);
        QCOMPARE(m_mounts->onMakerThread, 0); // the window stayed live throughout
    }

    // A job that ends by an exception changes nothing: no dialog opens on
    // what could not be read, no row shows what did not happen, a dialog
    // keeps what it showed, nothing reaches the device, and the worker's box
    // is the only one.
    void aFailedJobChangesNothing()
    {
        struct Case {
            const char* name;
            int failing; // the modal job that throws, counted from 1
            std::function<void()> run;
            Names seen; // what the dialogs that opened showed
        };
        Names seen;
        CShareManagement::CreateUserHandler oldHandler = CShareManagement::SetCreateUserHandler([](QWidget*) {});
        const std::vector<Case> cases = {
            {"the folder dialog's read",
             2,
             [&] {
                 OnDialog<CShareManagement>([&](CShareManagement& dlg) {
                     seen.push_back("folder dialog");
                     dlg.Controls().cancelButton->click();
                 });
                 m_page->OnPageCommand(ID_FOLDER_ADD);
             },
             {}},
            {"the users after Create User",
             3,
             [&] {
                 OnDialog<CShareManagement>([&](CShareManagement& dlg) {
                     dlg.Controls().privateFolder->click();
                     dlg.Controls().createUser->click();
                     seen = dlg.UserListNames();
                     dlg.Controls().cancelButton->click();
                 });
                 m_page->OnPageCommand(ID_FOLDER_ADD);
             },
             {"admin", "alice", "@staff"}},
            {"the connect of a mount",
             2,
             [&] {
                 OnDialog<ConnectionDialog>([&](ConnectionDialog& dlg) {
                     seen.push_back("drive letter");
                     dlg.Letters()->setCurrentText("Q:");
                     dlg.EndDialog(1);
                 });
                 m_page->OnPageCommand(ID_FOLDER_MOUNT);
             },
             {"drive letter"}},
        };
        for (const Case& c : cases) {
            Select("media");
            const Names rows = RowTexts(*m_page);
            const int selected = m_page->SelectedItem();
            const std::string readers = Cell(nasmib::kFolderReadList, "2");
            MessageBoxRecorder boxes;
            seen.clear();
            auto jobs = std::make_shared<std::atomic<int>>(0);
            Worker::SetModalFault([jobs, failing = c.failing] {
                if (++*jobs == failing)
                    throw std::runtime_error("device gone");
            });
            c.run();
            Worker::SetModalFault({});
            Dialog::SetModalHook({});
            QVERIFY2(seen == c.seen, c.name);
            QVERIFY2(RowTexts(*m_page) == rows, c.name);
            QVERIFY2(m_page->SelectedItem() == selected, c.name);
            QVERIFY2(Cell(nasmib::kFolderReadList, "2") == readers, c.name);
            QVERIFY2(boxes.LastText().ends_with(" failed: device gone"), c.name); // and nothing after it
        }
        CShareManagement::SetCreateUserHandler(oldHandler);
        QVERIFY(!m_mounts->IsMounted("smb://198.18.1.10/media"));
    }

    void ejectUsb()
    {
        MessageBoxRecorder boxes;
        // Ejected, then one pulled out on the device meanwhile: either way the
        // disk leaves the list, the other stays.
        const struct {
            const char* disk;
            const char* row; // on the device, "" when it is still there
            const char* box;
            const char* other;
        } cases[] = {{"USB2", "", "Remove success. you can unplug the USB.", "USB1"},
                     {"USB1", "1", "USB no found.", "share"}};
        for (const auto& c : cases) {
            for (int column = 1; *c.row && column <= 10; ++column)
                m_nas->dev->Command("mib del " + NasCell(nasmib::kUsbEntry, std::to_string(column) + "." + c.row));
            Select(c.disk);
            m_page->OnRemoveUsb();
            QCOMPARE(boxes.LastText(), std::string(c.box));
            QCOMPARE(RowOf(*m_page, c.disk), -1);
            QVERIFY(RowOf(*m_page, c.other) >= 0);
            // Nothing is selected now, so no disk's details stay in the panel.
            QCOMPARE(m_page->GetTaskPanel()->FindGroup(IDS_FOLDER_DETAIL)->GetItemCount(), 0);
        }
    }

    void editingAFolderThatVanished()
    {
        MessageBoxRecorder boxes;
        // A character of two UTF-16 units, or of a letter and its accent, stays whole.
        const std::string a19(19, 'a');
        const std::string wide[] = {a19 + "\xF0\x9F\x98\x80" + "b", a19 + "e\xCC\x81" + "z"};
        for (const std::string& name : wide) {
            QVERIFY(m_nas->dev->Ok("set folder 10:" + name + ":Disk1:1"));
            m_page->RefreshFolderList();
            Select(name);
            const std::string caption = m_page->GetTaskPanel()->FindGroup(IDS_FOLDER_DETAIL)->GetItem(0)->GetCaption();
            QCOMPARE(caption, name.substr(0, name.size() - 1) + "\n" + name.substr(name.size() - 1));
        }
        for (int c = 1; c <= 17; ++c)
            m_nas->dev->Command("mib del " + NasCell(nasmib::kFolderEntry, std::to_string(c) + ".10"));
        const std::string gone = "a_folder_named_twenty"; // 21 characters
        QVERIFY(m_nas->dev->Ok("set folder 9:" + gone + ":Disk1:1"));
        m_page->RefreshFolderList();
        Select(gone);
        // The detail shows the name bold, broken after 20 characters.
        TaskPanelItem* title = m_page->GetTaskPanel()->FindGroup(IDS_FOLDER_DETAIL)->GetItem(0);
        QCOMPARE(title->GetCaption(), gone.substr(0, 20) + "\n" + gone.substr(20));
        QVERIFY(title->IsBold());
        for (int c = 1; c <= 17; ++c)
            m_nas->dev->Command("mib del " + NasCell(nasmib::kFolderEntry, std::to_string(c) + ".9"));
        m_page->OnEditFolder(); // the dialog closes itself
        QCOMPARE(boxes.LastText(), std::string("This folder is not exist."));
        QCOMPARE(RowOf(*m_page, gone), -1);
    }

    // The disk check, the dialog's reads (add, edit, the users after Create
    // User) and the open run on workers: the window stays live throughout.
    void noDeviceCallOnTheGuiThread()
    {
        MessageBoxRecorder boxes;
        CShareManagement::CreateUserHandler oldHandler = CShareManagement::SetCreateUserHandler([](QWidget*) {});
        OnDialog<CShareManagement>([](CShareManagement& dlg) {
            dlg.Controls().privateFolder->click();
            dlg.Controls().createUser->click();
            dlg.Controls().cancelButton->click();
        });
        const std::vector<std::pair<const char*, std::function<void()>>> actions = {
            {"Add Folder", [this] { m_page->OnTaskPanelLink(IDS_ADD_FOLDER); }},
            {"Edit Folder", [this] { m_page->OnPageCommand(ID_FOLDER_EDIT); }},
            {"double-click", [this] { m_page->OnListDblClk(RowOf(*m_page, "media")); }},
        };
        for (const auto& [name, action] : actions) {
            Select("media");
            testsupport::BlockingCallCounter calls;
            action();
            QVERIFY2(m_page->WaitIdle(60000), name);
            QVERIFY2(calls.OnMakerThread() == 0, name);
            QVERIFY2(calls.Elsewhere(BlockingCall::Snmp) > 0, name);
        }
        Dialog::SetModalHook({});
        CShareManagement::SetCreateUserHandler(oldHandler);
    }

    void accessibilityWalk()
    {
        MessageBoxRecorder boxes([](const RecordedBox&) { return IDCANCEL; });
        Select("media");
        QCOMPARE(Unnamed(m_page), Names{});
        // The links are buttons the keyboard reaches; pressing one runs it.
        QAbstractButton* remove = nullptr;
        for (QAbstractButton* b : m_page->GetTaskPanel()->findChildren<QAbstractButton*>())
            if (b->isVisible() && b->accessibleName() == "Delete")
                remove = b;
        QVERIFY(remove != nullptr);
        QVERIFY(remove->focusPolicy() & Qt::TabFocus);
        remove->click();
        QCOMPARE(boxes.LastText(), std::string("Are you sure to delete this folder"));
        QVERIFY(RowOf(*m_page, "media") >= 0);

        Names dialogMissing, connectMissing;
        OnDialog<CShareManagement>([&](CShareManagement& dlg) {
            dlg.Controls().privateFolder->click();
            dialogMissing = Unnamed(&dlg);
            dlg.Controls().cancelButton->click();
        });
        m_page->OnAddFolder();
        ConnectionDialog connect(nullptr, "\\\\198.18.1.10\\media");
        connectMissing = Unnamed(&connect);
        Dialog::SetModalHook({});
        QCOMPARE(dialogMissing, Names{});
        QCOMPARE(connectMissing, Names{});
    }
};

QTEST_MAIN(TestShareFolderPage)
#include "test_share_folder_page.moc"
