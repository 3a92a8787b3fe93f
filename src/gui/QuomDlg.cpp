#include "QuomDlg.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QEventLoop>
#include <QLayout>
#include <QPointer>
#include <QTimer>
#include <QToolBar>
#include <ctime>
#include <optional>
#include <vector>

#include "AboutDlg.h"
#include "BackupRestorePage.h"
#include "BackupTask.h"
#include "Clock.h"
#include "CommandBars.h"
#include "ListCtrl.h"
#include "LoginDialogs.h"
#include "MessageBoxes.h"
#include "NasMib.h"
#include "ListFolderView.h"
#include "PageView.h"
#include "PopDlg.h"
#include "QUOMLOG_PAGE.h"
#include "Resources.h"
#include "ShellOpen.h"
#include "SnmpHelpers.h"
#include "TrayIcon.h"
#include "UserManagement.h"
#include "stdafx.h"
#include "ui_QuomDlg.h"

using namespace platform::gui;

namespace {

const PayloadRegistration<WM_ADD_LOG> g_addLogPayload;

// The quit message of the program: ends the main window's run.
constexpr unsigned WM_QUIT = 0x0012;

CQuomDlg::DiscoverDialogFunction g_discoverDialog;
CQuomDlg::SetupDialogFunction g_setupDialog;

int RunDiscoverDialog(int type, QWidget* parent)
{
    return g_discoverDialog ? g_discoverDialog(type, parent) : RunDiscoverNasDlg(type, parent);
}

int RunSetupDialog(QWidget* parent) { return g_setupDialog ? g_setupDialog(parent) : RunSetupWizardDlg(parent); }

} // namespace

CQuomDlg::DiscoverDialogFunction CQuomDlg::SetDiscoverDialogFunction(DiscoverDialogFunction run)
{
    DiscoverDialogFunction old = std::move(g_discoverDialog);
    g_discoverDialog = std::move(run);
    return old;
}

CQuomDlg::SetupDialogFunction CQuomDlg::SetSetupDialogFunction(SetupDialogFunction run)
{
    SetupDialogFunction old = std::move(g_setupDialog);
    g_setupDialog = std::move(run);
    return old;
}

CQuomDlg::CQuomDlg(QWidget* parent) : Dialog(parent), m_ui(std::make_unique<Ui::QuomDlg>())
{
    m_ui->setupUi(this);
    IgnoreEscAndEnter();
    // Resizable, maximisable, no minimise box; shown in the task bar.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(LoadIcon(125));
    m_ui->pageArea->installEventFilter(this);

    SetMessageHandler(WM_ADD_LOG, [this](const Message& m) { return OnAddLog(m); });
    SetMessageHandler(WM_QUIT, [this](const Message& m) {
        EndDialog(static_cast<int>(m.wParam));
        return intptr_t(1);
    });
}

CQuomDlg::~CQuomDlg()
{
    Detach();
    // The window owns its pages; they never delete themselves.
    m_currentPage = nullptr;
    for (auto& [id, page] : m_pages)
        delete page;
    m_pages.clear();
}

int CQuomDlg::DoModal()
{
    m_ended = false;
    m_code = 0;
    SetWindowExists(true);
    OnInitDialog();
    if (!m_ended) {
        show();
        QEventLoop loop;
        m_loop = &loop;
        if (!m_ended)
            loop.exec();
        m_loop = nullptr;
    }
    SetWindowExists(false);
    hide();
    return m_code;
}

void CQuomDlg::EndDialog(int code)
{
    m_code = code;
    m_ended = true;
    if (m_loop != nullptr)
        m_loop->exit(code);
}

void CQuomDlg::PostQuitMessage(int code) { PostMessage(WM_QUIT, static_cast<uintptr_t>(code)); }

// ---------------------------------------------------------------------------
// Set-up

bool CQuomDlg::RunLoginRoad()
{
    GetNasContext()->LoadLogin(nullptr);
    if (RunDiscoverDialog(DISCOVER_START_UP, this) != IDOK)
        return false;
    return RunSetupDialog(this) == IDOK;
}

