// The main window against the emulator's SNMP agent: the login road through
// stand-in dialogs, the administrator's and the user's bars from the privilege
// the device reports, the title, pages, System Log rows, the tray, the device
// web page and the re-login road.
#include <QKeyEvent>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>
#include <QToolBar>
#include <QtTest>
#include <algorithm>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "BarCommands.h"
#include "BlockingCallCounter.h"
#include "AboutDlg.h"
#include "Application.h"
#include "BackupTask.h"
#include "CommandBars.h"
#include "DeviceInfoDlg.h"
#include "UserManagement.h"
#include "ListCtrl.h"
#include "MessageBoxes.h"
#include "NasMib.h"
#include "PageView.h"
#include "PostMessageBox.h"
#include "QuomDlg.h"
#include "ShellOpen.h"
#include "SnmpHelpers.h"
#include "SnmpTestAgent.h"
#include "AccessibleWalk.h"
#include "PopDlg.h"
#include "TestClock.h"
#include "TestSupport.h"
#include "TrayIcon.h"
#include "stdafx.h"

using namespace platform::gui;
using testsupport::SnmpTestAgent;

namespace {

testbed::NasDescription Device()
{
    testbed::NasDescription nas = testbed::NasDescription::Default("s3cret");
    nas.users = {{1, "admin", "", "s3cret", "", 15, 1, 1},
                 {2, "bob", "", "pw", "", 1, 1, 1},
                 {3, "eve", "", "pw", "", 150, 1, 1}};
    return nas;
}

// What the re-login road did, in order: "stop" for a page's refresh jobs
// asked to end, "login" for the login dialog.
std::vector<std::string> g_road;

// A page that counts its refreshes; the log page gets the System Log columns.
// A page with a refresh under way says so when asked to stop it.
class TestPage : public CPageView {
public:
    explicit TestPage(bool logColumns = false) : m_logColumns(logColumns) {}
    int refreshes = 0;
    bool refreshing = false;
    void Refresh() override { ++refreshes; }
    bool StopRefresh() override
    {
        g_road.push_back("stop");
        return std::exchange(refreshing, false);
    }

protected:
    void OnInitialUpdate() override
    {
        CPageView::OnInitialUpdate();
        if (m_logColumns) {
            GetListCtrl()->SetView(ListCtrl::Report);
            for (const char* c : {"No.", "Time", "Type", "Description", "File"})
                GetListCtrl()->InsertColumn(GetListCtrl()->GetColumnCount(), c);
        }
    }

private:
    bool m_logColumns;
};

class TestMainWindow : public CQuomDlg {
public:
    using CQuomDlg::OnInitDialog;
    bool withPages = true;
    TestPage* logPage = nullptr;
    TestPage* backupPage = nullptr;
    TestPage* sharePage = nullptr;

protected:
    void CreatePageSet() override
    {
        if (!withPages)
            return;
        logPage = new TestPage(true);
        backupPage = new TestPage;
        sharePage = new TestPage;
        AddPage(ID_VIEW_SYSTEM_LOG, logPage);
        AddPage(ID_VIEW_BACKUP_RESTORE, backupPage);
        AddPage(ID_VIEW_SHARE_FOLDER, sharePage);
    }
};

// Where the stand-in login points the context: the agent of the test.
std::string g_community;

// Stand-ins for the discovery and setup dialogs: each call is recorded and
// answered; a confirmed login puts the device and its user into the context
// as the real dialog does.
struct LoginRoad {
    LoginRoad()
    {
        oldDiscover = CQuomDlg::SetDiscoverDialogFunction([this](int type, QWidget* parent) {
            modes.push_back(type);
            parents.push_back(parent);
            g_road.push_back("login");
            if (discoverAnswer == IDOK) {
                CNasContext* ctx = GetNasContext();
                ctx->m_deviceAddress = "127.0.0.1";
                ctx->m_community = g_community;
                ctx->m_user = nextUser;
                std::memset(ctx->m_nasInfo.name, 0, sizeof ctx->m_nasInfo.name);
                std::strcpy(ctx->m_nasInfo.name, "NAS1");
            }
            return discoverAnswer;
        });
        oldSetup = CQuomDlg::SetSetupDialogFunction([this](QWidget*) {
            ++setups;
            return setupAnswer;
        });
    }
    ~LoginRoad()
    {
        CQuomDlg::SetDiscoverDialogFunction(oldDiscover);
        CQuomDlg::SetSetupDialogFunction(oldSetup);
    }
    std::string nextUser = "admin";
    int discoverAnswer = IDOK;
    int setupAnswer = IDOK;
    std::vector<int> modes;
    std::vector<QWidget*> parents;
    int setups = 0;
    CQuomDlg::DiscoverDialogFunction oldDiscover;
    CQuomDlg::SetupDialogFunction oldSetup;
};

std::vector<std::string> MenuTitles(QMenuBar* bar)
{
    std::vector<std::string> titles;
    for (QAction* a : bar->actions())
        titles.push_back(a->text().toStdString());
    return titles;
}

const std::vector<unsigned> kAdminMenu = {40006, 40007, 40030, 57665, 40008, 40021, 40010, 40027, 40012, 57664};
const std::vector<unsigned> kUserMenu = {40006, 40030, 57665, 40008, 40021, 40010, 40027, 57664};
const std::vector<unsigned> kAdminTools = {40006, 40007, 40010, 40008, 40021, 40012, 40030, 40027};
const std::vector<unsigned> kUserTools = {40006, 40010, 40008, 40021, 40030, 40027};

} // namespace

