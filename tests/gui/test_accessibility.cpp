// The accessibility walk over the main window's pages and every dialog: no
// interactive element without a name, no name with a line break, no list
// item that cannot be selected, no button or label announced by other words
// than it shows; every Press in the main window is answered at once, and the
// toolbar's commands open their windows afterwards; task-panel links are
// keyboard buttons and its texts are read line by line. One window at a
// time: nothing of the main window acts behind a modal dialog, and the focus
// lands where the keys act, comes back to what opened a dialog and leaves
// the window that owned it active.
#include <QAccessible>
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QToolBar>
#include <QTreeView>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "AboutDlg.h"
#include "AccessibleWalk.h"
#include "BackupRestorePage.h"
#include "CommandBars.h"
#include "ConnectionDialog.h"
#include "Dialog.h"
#include "ListCtrl.h"
#include "DeviceInfoDlg.h"
#include "DiscoverNasDlg.h"
#include "GroupManagement.h"
#include "ListFolderView.h"
#include "PageView.h"
#include "PopDlg.h"
#include "QuomDlg.h"
#include "SetupWizardDlg.h"
#include "ShellOpen.h"
#include "SnmpTestAgent.h"
#include "TaskPanel.h"
#include "TaskStore.h"
#include "BackupTask.h"
#include "TaskWizardpage1.h"
#include "TestClock.h"
#include "TestSupport.h"
#include "UserManagement.h"
#include "Worker.h"
#include "stdafx.h"

using namespace platform::gui;
namespace fs = std::filesystem;

namespace {
// The main window logged in as the administrator against a test agent; the
// login road's dialogs are stand-ins, the discovery dialog of Attach Other
// NAS and Change User an empty dialog of its own.
struct LoggedInMain {
    struct Main : CQuomDlg {
        using CQuomDlg::OnInitDialog;
    };
    testsupport::TempDir dir;
    testsupport::SnmpTestAgent agent;
    testsupport::InstantPauses pauses;
    CQuomDlg::DiscoverDialogFunction oldDiscover;
    CQuomDlg::SetupDialogFunction oldSetup;
    platform::ShellOpenFunction oldOpen;
    Main main;

    LoggedInMain()
    {
        GetNasContext()->SetIniPath((dir / "quom.ini").string());
        agent.PointContext();
        oldDiscover = CQuomDlg::SetDiscoverDialogFunction([this](int type, QWidget* parent) {
            CNasContext* ctx = GetNasContext();
            ctx->m_deviceAddress = "127.0.0.1";
            ctx->m_community = agent.Community();
            ctx->m_user = "admin";
            if (type == DISCOVER_START_UP)
                return int(platform::IDOK);
            Dialog login(parent);
            login.setObjectName("login");
            auto* ok = new QPushButton("OK", &login);
            ok->setAccessibleName("OK");
            return login.DoModal() == platform::IDOK ? int(platform::IDOK) : int(platform::IDCANCEL);
        });
        oldSetup = CQuomDlg::SetSetupDialogFunction([](QWidget*) { return int(platform::IDOK); });
        oldOpen = platform::SetShellOpenFunction([](const std::string&) { return true; });
    }
    ~LoggedInMain()
    {
        CQuomDlg::SetDiscoverDialogFunction(oldDiscover);
        CQuomDlg::SetSetupDialogFunction(oldSetup);
        platform::SetShellOpenFunction(oldOpen);
    }
    LoggedInMain(const LoggedInMain&) = delete;
    LoggedInMain& operator=(const LoggedInMain&) = delete;