bool CQuomDlg::OnInitDialog()
{
    if (!RunLoginRoad()) {
        OnCancel();
        return false;
    }

    m_commandBars = new CommandBars(this, [this](unsigned id) { OnCommand(id); });
    m_commandBars->SetVisibilityHandler([this](QWidget* bar, bool visible) { OnBarVisibilityChanged(bar, visible); });
    static_cast<QBoxLayout*>(layout())->insertWidget(0, m_commandBars->BarArea());
    BuildCommandBars();

    // There is no system menu to extend here: "About NAS..." (string 101) is
    // reached through Help.
    setWindowIcon(LoadIcon(125));

    layout()->activate();
    m_initialWindowRect = frameGeometry();
    m_initialClientRect = rect();
    m_pageRect = m_ui->pageArea->rect();
    // The size at set-up is the smallest the window gets.
    setMinimumSize(size());

    CreatePageSet();
    ShowPage(ID_VIEW_SHARE_FOLDER);

    m_trayIcon = new TrayIcon(this);
    m_trayIcon->Create("NAS", this, LoadIcon(125), 128, ID_TRAY_TOGGLE, [this](unsigned id) { OnCommand(id); });

    QTimer::singleShot(0, this, [this] { OnSysCommand(SC_MAXIMIZE); });
    return true;
}

void CQuomDlg::BuildCommandBars()
{
    if (m_commandBars == nullptr)
        return;
    m_commandBars->RemoveAll();

    CNasContext* ctx = GetNasContext();
    // A failed read must not leave the previous user's privilege behind.
    SetUserLevel("");
    // The reads retry for seconds on a slow device: they run on the worker
    // behind the busy popup, and the window stays responsive.
    struct Privilege {
        bool read = false;
        std::string level;
    };
    Privilege privilege;
    {
        CPopDlg popup(this);
        privilege = m_worker.RunModal<Privilege>(popup, [login = CopyLogin()](const platform::JobControl& job) {
            job.Say("Please wait..");
            Privilege p;
            std::string index;
            if (SnmpFindIndex(login, nasmib::kUserName, login.user, index) != 0)
                return p;
            p.read = SnmpGetWithRetry(login, std::string(nasmib::kUserLevel) + "." + index, p.level) == 0;
            return p;
        });
    }
    if (m_worker.Failed())
        return;
    if (!privilege.read) {
        ShowMessageBox(this, "Timeout", platform::MB_OK);
        return;
    }
    SetUserLevel(privilege.level);

    const bool admin = ctx->m_userLevel == "15";
    m_commandBars->SetMenu("NAS Menu Bar", admin ? 127 : 261);
    m_commandBars->AddToolBar("NAS Tool Bar", admin ? 244 : 262);

    SetTitle();
    for (auto& [id, page] : m_pages)
        page->Refresh();
}

void CQuomDlg::SetUserLevel(const std::string& level)
{
    CNasContext* ctx = GetNasContext();
    ctx->Lock();
    ctx->m_userLevel = level;
    ctx->Unlock();
}

void CQuomDlg::SetTitle()
{
    CNasContext* ctx = GetNasContext();
    std::string name(ctx->m_nasInfo.name, strnlen(ctx->m_nasInfo.name, sizeof ctx->m_nasInfo.name));
    setWindowTitle(QString::fromStdString(
        Format("%s-%s User:%s", name.c_str(), ctx->m_deviceAddress.c_str(), ctx->m_user.c_str())));
}

QToolBar* CQuomDlg::GetToolBar() const
{
    if (m_commandBars == nullptr || m_commandBars->GetToolBars().empty())
        return nullptr;
    return m_commandBars->GetToolBars().front();
}

QWidget* CQuomDlg::GetPageArea() const { return m_ui->pageArea; }

// ---------------------------------------------------------------------------
// Pages

void CQuomDlg::CreatePageSet()
{
    // Created in this order; the share-folder page is shown first.
    AddPage(ID_VIEW_SYSTEM_LOG, new CQUOMLOG_PAGE);
    AddPage(ID_VIEW_BACKUP_RESTORE, new CBackupRestorePage);
    AddPage(ID_VIEW_SHARE_FOLDER, new CListFolderView);
}

bool CQuomDlg::AddPage(unsigned id, CPageView* page)
{
    if (page == nullptr)
        return false;
    if (m_pages.count(id) != 0) {
        delete page;
        return false;
    }
    page->CreatePage(m_ui->pageArea->rect(), m_ui->pageArea);
    m_pages[id] = page;
    return true;
}