// Counts the busy popups placed over a window.
struct PopupWatch : QObject {
    int count = 0;
    explicit PopupWatch(QWidget& window) { window.installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::ChildAdded &&
            dynamic_cast<CPopDlg*>(static_cast<QChildEvent*>(event)->child()) != nullptr)
            ++count;
        return false;
    }
};

// Runs fn once the window shows (the privilege read's busy popup runs first).
void WhenShown(QWidget& window, std::function<void()> fn)
{
    QTimer::singleShot(5, &window, [&window, fn = std::move(fn)]() mutable {
        if (window.isVisible())
            fn();
        else
            WhenShown(window, std::move(fn));
    });
}

class TestMainWindowSuite : public QObject {
    Q_OBJECT
    std::unique_ptr<SnmpTestAgent> m_agent;
    std::unique_ptr<testsupport::InstantPauses> m_pauses;
    testsupport::TempDir m_dir;              // the login memory of these tests
    std::optional<LoginRoad> road;           // each test's stand-in dialogs
    std::optional<MessageBoxRecorder> boxes; // and its boxes

private slots:
    void initTestCase() { GetNasContext()->SetIniPath((m_dir / "quom.ini").string()); }

    void init()
    {
        m_agent = std::make_unique<SnmpTestAgent>(Device());
        m_pauses = std::make_unique<testsupport::InstantPauses>();
        m_agent->PointContext();
        g_community = m_agent->Community();
        road.emplace();
        boxes.emplace();
    }
    void cleanup()
    {
        boxes.reset();
        road.reset();
        m_pauses.reset();
        m_agent.reset();
    }

