// The accessibility walk over the main window's pages and every dialog: no
// interactive element without a name, no name with a line break, no list
// item that cannot be selected, no button or label announced by other words
// than it shows; every Press in the main window is answered at once, and the
// toolbar's commands open their windows afterwards; task-panel links are
// keyboard buttons and its texts are read line by line.
#include <QAccessible>
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>
#include <filesystem>

#include "AboutDlg.h"
#include "AccessibleWalk.h"
#include "BackupRestorePage.h"
#include "ConnectionDialog.h"
#include "Dialog.h"
#include "ListCtrl.h"
#include "DeviceInfoDlg.h"
#include "DiscoverNasDlg.h"
#include "GroupManagement.h"
#include "PageView.h"
#include "PopDlg.h"
#include "QuomDlg.h"
#include "SetupWizardDlg.h"
#include "ShellOpen.h"
#include "SnmpTestAgent.h"
#include "TaskPanel.h"
#include "TaskWizardpage1.h"
#include "TestClock.h"
#include "TestSupport.h"
#include "UserManagement.h"
#include "stdafx.h"

using namespace platform::gui;
namespace fs = std::filesystem;

class TestAccessibility : public QObject {
    Q_OBJECT

private slots:
    void everyWindowPassesTheWalk()
    {
        // The main window logged in as the administrator: the privilege from
        // a test agent, the login road's dialogs stand-ins. After start-up the
        // discovery stand-in is a modal window of its own, then cancelled.
        testsupport::TempDir dir;
        GetNasContext()->SetIniPath((dir / "quom.ini").string());
        testsupport::SnmpTestAgent agent;
        agent.PointContext();
        testsupport::InstantPauses pauses;
        auto oldDiscover = CQuomDlg::SetDiscoverDialogFunction([&agent](int type, QWidget* parent) {
            CNasContext* ctx = GetNasContext();
            ctx->m_deviceAddress = "127.0.0.1";
            ctx->m_community = agent.Community();
            ctx->m_user = "admin";
            if (type == DISCOVER_START_UP)
                return int(platform::IDOK);
            Dialog login(parent);
            return login.DoModal() == platform::IDOK ? int(platform::IDOK) : int(platform::IDCANCEL);
        });
        auto oldSetup = CQuomDlg::SetSetupDialogFunction([](QWidget*) { return int(platform::IDOK); });
        auto oldOpen = platform::SetShellOpenFunction([](const std::string&) { return true; });
        struct Main : CQuomDlg {
            using CQuomDlg::OnInitDialog;
        } main;
        QVERIFY(main.OnInitDialog());
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
        CQuomDlg::SetDiscoverDialogFunction(oldDiscover);
        CQuomDlg::SetSetupDialogFunction(oldSetup);
        platform::SetShellOpenFunction(oldOpen);
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
        task.schedules = {{"day", "", 0, MakeMD5Key("day")}};
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