CPageView* CQuomDlg::GetPage(unsigned id) const
{
    auto it = m_pages.find(id);
    return it == m_pages.end() ? nullptr : it->second;
}

void CQuomDlg::ShowPage(unsigned id)
{
    if (id == m_currentPageId)
        return;
    CPageView* page = GetPage(id);
    if (page == nullptr || page == m_currentPage)
        return;
    if (m_currentPage != nullptr)
        m_currentPage->hide();
    m_currentPage = page;
    m_currentPageId = id;
    page->raise();
    page->show();
    FocusCurrentPage();
}

void CQuomDlg::FocusCurrentPage()
{
    if (m_currentPage != nullptr && m_currentPage->GetListCtrl() != nullptr)
        m_currentPage->GetListCtrl()->setFocus();
}

void CQuomDlg::LayOutPages()
{
    m_pageRect = m_ui->pageArea->rect();
    for (auto& [id, page] : m_pages) {
        page->setGeometry(m_pageRect);
        if (page->isVisible()) {
            page->raise();
            page->show();
        }
    }
}

void CQuomDlg::OnSize() { LayOutPages(); }

void CQuomDlg::OnBarVisibilityChanged(QWidget* bar, bool visible)
{
    (void)bar;
    (void)visible;
    // The page area sits right below the bars: it moves up by a hidden bar's
    // height and down again when the bar comes back.
    if (layout() != nullptr)
        layout()->activate();
    LayOutPages();
}

bool CQuomDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ui->pageArea && event->type() == QEvent::Resize)
        OnSize();
    return Dialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Messages

intptr_t CQuomDlg::OnAddLog(const Message& message)
{
    const LogRowMessage* row = Payload<WM_ADD_LOG>(message);
    CPageView* page = GetPage(ID_VIEW_SYSTEM_LOG);
    if (row == nullptr || page == nullptr)
        return 1;
    ListCtrl* list = page->GetListCtrl();

    const std::tm local = platform::LocalTime(platform::WallNow());
    char when[128] = {};
    std::strftime(when, sizeof when, " %X,  %x", &local);

    int n = list->GetItemCount();
    list->InsertItem(n, "");
    list->SetItemText(n, 0, std::to_string(n + 1));
    list->SetItemText(n, 1, when);
    const char* kind = "";
    switch (static_cast<int>(message.wParam)) {
    case LOG_SYSTEM: kind = "System"; break;
    case LOG_BACKUP: kind = "Backup"; break;
    case LOG_RESTORE: kind = "Restore"; break;
    case LOG_SCHEDULE: kind = "Schedule Backup"; break;
    default: break;
    }
    list->SetItemText(n, 2, kind);
    list->SetItemText(n, 3, row->description);
    list->SetItemText(n, 4, row->filePath);
    list->SetRedraw(true);
    return 1;
}

// ---------------------------------------------------------------------------
// Commands

void CQuomDlg::OnCommand(unsigned id)
{
    switch (id) {
    case ID_ATTACH_OTHER_NAS: OnAttachOtherNas(); break;
    case ID_CHANGE_USER: OnChangeUser(); break;
    case ID_VIEW_SHARE_FOLDER: OnViewShareFolder(); break;
    case ID_VIEW_BACKUP_RESTORE: OnViewBackupRestore(); break;
    case ID_VIEW_SYSTEM_LOG: OnViewSystemLog(); break;
    case ID_DEVICE_SETTING: OnDeviceSetting(); break;
    case ID_APP_ABOUT: OnAbout(); break;
    case ID_PREFERENCE: OnPreference(); break;
    case ID_TRAY_TOGGLE: OnTrayToggle(); break;
    case ID_APP_EXIT:
        // The application's exit closes the main dialog.
        OnCancel();
        break;
    case ID_USER_MANAGEMENT: OnUserManagement(); break;
    case ID_DEVICE_INFORMATION: OnDeviceInformation(); break;
    default: break;
    }
}