    void administratorGetsTheFullBarsTitleAndTheShareFolderPage()
    {
        TestMainWindow dlg;
        // The privilege read runs on the worker behind a busy popup over the window.
        PopupWatch popups(dlg);
        QVERIFY(dlg.OnInitDialog());
        QCOMPARE(popups.count, 1);
        // Start-up mode, the main window as parent, then the setup dialog.
        QCOMPARE(road->modes, std::vector<int>{DISCOVER_START_UP});
        QCOMPARE(road->parents.front(), static_cast<QWidget*>(&dlg));
        QCOMPARE(road->setups, 1);
        QCOMPARE(boxes->Count(), size_t(0));
        // The road began with the login memory, which it created.
        QVERIFY(std::filesystem::exists(m_dir / "quom.ini"));

        QCOMPARE(GetNasContext()->m_userLevel, std::string("15"));
        QMenuBar* menu = dlg.GetCommandBars()->GetMenuBar();
        QVERIFY(menu != nullptr);
        QCOMPARE(menu->objectName(), QString("NAS Menu Bar"));
        QCOMPARE(MenuTitles(menu), (std::vector<std::string>{"&File", "&View", "&Setting", "&Help"}));
        QCOMPARE(MenuCommands(menu), kAdminMenu);
        QVERIFY(dlg.GetToolBar() != nullptr);
        QCOMPARE(dlg.GetToolBar()->objectName(), QString("NAS Tool Bar"));
        QCOMPARE(ToolCommands(dlg.GetToolBar()), kAdminTools);
        QVERIFY(!dlg.GetToolBar()->isMovable());
        QVERIFY(!dlg.GetToolBar()->isFloatable());
        QCOMPARE(dlg.windowTitle(), QString("NAS1-127.0.0.1 User:admin"));

        // Pages were registered after the bars: the first build refreshed none.
        QCOMPARE(dlg.sharePage->refreshes, 0);
        QCOMPARE(dlg.GetCurrentPageId(), 40008u);
        QCOMPARE(dlg.GetCurrentPage(), static_cast<CPageView*>(dlg.sharePage));
        QVERIFY(!dlg.sharePage->isHidden());
        QVERIFY(dlg.logPage->isHidden());
        QVERIFY(dlg.backupPage->isHidden());
        QCOMPARE(dlg.GetPages().size(), size_t(3));
        // The set-up size is the minimum.
        QCOMPARE(dlg.minimumSize(), dlg.size());
        // The whole window, bars and pages, passes the accessibility walk.
        EXPECT_ALL_NAMED(&dlg);
    }

    void onlyPrivilegeFifteenExactlyIsAnAdministrator()
    {
        for (const char* user : {"bob", "eve"}) {
            road.emplace();
            boxes.emplace();
            road->nextUser = user;
            TestMainWindow dlg;
            QVERIFY(dlg.OnInitDialog());
            QCOMPARE(GetNasContext()->m_userLevel, std::string(user == std::string("bob") ? "1" : "150"));
            QMenuBar* menu = dlg.GetCommandBars()->GetMenuBar();
            QCOMPARE(MenuTitles(menu), (std::vector<std::string>{"File", "&View", "&Help"}));
            QCOMPARE(MenuCommands(menu), kUserMenu);
            QCOMPARE(ToolCommands(dlg.GetToolBar()), kUserTools);
            QCOMPARE(dlg.windowTitle(), QString("NAS1-127.0.0.1 User:") + user);
            // The refusal of User Management for anyone but an administrator.
            dlg.OnCommand(ID_USER_MANAGEMENT);
            QCOMPARE(boxes->LastText(), std::string("Only admin can management user"));
        }
    }

    void cancelledDiscoveryOrSetupAtStartUpEndsBeforeTheWindowShows()
    {
        for (int cancelAt : {0, 1}) {
            road.emplace();
            (cancelAt == 0 ? road->discoverAnswer : road->setupAnswer) = IDCANCEL;
            TestMainWindow dlg;
            QCOMPARE(dlg.DoModal(), int(IDCANCEL));
            QVERIFY(!dlg.isVisible());
            QCOMPARE(road->setups, cancelAt);
            QVERIFY(dlg.GetCommandBars() == nullptr);
            QVERIFY(dlg.GetPages().empty());
        }
    }