    // Up, active, with the share page's folders listed.
    bool Start()
    {
        if (!main.OnInitDialog())
            return false;
        main.show();
        main.activateWindow();
        return QTest::qWaitForWindowActive(&main) &&
               QTest::qWaitFor([this] { return Folders()->GetItemCount() > 0; }, 30000);
    }
    ListCtrl* Folders() const { return main.GetPage(ID_VIEW_SHARE_FOLDER)->GetListCtrl(); }
    // An assistive tool's Press on the toolbar button of command id.
    bool PressTool(unsigned id)
    {
        for (QAction* action : main.GetToolBar()->actions())
            if (action->data().toUInt() == id) {
                QAccessibleInterface* button =
                    QAccessible::queryAccessibleInterface(main.GetToolBar()->widgetForAction(action));
                button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
                return true;
            }
        return false;
    }
};

// One task of the administrator's in the task file.
void StoreOneTask()
{
    BackupTaskInfo task;
    task.taskName = "Nightly";
    task.nasUser = "admin";
    CTaskStore store;
    store.CreateTaskStore();
    store.SaveTasks({task});
}
} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT

private slots:
    void everyWindowPassesTheWalk()
    {
        LoggedInMain logged;
        CQuomDlg& main = logged.main;
        QVERIFY(logged.main.OnInitDialog());
        main.show();

        CDiscoverNasDlg discover(0);
        CDeviceInfoDlg info;
        CSetupWizardDlg wizard;
        CPopDlg popup;
        CAboutDlg about;
        QStringList all;
        for (QWidget* w : std::initializer_list<QWidget*>{&discover, &info, &wizard, &popup, &about, &main})
            all << testsupport::AccessibilityFaults(w) << testsupport::NamesNotMatchingText(w);
        for (QWidget* w : std::initializer_list<QWidget*>{&discover, &info, &wizard, &popup, &about, &main})
            all << testsupport::ReadingFaults(w) << testsupport::ShownOutOfView(w);

        // Every Press of the main window: bars, menus, the shown page.
        const testsupport::PressWalk presses = testsupport::PressEverything(&main);
        all << presses.faults;
        for (const char* command : {"Attach Other NAS", "User Management", "Device Information", "Change User"}) {
            bool opened = false;
            for (const auto& [path, windows] : presses.opened)
                opened = opened || (path.endsWith(QString("/NAS Tool Bar/") + command) && !windows.isEmpty());
            if (!opened)
                all << QString("the toolbar's %1 opened nothing").arg(command);
        }
        QVERIFY2(all.isEmpty(), qPrintable(all.join("\n")));
    }

    // What a screen reader reads in the windows a page or the toolbar opens,
    // shown by their modal runs: titles shown whole, every table heading
    // and cell, radio buttons, captions with their values, texts as shown.
    void everyWindowReadsItsTexts()
    {
        testsupport::TempDir dir;
        GetNasContext()->SetIniPath((dir / "quom.ini").string());
        QStringList all;
        auto read = [&all](QWidget* w, const QString& name) {
            for (const QString& fault : testsupport::AccessibilityFaults(w) + testsupport::ReadingFaults(w) +
                                            testsupport::NamesNotMatchingText(w) + testsupport::ShownOutOfView(w))
                all << name + ": " + fault;
        };
        // Runs d modally, reads it while it shows, then also(d), and ends it.
        auto whileShown = [&](Dialog& d, const QString& name, const std::function<void()>& also = {}) {
            bool shown = false;
            Dialog::SetModalHook([&](Dialog& open) {
                shown = QTest::qWaitForWindowExposed(&open);
                read(&open, name);
                if (also)
                    also();
                open.EndDialog(platform::IDCANCEL);
            });
            d.DoModal();
            Dialog::SetModalHook({});
            if (!shown)
                all << name + " never showed";
        };

        ConnectionDialog map(nullptr, "\\\\198.18.7.10\\public");
        whileShown(map, "Map Network Drive");

        // The property view: the task's folders, its device folder and its
        // information, each caption read with its value; the folder table
        // has the focus.
        fs::create_directories(dir / "Documents");
        BackupTaskInfo task;
        task.taskName = "Nightly";
        task.nasUser = "admin";
        task.nasIp = "198.18.7.10";
        task.nasFolderName = "music";
        task.nasFolderStatus = "Public";
        task.lastBackTime = "01:30:00, 12/08/26";
        task.folders = {{"Documents", "", "1.2 MB", (dir / "Documents").string()}};
        task.schedules = {{"day", "", 0, MakeMD5Key("day"), {}}};
        CTaskPropertyDlg property;
        property.SetTask(&task);
        property.SetType("day");
        whileShown(property, "Task Property", [&] {
            ListCtrl* nas = property.NasFolderList();
            QCOMPARE(nas->GetItemCount(), 1);
            QCOMPARE(nas->GetItemText(0, 1), std::string("music"));
            QCOMPARE(nas->GetItemText(0, 2), std::string("198.18.7.10"));
            const QRect nasRow = nas->ReportView()->visualRect(nas->ModelIndex(0, 1));
            QVERIFY(nas->ReportView()->viewport()->rect().contains(nasRow));
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(property.FolderList()->ReportView()));
            // Each value is labelled by its caption.
            QAccessibleInterface* last =
                testsupport::AccessibleNamed(QAccessible::queryAccessibleInterface(&property), "01:30:00, 12/08/26");
            QVERIFY(last != nullptr);
            const auto labels = last->relations(QAccessible::Label);
            QCOMPARE(labels.size(), 1);
            QCOMPARE(labels.front().first->text(QAccessible::Name), QString("The last backup time:"));
        });

        CTaskWizardpage1 sources;
        sources.SetTask(&task);
        whileShown(sources, "Task wizard, local folders");

        // The busy popup is announced by its title, its text focused.
        CPopDlg popup;
        popup.SetMessage("Loading.. Please wait..");
        whileShown(popup, "Busy popup", [&] {
            QCOMPARE(QAccessible::queryAccessibleInterface(&popup)->text(QAccessible::Name), QString("Please wait"));
            QVERIFY(QApplication::focusWidget() != nullptr && popup.isAncestorOf(QApplication::focusWidget()));
        });

        // The user and group dialogs as they are made (their faces hidden).
        CUserManagement users;
        read(&users, "User Management");
        CGroupManagement groups;
        read(&groups, "Group Management");
        QVERIFY2(all.isEmpty(), qPrintable(all.join("\n")));
    }

    // Task-panel links scrolled out of view are not reported showing; the
    // one in view is.
    void scrolledLinksAreOffScreen()
    {
        QWidget window;
        auto* panel = new TaskPanel(&window);
        panel->setGeometry(0, 0, 220, 120);
        TaskPanelGroup* group = panel->AddGroup(708);
        for (unsigned id : {709u, 710u, 711u, 712u, 713u, 714u, 719u, 734u})
            group->AddLinkItem(id);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        std::vector<QAbstractButton*> links = panel->LinkButtons();
        QVERIFY(panel->VerticalScrollBar()->isVisible());
        QVERIFY(panel->rect().contains(links.front()->geometry()));
        QVERIFY(!panel->rect().intersects(links.back()->geometry()));
        QVERIFY(!QAccessible::queryAccessibleInterface(links.front())->state().offscreen);
        QVERIFY(QAccessible::queryAccessibleInterface(links.back())->state().offscreen);
        const QStringList shown = testsupport::ShownOutOfView(&window);
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join("; ")));
    }

    // A dialog that has ended leaves the application's accessibility tree;
    // it comes back when it shows again.
    void endedDialogsLeaveTheTree()
    {
        auto inTree = [](QWidget* w) {
            QAccessibleInterface* app = QAccessible::queryAccessibleInterface(qApp);
            for (int i = 0; i < app->childCount(); ++i)
                if (app->child(i)->object() == w)
                    return true;
            return false;
        };
        CAboutDlg about;
        for (int run = 0; run < 2; ++run) {
            bool shown = false;
            Dialog::SetModalHook([&](Dialog& d) {
                shown = inTree(&d);
                d.EndDialog(platform::IDOK);
            });
            about.DoModal();
            Dialog::SetModalHook({});
            QVERIFY(shown);
            QVERIFY(!inTree(&about));
        }
    }

    // In icon view a list of several columns shows, and announces, one item
    // per row, named by its shown text and placed where it is drawn; the
    // view not shown is not announced.
    void iconViewItemsAreItsRows()
    {
        ListCtrl list;
        list.resize(400, 300);
        list.SetAccessibleName("Folders");
        for (const char* c : {"Name", "Disk", "Type", "Users"})
            list.InsertColumn(list.GetColumnCount(), c);
        const QStringList names{"music", "photo", "public"};
        for (int r = 0; r < names.size(); ++r) {
            list.InsertItem(r, names[r].toStdString());
            list.SetItemText(r, 1, "Disk1");
            list.SetItemText(r, 2, "Samba ");
        }
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(list.IconView());
        QCOMPARE(iface->role(), QAccessible::List);
        QStringList announced;
        for (int i = 0; i < iface->childCount(); ++i) {
            QAccessibleInterface* item = iface->child(i);
            announced << item->text(QAccessible::Name);
            const QRect drawn = list.IconView()->visualRect(list.ModelIndex(i, 0));
            QCOMPARE(item->rect().topLeft(), list.IconView()->viewport()->mapToGlobal(drawn.topLeft()));
            QCOMPARE(iface->indexOfChild(item), i);
            QCOMPARE(iface->childAt(item->rect().center().x(), item->rect().center().y()), item);
        }
        QCOMPARE(announced, names);
        // The control holds both views; only the one shown is in the tree.
        QAccessibleInterface* control = QAccessible::queryAccessibleInterface(&list);
        for (ListCtrl::View view : {ListCtrl::Report, ListCtrl::Icon}) {
            list.SetView(view);
            QCOMPARE(control->childCount(), 1);
            QCOMPARE(control->child(0)->object(), static_cast<QObject*>(list.CurrentView()));
        }
    }

    // With a modal dialog in front of the main window (Device Information, as
    // the toolbar opens it, with no parent), every Press and Toggle of the
    // main window's shown page, bars and menus does nothing.
    void nothingActsBehindAModalWindow()
    {
        LoggedInMain env;
        QVERIFY(env.Start());
        QStringList all;
        // The share page in both views: its rows are icons, then a table.
        for (unsigned page :
             std::initializer_list<unsigned>{ID_VIEW_SHARE_FOLDER, ID_VIEW_BACKUP_RESTORE, ID_VIEW_SYSTEM_LOG, 0}) {
            if (page == 0)
                env.Folders()->SetView(ListCtrl::Report);
            env.main.ShowPage(page == 0 ? ID_VIEW_SHARE_FOLDER : page);
            CDeviceInfoDlg info;
            bool shown = false;
            Dialog::SetModalHook([&](Dialog& d) {
                if (&d != &info || shown)
                    return;
                shown = true;
                all << testsupport::ActionsBehindModal(&env.main);
                d.EndDialog(platform::IDCANCEL);
            });
            info.DoModal();
            Dialog::SetModalHook({});
            if (!shown)
                all << "Device Information did not open";
        }
        // Presses that come faster than the window they open: the first
        // opens the folder behind the busy popup (its check waits until the
        // popup shows; the share cannot be reached here, which a box says),
        // the others find the popup in front of them and do nothing.
        env.Folders()->SetView(ListCtrl::Icon);
        QStringList opened;
        std::atomic<bool> popupShown{false};
        Dialog::SetModalHook([&](Dialog& d) {
            opened << d.metaObject()->className();
            if (dynamic_cast<CPopDlg*>(&d) == nullptr)
                d.EndDialog(platform::IDCANCEL);
            else
                popupShown = true;
        });
        Worker::SetModalFault([&popupShown] {
            for (int i = 0; i < 10000 && !popupShown; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        platform::MessageBoxRecorder boxes;
        for (int i = 0; i < 3; ++i)
            QVERIFY(
                testsupport::DoAccessibleAction(env.Folders(), "public", QAccessibleActionInterface::pressAction()));
        (void)QTest::qWaitFor([&boxes] { return boxes.Count() > 0; }, 30000);
        QTest::qWait(300);
        (void)QTest::qWaitFor([] { return QApplication::activeModalWidget() == nullptr; }, 30000);
        Dialog::SetModalHook({});
        Worker::SetModalFault({});
        QStringList told;
        for (const std::string& text : boxes.Texts())
            told << QString::fromStdString(text);
        if (opened != QStringList{"CPopDlg"} || told.size() != 1)
            all << "three presses on a folder opened " + opened.join(", ") + "; boxes: " + told.join("; ");
        QVERIFY2(all.isEmpty(), qPrintable(all.join("\n")));
    }

    // The keys act where the focus is: the share page's folder list (its
    // view, with a current row) after start-up, each page's list after a page
    // change by the toolbar, Change User and Attach Other NAS; a dialog that
    // the toolbar opens takes the focus and gives it, and the active window,
    // back when it closes, and so does a dialog opened over it.
    void focusLandsWhereTheKeysAct()
    {
        LoggedInMain env;
        StoreOneTask(); // the backup page's list selects it with the focus
        QVERIFY(env.Start());
        CQuomDlg& main = env.main;
        QStringList all = testsupport::FocusFaults(&main, "the share page loaded");
        auto onList = [&](unsigned page, const QString& when) {
            QWidget* view = main.GetPage(page)->GetListCtrl()->CurrentView();
            (void)QTest::qWaitFor(
                [&] { return main.GetCurrentPageId() == page && QApplication::focusWidget() == view; }, 5000);
            all << testsupport::FocusFaults(&main, when);
            if (QApplication::focusWidget() != view)
                all << when + ": the page's list has not the focus";
        };
        onList(ID_VIEW_SHARE_FOLDER, "the share page loaded");
        for (unsigned page : {ID_VIEW_BACKUP_RESTORE, ID_VIEW_SYSTEM_LOG, ID_VIEW_SHARE_FOLDER}) {
            main.GetPage(ID_VIEW_SHARE_FOLDER)->GetTaskPanel()->LinkButtons().front()->setFocus();
            QVERIFY(env.PressTool(page));
            onList(page, QString("page %1 shown").arg(page));
        }
        for (const auto& [command, what] : std::initializer_list<std::pair<unsigned, QString>>{
                 {ID_DEVICE_INFORMATION, "Device Information"}, {ID_USER_MANAGEMENT, "User Management"}}) {
            all << testsupport::FocusRoundTrip(&main, env.Folders()->CurrentView(), what,
                                               [&, command = command] { env.PressTool(command); });
        }
        // A task-panel link's dialog gives the keys back to the link.
        QAbstractButton* addFolder = main.GetPage(ID_VIEW_SHARE_FOLDER)->GetTaskPanel()->LinkButtons().front();
        all << testsupport::FocusRoundTrip(&main, addFolder, "Add Folder", [addFolder] {
            QAccessible::queryAccessibleInterface(addFolder)->actionInterface()->doAction(
                QAccessibleActionInterface::pressAction());
        });
        // Task Property gives the keys back to "Show property".
        QVERIFY(env.PressTool(ID_VIEW_BACKUP_RESTORE));
        onList(ID_VIEW_BACKUP_RESTORE, "the backup page shown again");
        int properties = 0;
        for (QAbstractButton* link : main.GetPage(ID_VIEW_BACKUP_RESTORE)->GetTaskPanel()->LinkButtons())
            if (link->text() == "Show property" && ++properties)
                all << testsupport::FocusRoundTrip(&main, link, "Show property", [link] {
                    QAccessible::queryAccessibleInterface(link)->actionInterface()->doAction(
                        QAccessibleActionInterface::pressAction());
                });
        if (properties != 1)
            all << "the selected task offers no \"Show property\"";
        QVERIFY(env.PressTool(ID_VIEW_SHARE_FOLDER));
        onList(ID_VIEW_SHARE_FOLDER, "the share page shown again");
        // After a new login, or one left as it was, the page's list has the keys.
        for (unsigned command : {ID_CHANGE_USER, ID_ATTACH_OTHER_NAS}) {
            main.GetPage(ID_VIEW_SHARE_FOLDER)->GetTaskPanel()->LinkButtons().front()->setFocus();
            const int answer = command == ID_CHANGE_USER ? platform::IDCANCEL : platform::IDOK;
            bool ran = false;
            Dialog::SetModalHook([&](Dialog& d) {
                if (d.objectName() == "login") {
                    ran = true;
                    d.EndDialog(answer);
                }
            });
            QVERIFY(env.PressTool(command));
            (void)QTest::qWaitFor([&] { return ran && QApplication::activeModalWidget() == nullptr; }, 30000);
            Dialog::SetModalHook({});
            onList(ID_VIEW_SHARE_FOLDER, QString("after command %1").arg(command));
        }
        QVERIFY2(all.isEmpty(), qPrintable(all.join("\n")));
    }

    // Each page's right-click menu opens from the keys (the Menu key and
    // Shift+F10 on the page's list) for the selected row, on that row, or
    // off the rows at the list's corner, and its commands run: the share
    // page's Report_Style, which no other control offers, shows a table.
    void listMenusOpenFromTheKeys()
    {
        LoggedInMain env;
        StoreOneTask();
        QVERIFY(env.Start());
        PopupMenuRecorder menus([](const Menu& menu) {
            const std::vector<unsigned> ids = PopupMenuRecorder::CommandIds(menu);
            return std::count(ids.begin(), ids.end(), unsigned(ID_FOLDER_REPORT_STYLE)) > 0
                       ? unsigned(ID_FOLDER_REPORT_STYLE)
                       : 0U;
        });
        struct Case {
            unsigned page;
            int row;        // selected, -1 for none
            unsigned first; // the menu's first command
        };
        QStringList all;
        for (const Case& c : {Case{ID_VIEW_SHARE_FOLDER, 0, 0}, Case{ID_VIEW_BACKUP_RESTORE, 0, 40015},
                              Case{ID_VIEW_SYSTEM_LOG, -1, 40029}}) {
            if (c.page != ID_VIEW_SHARE_FOLDER) // shown first
                QVERIFY(env.PressTool(c.page));
            QVERIFY(QTest::qWaitFor([&] { return env.main.GetCurrentPageId() == c.page; }, 5000));
            ListCtrl* list = env.main.GetPage(c.page)->GetListCtrl();
            list->CurrentView()->setFocus();
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(list->CurrentView()));
            if (c.row >= 0)
                QVERIFY(list->SetItemSelected(c.row, true));
            for (const QKeyCombination key : {QKeyCombination(Qt::Key_Menu), Qt::ShiftModifier | Qt::Key_F10}) {
                QAbstractItemView* view = list->CurrentView();
                const QString what = QString("page %1, key %2").arg(c.page).arg(key.toCombined());
                const QRect place =
                    c.row < 0
                        ? QRect(view->viewport()->mapToGlobal(QPoint(0, 0)), QSize(1, 1))
                        : QRect(view->viewport()->mapToGlobal(view->visualRect(list->ModelIndex(c.row, 0)).topLeft()),
                                view->visualRect(list->ModelIndex(c.row, 0)).size());
                const size_t before = menus.Count();
                QTest::keyClick(QApplication::focusWidget(), key.key(), key.keyboardModifiers());
                if (menus.Count() != before + 1) {
                    all << what + ": no menu";
                    continue;
                }
                const std::vector<unsigned> ids = PopupMenuRecorder::CommandIds(menus.Menus().back());
                if (c.first != 0 && ids.front() != c.first)
                    all << what + QString(": the menu begins with %1").arg(ids.front());
                if (!place.contains(menus.Points().back()))
                    all << what + ": the menu is not on the row";
            }
        }
        QVERIFY2(all.isEmpty(), qPrintable(all.join("\n")));
        QTRY_COMPARE(env.Folders()->GetView(), ListCtrl::Report);
    }

    // A list of one row has it selected when the keys reach it, so that
    // Enter opens it; a longer list gets a current row and no selection.
    // The row unselected by Ctrl+Space is told as a click off the rows, so
    // that the page stops offering that row's commands.
    void oneRowIsSelectedOnFocus()
    {
        QWidget window;
        auto* before = new QPushButton("Before", &window);
        auto* list = new ListCtrl(&window);
        list->setGeometry(0, 40, 300, 200);
        list->SetAccessibleName("Devices");
        list->InsertColumn(0, "Name");
        list->InsertItem(0, "NAS-1");
        std::vector<int> opened, clicked;
        ListCtrl::Notify notify;
        notify.onDblClk = [&](int row) { opened.push_back(row); };
        notify.onClick = [&](int row) { clicked.push_back(row); };
        list->SetNotify(notify);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        before->setFocus();
        QTest::keyClick(before, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(list->CurrentView()));
        QCOMPARE(list->GetSelectedItem(), 0);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(opened, std::vector<int>{0});
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space, Qt::ControlModifier);
        QCOMPARE(list->GetSelectedItem(), -1);
        QCOMPARE(clicked, std::vector<int>{-1});
        // The list's own changes are not clicks.
        QVERIFY(list->SetItemSelected(0, true));
        list->ClearSelection();
        QCOMPARE(clicked, std::vector<int>{-1});
        // Rows of a refresh under the focus: a current row, nothing chosen.
        list->DeleteAllItems();
        list->InsertItem(0, "NAS-1");
        list->InsertItem(1, "NAS-2");
        QTest::qWait(20);
        QCOMPARE(list->CurrentView()->currentIndex().row(), 0);
        QCOMPARE(list->GetSelectedItem(), -1);
    }

    void taskPanelLinksAreKeyboardButtons()
    {
        QWidget window;
        auto* edit = new QLineEdit(&window);
        edit->setAccessibleName("Before");
        auto* panel = new TaskPanel(&window);
        panel->setGeometry(0, 30, 220, 300);
        TaskPanelGroup* group = panel->AddGroup(708);
        group->AddLinkItem(715); // links named by string-table texts
        group->AddTextItem("Some words");
        group->AddLinkItem(716);
        panel->AddGroup(105)->AddTextItem("Location: Disk1\nAllow User:\n        alice\n");
        std::vector<unsigned> pressed;
        panel->SetLinkHandler([&](unsigned id) {
            pressed.push_back(id);
            panel->Relayout(); // handlers rebuild the panel
        });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        EXPECT_ALL_NAMED(&window);

        std::vector<QAbstractButton*> links = panel->LinkButtons();
        QCOMPARE(links.size(), size_t(2));
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(links[0]);
        QCOMPARE(iface->role(), QAccessible::PushButton);
        QVERIFY(!iface->text(QAccessible::Name).isEmpty());
        // Tab reaches the links in order; Enter and Space press them.
        edit->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(links[0]));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(pressed, (std::vector<unsigned>{715, 716}));

        // Captions and each text line are in the tree, named by their words,
        // where they are drawn.
        QStringList read;
        std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* iface) {
            if (iface->role() == QAccessible::StaticText || iface->role() == QAccessible::Heading) {
                read << iface->text(QAccessible::Name);
                QVERIFY(QRect(panel->mapToGlobal(QPoint(0, 0)), panel->size()).contains(iface->rect()));
            }
            for (int i = 0; i < iface->childCount(); ++i)
                walk(iface->child(i));
        };
        walk(QAccessible::queryAccessibleInterface(&window));
        QCOMPARE(read,
                 (QStringList{"Folder Management", "Some words", "Detail", "Location: Disk1", "Allow User:", "alice"}));
    }
};

QTEST_MAIN(TestAccessibility)
#include "test_accessibility.moc"