void CQuomDlg::RunReLoginRoad(int mode)
{
    // No refresh of the old login finishes into the pages of the new one.
    // A running backup keeps the login it started with and goes on.
    std::vector<CPageView*> stopped;
    for (auto& [id, page] : m_pages)
        if (page->StopRefresh())
            stopped.push_back(page);
    if (RunDiscoverDialog(mode, this) != IDOK) {
        // The login stays: pages whose refresh was cut short read again.
        for (CPageView* page : stopped)
            page->Refresh();
        FocusCurrentPage();
        return;
    }
    if (RunSetupDialog(this) == IDOK) {
        BuildCommandBars();
        FocusCurrentPage();
    } else {
        PostQuitMessage(0);
    }
}

void CQuomDlg::OnAttachOtherNas() { RunReLoginRoad(DISCOVER_ATTACH_OTHER); }

void CQuomDlg::OnChangeUser() { RunReLoginRoad(DISCOVER_CHANGE_USER); }

void CQuomDlg::OnUserManagement()
{
    if (GetNasContext()->m_userLevel != "15") {
        ShowMessageBox(this, "Only admin can management user", platform::MB_OK);
        return;
    }
    RunUserManagement(nullptr);
}

void CQuomDlg::OnDeviceInformation() { RunDeviceInfoDlg(nullptr); }

void CQuomDlg::OnDeviceSetting()
{
    // The port read retries for seconds on a slow or lost device: it runs on
    // the worker behind the busy popup.
    struct WebPort {
        int port = -1;
        int status = 0;
    };
    const LoginCopy login = CopyLogin();
    const std::optional<WebPort> read = RunBehindPopup(this, m_worker, [login](const platform::JobControl&) {
        WebPort w;
        w.port = GetNasWebPort(login, &w.status);
        return w;
    });
    if (!read)
        return;
    const int status = read->status;
    const int port = read->port;
    if (status == 2) {
        ShowMessageBox(this, "NAS is busy", platform::MB_ICONHAND);
        return;
    }
    if (status == -5) {
        ShowMessageBox(this, LoadString(715), platform::MB_ICONHAND);
        return;
    }
    if (status != 0) {
        ShowMessageBox(this, Format("snmp err ret %d", status), platform::MB_ICONHAND);
        return;
    }
    if (port < 0) {
        // An answer that holds no port is no answer.
        ShowMessageBox(this, LoadString(715), platform::MB_ICONHAND);
        return;
    }
    const std::string url = Format("http://%s:%d", login.address.c_str(), port);
    QPointer<CQuomDlg> self(this);
    platform::ShellOpen(url, [self, url](int status) {
        RunOnGuiThread([self, url, status] {
            if (self)
                ShowMessageBox(self,
                               "Could not open the device's web page " + url + ": " +
                                   platform::ShellOpenFailure(status) + ".",
                               platform::MB_ICONHAND);
        });
    });
}

void CQuomDlg::OnAbout()
{
    CAboutDlg about(this);
    about.DoModal();
}

// ---------------------------------------------------------------------------
// Window states

void CQuomDlg::OnSysCommand(unsigned id)
{
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        OnAbout();
        return;
    }
    switch (id) {
    case SC_CLOSE:
        if (!m_minimized) {
            if (m_trayIcon != nullptr)
                m_trayIcon->MinimizeToTray();
            m_minimized = true;
        }
        break;
    case SC_MINIMIZE:
        m_minimized = true;
        showMinimized();
        break;
    case SC_MAXIMIZE:
        m_minimized = false;
        showMaximized();
        break;
    case SC_RESTORE:
        m_minimized = false;
        showNormal();
        break;
    default: break;
    }
}

void CQuomDlg::OnTrayToggle()
{
    if (m_trayIcon == nullptr)
        return;
    if (m_minimized) {
        m_trayIcon->MaximizeFromTray();
        m_minimized = false;
    } else {
        m_trayIcon->MinimizeToTray();
        m_minimized = true;
    }
    DebugTrace("%s\n", windowTitle().toStdString().c_str());
}

void CQuomDlg::closeEvent(QCloseEvent* event)
{
    // The caption's close button never ends the program.
    event->ignore();
    OnSysCommand(SC_CLOSE);
}

void CQuomDlg::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange) {
        // The window manager minimised, maximised or restored the window.
        if (windowState() & Qt::WindowMinimized)
            m_minimized = true;
        else if (isVisible())
            m_minimized = false;
    }
    Dialog::changeEvent(event);
}