    void switchingUserAndAdministratorRebuildsTheBarsAndRefreshesThePages()
    {
        TestMainWindow dlg;
        QVERIFY(dlg.OnInitDialog());
        QCOMPARE(ToolCommands(dlg.GetToolBar()), kAdminTools);

        road->nextUser = "bob";
        g_road.clear();
        dlg.OnCommand(ID_CHANGE_USER);
        // Every page's refresh jobs end before the login changes.
        QCOMPARE(g_road, (std::vector<std::string>{"stop", "stop", "stop", "login"}));
        QCOMPARE(road->modes.back(), int(DISCOVER_CHANGE_USER));
        QCOMPARE(road->setups, 2);
        QCOMPARE(MenuCommands(dlg.GetCommandBars()->GetMenuBar()), kUserMenu);
        QCOMPARE(ToolCommands(dlg.GetToolBar()), kUserTools);
        QCOMPARE(dlg.GetCommandBars()->GetToolBars().size(), size_t(1));
        QCOMPARE(dlg.windowTitle(), QString("NAS1-127.0.0.1 User:bob"));
        for (TestPage* p : {dlg.logPage, dlg.backupPage, dlg.sharePage})
            QCOMPARE(p->refreshes, 1);

        road->nextUser = "admin";
        dlg.OnCommand(ID_ATTACH_OTHER_NAS);
        QCOMPARE(road->modes.back(), int(DISCOVER_ATTACH_OTHER));
        QCOMPARE(MenuCommands(dlg.GetCommandBars()->GetMenuBar()), kAdminMenu);
        QCOMPARE(ToolCommands(dlg.GetToolBar()), kAdminTools);
        QCOMPARE(dlg.windowTitle(), QString("NAS1-127.0.0.1 User:admin"));
        QCOMPARE(dlg.sharePage->refreshes, 2);
        QCOMPARE(boxes->Count(), size_t(0));
    }

    void cancelledChangeUserChangesNothing()
    {
        TestMainWindow dlg;
        QVERIFY(dlg.OnInitDialog());
        QMenuBar* menu = dlg.GetCommandBars()->GetMenuBar();
        QToolBar* tools = dlg.GetToolBar();
        const uint64_t requests = m_agent->agent.RequestCount();

        road->discoverAnswer = IDCANCEL;
        dlg.OnCommand(ID_CHANGE_USER);
        // A refresh cut short for the login that did not come runs again.
        dlg.sharePage->refreshing = true;
        dlg.OnCommand(ID_ATTACH_OTHER_NAS);
        QCOMPARE(dlg.sharePage->refreshes, 1);
        QCOMPARE(dlg.logPage->refreshes, 0);
        QCOMPARE(road->modes, (std::vector<int>{DISCOVER_START_UP, DISCOVER_CHANGE_USER, DISCOVER_ATTACH_OTHER}));
        QCOMPARE(road->setups, 1);
        // Same bars, same title and privilege, no device traffic, no refresh.
        QCOMPARE(dlg.GetCommandBars()->GetMenuBar(), menu);
        QCOMPARE(dlg.GetToolBar(), tools);
        QCOMPARE(dlg.windowTitle(), QString("NAS1-127.0.0.1 User:admin"));
        QCOMPARE(GetNasContext()->m_userLevel, std::string("15"));
        QCOMPARE(m_agent->agent.RequestCount(), requests);
        QCOMPARE(boxes->Count(), size_t(0));
    }

    // Change User chosen with the mouse, by a double click on the toolbar's
    // button and in the File menu: one command, one login; it runs once the
    // click has been handled, and the bars it rebuilds leave the window then.
    void changeUserFromTheBarsRunsOnceAfterTheClick()
    {
        for (bool fromMenu : {false, true}) {
            road.emplace();
            TestMainWindow dlg;
            QPointer<QWidget> oldBar;
            bool aliveAfterClick = false, outOfWindow = false, rebuilt = false, gone = false;
            WhenShown(dlg, [&] {
                QToolBar* tools = dlg.GetToolBar();
                QMenuBar* menuBar = dlg.GetCommandBars()->GetMenuBar();
                road->nextUser = "bob";
                if (fromMenu) {
                    oldBar = menuBar;
                    QMenu* file = menuBar->actions().front()->menu();
                    QAction* change = nullptr;
                    for (QAction* a : file->actions())
                        if (a->data().toUInt() == ID_CHANGE_USER)
                            change = a;
                    QVERIFY(change != nullptr);
                    file->popup(dlg.mapToGlobal(QPoint(10, 10)));
                    QVERIFY(QTest::qWaitForWindowExposed(file));
                    QTest::mouseClick(file, Qt::LeftButton, {}, file->actionGeometry(change).center());
                } else {
                    oldBar = tools;
                    QAction* change = nullptr;
                    for (QAction* a : tools->actions())
                        if (a->data().toUInt() == ID_CHANGE_USER)
                            change = a;
                    QWidget* button = tools->widgetForAction(change);
                    QVERIFY(button != nullptr && button->isVisible());
                    // A double click: press, release, second press, release.
                    QTest::mouseClick(button, Qt::LeftButton);
                    QTest::mouseDClick(button, Qt::LeftButton);
                    QTest::mouseRelease(button, Qt::LeftButton);
                }
                aliveAfterClick = !oldBar.isNull();
                auto* poll = new QTimer(&dlg);
                QObject::connect(poll, &QTimer::timeout, &dlg, [&] {
                    if (!rebuilt && dlg.GetToolBar() != nullptr && dlg.GetToolBar() != oldBar &&
                        dlg.GetCommandBars()->GetMenuBar() != oldBar && ToolCommands(dlg.GetToolBar()) == kUserTools) {
                        rebuilt = true;
                        outOfWindow = oldBar.isNull() || oldBar->isHidden();
                    }
                    if (rebuilt && oldBar.isNull()) {
                        gone = true;
                        dlg.EndDialog(IDOK);
                    }
                });
                poll->start(5);
            });
            QTimer::singleShot(20000, &dlg, [&] { dlg.EndDialog(IDABORT); });
            QCOMPARE(dlg.DoModal(), int(IDOK));
            QCOMPARE(std::count(road->modes.begin(), road->modes.end(), int(DISCOVER_CHANGE_USER)), 1);
            QVERIFY(aliveAfterClick);
            QVERIFY(outOfWindow);
            QVERIFY(rebuilt);
            QVERIFY(gone);
        }
    }

