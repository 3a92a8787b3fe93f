#pragma once
// The main window: menu bar and toolbar of an administrator or a plain user,
// the page area with one visible page out of the registered ones, the
// notification-area icon, the message-box service for workers and the System
// Log rows. Before it shows, its set-up runs the login road (discovery and
// login dialog, disk set-up dialog); "Attach Other NAS" and "Change User" run
// it again.
#include <QRect>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "Dialog.h"
#include "MessageBox.h"
#include "Worker.h"

class CPageView;
class QEventLoop;
class QToolBar;
struct LogRowMessage;
template <> struct platform::gui::MessagePayload<platform::gui::WM_ADD_LOG> {
    using type = LogRowMessage;
};

namespace platform::gui {
class CommandBars;
class TrayIcon;
} // namespace platform::gui
namespace Ui {
class QuomDlg;
}

// Command ids of the main window.
enum : unsigned {
    ID_ATTACH_OTHER_NAS = 40006,
    ID_USER_MANAGEMENT = 40007,
    ID_VIEW_SHARE_FOLDER = 40008,
    ID_DEVICE_INFORMATION = 40010,
    ID_PREFERENCE = 40011,
    ID_DEVICE_SETTING = 40012,
    ID_VIEW_BACKUP_RESTORE = 40021,
    ID_VIEW_SYSTEM_LOG = 40027,
    ID_CHANGE_USER = 40030,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_TRAY_TOGGLE = 102,
    IDM_ABOUTBOX = 0x10,
};

// System commands the window reacts to.
enum : unsigned {
    SC_MINIMIZE = 0xF020,
    SC_MAXIMIZE = 0xF030,
    SC_CLOSE = 0xF060,
    SC_RESTORE = 0xF120,
};

// Modes of the discovery and login dialog.
enum : int { DISCOVER_ATTACH_OTHER = 0, DISCOVER_START_UP = 1, DISCOVER_CHANGE_USER = 2 };

class CQuomDlg : public platform::gui::Dialog {
    Q_OBJECT
public:
    explicit CQuomDlg(QWidget* parent = nullptr);
    ~CQuomDlg() override;

    // The main window's run: set-up (which may end it at once), then the
    // window until Exit, a failed re-login or EndDialog. Hiding the window in
    // the notification area does not end the run.
    int DoModal() override;
    // Ends the main window's run (call it on this class: the base's
    // EndDialog does not reach this run's loop).
    void EndDialog(int code);

    // The dialogs of the login road. Each returns IDOK when confirmed. The
    // discovery and login dialog gets its mode (DISCOVER_*) and the parent.
    using DiscoverDialogFunction = std::function<int(int type, QWidget* parent)>;
    using SetupDialogFunction = std::function<int(QWidget* parent)>;
    // Replace them (tests); an empty function restores the program's dialog.
    // Each returns the one it replaces.
    static DiscoverDialogFunction SetDiscoverDialogFunction(DiscoverDialogFunction run);
    static SetupDialogFunction SetSetupDialogFunction(SetupDialogFunction run);

    // Commands, as the menus, the toolbar and the tray icon deliver them.
    void OnCommand(unsigned id);
    void OnAttachOtherNas();
    void OnChangeUser();
    void OnViewShareFolder() { ShowPage(ID_VIEW_SHARE_FOLDER); }
    void OnViewBackupRestore() { ShowPage(ID_VIEW_BACKUP_RESTORE); }
    void OnViewSystemLog() { ShowPage(ID_VIEW_SYSTEM_LOG); }
    void OnUserManagement();
    void OnDeviceInformation();
    void OnDeviceSetting();
    void OnAbout();
    void OnPreference() {}
    void OnTrayToggle();
    // Minimise, maximise, restore, close (to the notification area), About.
    void OnSysCommand(unsigned id);

    // Privilege, menus, toolbar, title, and a refresh of every page.
    void BuildCommandBars();
    // Shows the page registered under id and hides the current one.
    void ShowPage(unsigned id);

    // The page registry: the window creates the page on the page area and
    // owns it from then on. False (page deleted) when the id is taken.
    bool AddPage(unsigned id, CPageView* page);
    CPageView* GetPage(unsigned id) const;
    const std::map<unsigned, CPageView*>& GetPages() const { return m_pages; }
    CPageView* GetCurrentPage() const { return m_currentPage; }
    unsigned GetCurrentPageId() const { return m_currentPageId; }

    platform::gui::CommandBars* GetCommandBars() const { return m_commandBars; }
    QToolBar* GetToolBar() const;
    platform::gui::TrayIcon* GetTrayIcon() const { return m_trayIcon; }
    QWidget* GetPageArea() const;
    bool IsMinimizedToTray() const { return m_minimized; }

protected:
    bool OnInitDialog() override;
    // The login road of the set-up: true when a device is logged in and its
    // disks are ready.
    bool RunLoginRoad();
    // The pages of the window, created on the page area and registered.
    virtual void CreatePageSet();
    // Exit ends the run; OK (Enter) never does.
    void OnOK() override {}
    void OnCancel() override { EndDialog(platform::IDCANCEL); }

    intptr_t OnAddLog(const platform::gui::Message& message);
    void OnBarVisibilityChanged(QWidget* bar, bool visible);
    void OnSize();
    // Posts the end of the program's run.
    void PostQuitMessage(int code);

    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Attach Other NAS and Change User: the page jobs end, then the login
    // dialog in that mode, then the setup dialog.
    void RunReLoginRoad(int mode);
    // The privilege of the login, kept in the context under its lock.
    static void SetUserLevel(const std::string& level);
    void SetTitle();
    void LayOutPages();
    // The keys go to the shown page's list.
    void FocusCurrentPage();

    std::unique_ptr<Ui::QuomDlg> m_ui;
    platform::gui::CommandBars* m_commandBars = nullptr;
    platform::gui::Worker m_worker; // the privilege and web port reads
    CPageView* m_currentPage = nullptr;
    unsigned m_currentPageId = 0;
    std::map<unsigned, CPageView*> m_pages;
    QRect m_pageRect;
    QRect m_initialClientRect;
    QRect m_initialWindowRect;
    platform::gui::TrayIcon* m_trayIcon = nullptr;
    bool m_minimized = false;

    QEventLoop* m_loop = nullptr;
    bool m_ended = false;
    int m_code = 0;
};