    void cancelledSetupInTheReLoginRoadEndsTheProgram()
    {
        TestMainWindow dlg;
        bool stillRunningAfterKeys = false;
        WhenShown(dlg, [&] {
            // Esc and Enter never end the main window.
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(&dlg, &esc);
            QApplication::sendEvent(&dlg, &enter);
            QTimer::singleShot(0, &dlg, [&] {
                stillRunningAfterKeys = dlg.isVisible() && dlg.IsWindow();
                road->setupAnswer = IDCANCEL;
                dlg.OnCommand(ID_CHANGE_USER);
            });
        });
        QCOMPARE(dlg.DoModal(), 0);
        QVERIFY(stillRunningAfterKeys);
        QCOMPARE(road->setups, 2);
        QVERIFY(!dlg.isVisible());
    }

    void exitEndsTheRunAndTheCaptionCloseHidesInstead()
    {
        TestMainWindow dlg;
        bool shownMaximized = false, hidden = false, stillRunning = false;
        // Runs after the window's own maximise request.
        WhenShown(dlg, [&] {
            QTimer::singleShot(0, &dlg, [&] {
                shownMaximized = dlg.isVisible() && dlg.isMaximized() && !dlg.IsMinimizedToTray();
                dlg.close();
                hidden = dlg.IsMinimizedToTray();
                stillRunning = dlg.IsWindow();
                // The tray's Exit.
                dlg.OnCommand(ID_APP_EXIT);
            });
        });
        QCOMPARE(dlg.DoModal(), int(IDCANCEL));
        QVERIFY(shownMaximized);
        QVERIFY(hidden);
        QVERIFY(stillRunning);
        QVERIFY(!dlg.IsWindow());
    }

    void trayHidesAndRestoresMaximised()
    {
        TestMainWindow dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(dlg.GetTrayIcon() != nullptr && dlg.GetTrayIcon()->IsCreated());

        dlg.close();
        QVERIFY(dlg.IsMinimizedToTray());
        const bool away = !dlg.isVisible() || dlg.isMinimized();
        QVERIFY(away);
        // A second close while away does nothing.
        const Qt::WindowStates state = dlg.windowState();
        const bool visible = dlg.isVisible();
        dlg.close();
        QVERIFY(dlg.IsMinimizedToTray());
        QCOMPARE(dlg.windowState(), state);
        QCOMPARE(dlg.isVisible(), visible);

        // The icon's default action brings it back maximised.
        dlg.GetTrayIcon()->Activate();
        QVERIFY(!dlg.IsMinimizedToTray());
        QVERIFY(dlg.isVisible());
        QVERIFY(dlg.isMaximized());
        // And hides it again.
        dlg.GetTrayIcon()->Activate();
        QVERIFY(dlg.IsMinimizedToTray());
        dlg.GetTrayIcon()->Activate();
        QVERIFY(!dlg.IsMinimizedToTray());

        // Minimise and restore through the window's own commands.
        dlg.OnSysCommand(SC_MINIMIZE);
        QVERIFY(dlg.IsMinimizedToTray());
        dlg.OnSysCommand(SC_RESTORE);
        QVERIFY(!dlg.IsMinimizedToTray());
    }

    void systemLogRowsGoToTheLogPage()
    {
        TestMainWindow dlg;
        QVERIFY(dlg.OnInitDialog());
        ListCtrl* list = dlg.logPage->GetListCtrl();

        QVERIFY(dlg.PostMessage(WM_ADD_LOG, LOG_BACKUP, 0, LogRowMessage{"Backup task1 finished", "/tmp/r.txt"}));
        QVERIFY(dlg.PostMessage(WM_ADD_LOG, 7, 0, LogRowMessage{"odd kind", ""}));
        for (int kind : {LOG_SYSTEM, LOG_RESTORE, LOG_SCHEDULE})
            QVERIFY(dlg.PostMessage(WM_ADD_LOG, static_cast<uintptr_t>(kind), 0, LogRowMessage{"k", "f"}));
        QTRY_COMPARE(list->GetItemCount(), 5);
        QCOMPARE(list->GetItemText(0, 0), std::string("1"));
        QCOMPARE(list->GetItemText(0, 2), std::string("Backup"));
        QCOMPARE(list->GetItemText(0, 3), std::string("Backup task1 finished"));
        QCOMPARE(list->GetItemText(0, 4), std::string("/tmp/r.txt"));
        const std::string when = list->GetItemText(0, 1);
        QVERIFY2(when.size() > 4 && when[0] == ' ' && when.find(",  ") != std::string::npos, when.c_str());
        QCOMPARE(list->GetItemText(1, 0), std::string("2"));
        QCOMPARE(list->GetItemText(1, 2), std::string(""));
        QCOMPARE(list->GetItemText(1, 3), std::string("odd kind"));
        QCOMPARE(list->GetItemText(2, 2), std::string("System"));
        QCOMPARE(list->GetItemText(3, 2), std::string("Restore"));
        QCOMPARE(list->GetItemText(4, 2), std::string("Schedule Backup"));

        // Numbering follows the rows there are: after clearing it restarts.
        list->DeleteAllItems();
        QCOMPARE(dlg.SendMessage(WM_ADD_LOG, LOG_SYSTEM, 0, LogRowMessage{"again", ""}), intptr_t(1));
        QCOMPARE(list->GetItemText(0, 0), std::string("1"));
    }

    void systemLogRowsWithoutALogPageAreDropped()
    {
        TestMainWindow dlg;
        dlg.withPages = false;
        QVERIFY(dlg.OnInitDialog());
        QCOMPARE(dlg.SendMessage(WM_ADD_LOG, LOG_SYSTEM, 0, LogRowMessage{"x", ""}), intptr_t(1));
        QVERIFY(dlg.GetPages().empty());
        QVERIFY(dlg.GetCurrentPage() == nullptr);
    }

    void showingTheVisiblePageAgainDoesNothing()
    {
        TestMainWindow dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.OnCommand(ID_VIEW_SYSTEM_LOG);
        QCOMPARE(dlg.GetCurrentPageId(), 40027u);
        QVERIFY(!dlg.logPage->isHidden());
        QVERIFY(dlg.sharePage->isHidden());
        // Hidden behind the window's back: choosing it again must not touch it.
        dlg.logPage->hide();
        dlg.OnCommand(ID_VIEW_SYSTEM_LOG);
        QVERIFY(dlg.logPage->isHidden());
        dlg.OnCommand(ID_VIEW_BACKUP_RESTORE);
        QCOMPARE(dlg.GetCurrentPage(), static_cast<CPageView*>(dlg.backupPage));
        QVERIFY(!dlg.backupPage->isHidden());
        // An id without a page changes nothing.
        dlg.ShowPage(4242);
        QCOMPARE(dlg.GetCurrentPageId(), 40021u);
    }

    void pagesFollowTheWindowAndTheToolbar()
    {
        TestMainWindow dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QWidget* area = dlg.GetPageArea();
        QToolBar* tools = dlg.GetToolBar();
        QTRY_VERIFY(tools->height() > 0);
        const int top = area->mapTo(&dlg, QPoint(0, 0)).y();
        const int height = tools->height();
        QCOMPARE(dlg.sharePage->geometry(), area->rect());

        tools->hide();
        QTRY_COMPARE(area->mapTo(&dlg, QPoint(0, 0)).y(), top - height);
        QCOMPARE(dlg.sharePage->geometry(), area->rect());
        QVERIFY(dlg.sharePage->isVisible());
        tools->show();
        QTRY_COMPARE(area->mapTo(&dlg, QPoint(0, 0)).y(), top);
        QCOMPARE(dlg.sharePage->geometry(), area->rect());

        dlg.resize(dlg.width() + 120, dlg.height() + 80);
        QTRY_COMPARE(dlg.sharePage->width(), area->width());
        QCOMPARE(dlg.sharePage->geometry(), area->rect());
        QCOMPARE(dlg.logPage->geometry(), area->rect());
    }

    void failedPrivilegeReadClearsTheOldPrivilege()
    {
        TestMainWindow dlg;
        QVERIFY(dlg.OnInitDialog());
        QCOMPARE(GetNasContext()->m_userLevel, std::string("15"));
        const QString title = dlg.windowTitle();

        // The device does not answer for the level column.
        m_agent->agent.AddNoSuchNamePrefix(nasmib::kUserLevel);
        road->nextUser = "bob";
        dlg.OnCommand(ID_CHANGE_USER);
        QCOMPARE(boxes->LastText(), std::string("Timeout"));
        QCOMPARE(GetNasContext()->m_userLevel, std::string(""));
        QVERIFY(!GetNasContext()->IsAdministrator());
        QVERIFY(dlg.GetCommandBars()->GetMenuBar() == nullptr);
        QVERIFY(dlg.GetCommandBars()->GetToolBars().empty());
        QCOMPARE(dlg.windowTitle(), title);
        QCOMPARE(dlg.sharePage->refreshes, 0);
        // Which also keeps User Management shut.
        dlg.OnUserManagement();
        QCOMPARE(boxes->LastText(), std::string("Only admin can management user"));

        // A user the device does not list has no privilege to read either.
        m_agent->agent.ClearFaults();
        boxes->Clear();
        road->nextUser = "ghost";
        dlg.OnCommand(ID_CHANGE_USER);
        QCOMPARE(boxes->LastText(), std::string("Timeout"));
        QCOMPARE(GetNasContext()->m_userLevel, std::string(""));

        // The user-name column cannot be read at all.
        m_agent->agent.AddNoSuchNamePrefix(nasmib::kUserName);
        boxes->Clear();
        road->nextUser = "admin";
        dlg.OnCommand(ID_CHANGE_USER);
        QCOMPARE(boxes->LastText(), std::string("Timeout"));
        QCOMPARE(GetNasContext()->m_userLevel, std::string(""));
    }

    void deviceSettingOpensTheWebPageOnlyWithAPort()
    {
        TestMainWindow dlg;
        QVERIFY(dlg.OnInitDialog());
        std::vector<std::string> opened;
        bool browser = true;
        auto old = platform::SetShellOpenFunction([&](const std::string& url) {
            opened.push_back(url);
            return browser;
        });

        // Each port read runs on the worker: the window stays live.
        testsupport::BlockingCallCounter calls;

        m_agent->store.Set(nasmib::kWebPort, testbed::MibValue::Integer(8080));
        QVERIFY(TriggerMenuCommand(dlg.GetCommandBars()->GetMenuBar(), ID_DEVICE_SETTING));
        QCOMPARE(opened, std::vector<std::string>{"http://127.0.0.1:8080"});
        QCOMPARE(boxes->Count(), size_t(0));
        // Nothing to open it with: said, with the address.
        browser = false;
        dlg.OnCommand(ID_DEVICE_SETTING);
        QTRY_COMPARE(boxes->Count(), size_t(1));
        QVERIFY2(boxes->LastText().rfind("Could not open the device's web page http://127.0.0.1:8080: ", 0) == 0,
                 boxes->LastText().c_str());
        opened.pop_back();

        // A port the device cannot have is no port: no "http://ip:-1".
        m_agent->store.Set(nasmib::kWebPort, testbed::MibValue::Integer(0));
        dlg.OnCommand(ID_DEVICE_SETTING);
        QCOMPARE(opened.size(), size_t(1));
        QCOMPARE(boxes->LastText(), LoadString(715));
        QCOMPARE(boxes->Boxes().back().style & platform::MB_ICONMASK, unsigned(platform::MB_ICONHAND));

        // The device refuses the object (noSuchName, status 2): busy.
        m_agent->agent.AddNoSuchNamePrefix(nasmib::kWebPort);
        dlg.OnCommand(ID_DEVICE_SETTING);
        QCOMPARE(opened.size(), size_t(1));
        QCOMPARE(boxes->LastText(), std::string("NAS is busy"));
        QCOMPARE(calls.OnMakerThread(), 0);
        QVERIFY(calls.Elsewhere(BlockingCall::Snmp) >= 4);
        platform::SetShellOpenFunction(old);
    }

    void workersGetBoxesThroughTheMainWindow()
    {
        TestMainWindow dlg;
        QVERIFY(dlg.OnInitDialog());
        SetMainWindow(&dlg);
        std::thread worker([] { PostMessageBox("Disk full", platform::MB_OK | platform::MB_ICONWARNING); });
        QTRY_COMPARE(boxes->Count(), size_t(1));
        worker.join();
        SetMainWindow(nullptr);
        QCOMPARE(boxes->Boxes()[0].text, std::string("Disk full"));
        QCOMPARE(boxes->Boxes()[0].style, unsigned(platform::MB_OK | platform::MB_ICONWARNING));
        QVERIFY(boxes->Boxes()[0].onGuiThread);
    }

    void userManagementOpensItsDialogForAnAdministrator()
    {
        TestMainWindow dlg;
        QVERIFY(dlg.OnInitDialog());
        bool opened = false;
        auto old = Dialog::SetModalHook([&](Dialog& d) {
            if (dynamic_cast<CUserManagement*>(&d) != nullptr) {
                opened = d.parentWidget() == nullptr;
                d.EndDialog(IDOK);
            }
        });
        dlg.OnCommand(ID_USER_MANAGEMENT);
        Dialog::SetModalHook(old);
        QVERIFY(opened);
    }

    void deviceInformationOpensItsDialogWithoutAParent()
    {
        TestMainWindow dlg;
        QVERIFY(dlg.OnInitDialog());
        bool info = false;
        QWidget* parent = &dlg;
        auto old = Dialog::SetModalHook([&](Dialog& d) {
            if (dynamic_cast<CDeviceInfoDlg*>(&d) != nullptr) {
                info = true;
                parent = d.parentWidget();
            }
            d.EndDialog(IDOK);
        });
        dlg.OnCommand(ID_DEVICE_INFORMATION);
        Dialog::SetModalHook(old);
        QVERIFY(info);
        QVERIFY(parent == nullptr);
    }

    void aboutBox()
    {
        TestMainWindow dlg;
        QVERIFY(dlg.OnInitDialog());
        QString caption, version;
        auto old = Dialog::SetModalHook([&](Dialog& d) {
            caption = d.windowTitle();
            if (auto* about = dynamic_cast<CAboutDlg*>(&d))
                version = QString::fromStdString(about->GetVersionText());
            d.EndDialog(IDOK);
        });
        dlg.OnCommand(ID_APP_ABOUT);
        QCOMPARE(caption, QString("About NAS"));
        QCOMPARE(version, QString("Version 2.00.00  2009-02-10"));
        caption.clear();
        dlg.OnSysCommand(IDM_ABOUTBOX);
        QCOMPARE(caption, QString("About NAS"));
        Dialog::SetModalHook(old);
    }
};

QTEST_MAIN(TestMainWindowSuite)
#include "test_main_window.moc"
