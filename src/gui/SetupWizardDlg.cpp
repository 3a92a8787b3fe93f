#include "SetupWizardDlg.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <sys/stat.h>
#include <system_error>

#include "HttpRequest.h"
#include "MessageBoxes.h"
#include "NasFinder.h"
#include "NasMib.h"
#include "PostMessageBox.h"
#include "Resources.h"
#include "SnmpHelpers.h"
#include "SocketError.h"
#include "TcpSocket.h"
#include "stdafx.h"
#include "ui_SetupWizardDlg.h"
#include "y_snmp.h"

using namespace platform::gui;

namespace {

// Messages from the worker to the dialog.
constexpr unsigned WM_WIZARD_UPDATE = WM_USER + 40; // data: WizardUpdate
constexpr unsigned WM_WIZARD_DONE = WM_USER + 41;

constexpr const char* kModeDescriptions[4] = {
    "Individual Disks: Disks will be treated as two individual disks",
    "RAID 0 (Stripe): Stripe data to different disks for acceleration disk access. Caution, if stripe fails, all "
    "data will be lost.",
    "RAID 1 (Mirror): Data will be mirrored to the second disk.  The two disk will appear as one disk. If one disk "
    "fails, data can be recovered from the other disk.",
    "JBOD: The two drives will appear as a single large disk.   If either disk fails, all data may be lost.",
};
constexpr const char* kNormalDescription = "Normal: Normal mode";
constexpr const char* kMirrorDescription = "Mirror: One of the hard-disk will backup data from the other hard-disk";

// Reading a UDP status answer as the device's status byte: 255 is the
// device's "no answer yet".
constexpr int kStatusNoAnswer = 255;
// Progress answers that may go missing in a row before the format is given up.
constexpr int kFormatPollRetries = 11;
// Countdown while the device reboots after an install, in seconds.
constexpr int kRebootSeconds = 70;
// Bound on sending one packet of the upload.
constexpr unsigned kPacketSendTimeoutMs = kHttpConnectTimeoutMs;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// The state texts of the information shown when the wizard opens.
const char* DiskInfoStateText(int state)
{
    switch (state) {
    case nasmib::kDiskStateUnformatted: return "Unformat";
    case nasmib::kDiskStateFormatting: return "Formating";
    case nasmib::kDiskStateNotInstalled: return "Uninitial";
    case nasmib::kDiskStateReady: return "Normal";
    default: return "";
    }
}

// The state texts while a procedure runs.
const char* DiskProgressStateText(int state)
{
    switch (state) {
    case nasmib::kDiskStateReady: return "Finish";
    case nasmib::kDiskStateUnformatted: return "Unformat";
    case nasmib::kDiskStateFormatting: return "Formatting";
    case nasmib::kDiskStateNotInstalled: return "Uninstall";
    default: return "";
    }
}

// Connect failures the device's own box described with no text: show what
// the socket layer knows about them.
std::string ConnectFailureText(int code)
{
    if (code == WSAETIMEDOUT || code == WSAECONNREFUSED)
        return SocketErrorMessage(code);
    return Format("Socket Connect Fail!!\nSocket Error code: %d", code);
}

struct LoginCopy {
    std::string address;
    std::string user;
    std::string community;
    NasInfo device{};
    uint32_t udpTimeout = 0;
};

LoginCopy CopyLogin()
{
    LoginCopy copy;
    CNasContext* context = GetNasContext();
    context->Lock();
    copy.address = context->m_deviceAddress;
    copy.user = context->m_user;
    copy.community = context->m_community;
    copy.device = context->m_nasInfo;
    copy.udpTimeout = context->m_udpTimeout;
    context->Unlock();
    return copy;
}

} // namespace

// ---------------------------------------------------------------------------

CSetupWizardDlg::CSetupWizardDlg(QWidget* parent) : Dialog(parent), m_ui(std::make_unique<Ui::SetupWizardDlg>())
{
    m_ui->setupUi(this);
    IgnoreEscAndEnter();
    connect(m_ui->nextButton, &QPushButton::clicked, this, [this] { OnNext(); });
    connect(m_ui->cancelButton, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(m_ui->modeCombo, qOverload<int>(&QComboBox::activated), this,
            [this](int item) { OnSelchangeFormatMode(item); });
    SetMessageHandler(WM_SHOW_MESSAGE, [this](const Message& m) { return OnShowMessage(m); });
    SetMessageHandler(WM_WIZARD_UPDATE, [this](const Message& m) { return OnWorkerUpdate(m); });
    SetMessageHandler(WM_WIZARD_DONE, [this](const Message& m) { return OnWorkerDone(m); });
}

CSetupWizardDlg::~CSetupWizardDlg()
{
    // Later posts and boxes of the worker find no window and return at once.
    Detach();
    StopWorker();
}

void CSetupWizardDlg::StopWorker()
{
    {
        std::lock_guard<std::mutex> guard(m_stopLock);
        m_stop = true;
    }
    m_stopSignal.notify_all();
    // The worker may be waiting for the GUI thread (a box, a sent message):
    // keep serving it until it has run out.
    while (!m_workerFinished.load()) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (m_worker.joinable())
        m_worker.join();
    m_workerRunning = false;
}

QWidget* CSetupWizardDlg::GetDlgItem(int id) const
{
    switch (id) {
    case IDC_SETUP_NEXT: return m_ui->nextButton;
    case IDC_SETUP_CANCEL: return m_ui->cancelButton;
    case IDC_SETUP_PROGRESS: return m_ui->progress;
    case IDC_SETUP_DISK1_SIZE: return m_ui->disk1Size;
    case IDC_SETUP_DISK2_SIZE: return m_ui->disk2Size;
    case IDC_SETUP_DISK1_STATUS: return m_ui->disk1Status;
    case IDC_SETUP_DISK2_STATUS: return m_ui->disk2Status;
    case IDC_SETUP_PROMPT: return m_ui->prompt;
    case IDC_SETUP_MODE_LABEL: return m_ui->modeLabel;
    case IDC_SETUP_DESCRIPTION: return m_ui->description;
    case IDC_SETUP_TYPE: return m_ui->typeCombo;
    case IDC_SETUP_TYPE_LABEL: return m_ui->typeLabel;
    case IDC_SETUP_MODE: return m_ui->modeCombo;
    default: return nullptr;
    }
}

int CSetupWizardDlg::DiskModeOfItem(int item)
{
    static constexpr int kModes[4] = {0, 3, 1, 4};
    return item >= 0 && item < 4 ? kModes[item] : 0;
}

int CSetupWizardDlg::PercentOf(uint64_t done, uint64_t total)
{
    if (total == 0)
        return 0;
    // done * 100 cannot overflow for the device's 32-bit counters; larger
    // values are divided first.
    uint64_t percent = done <= UINT64_MAX / 100 ? done * 100 / total : done / total * 100;
    return percent > 100 ? 100 : static_cast<int>(percent);
}

// ---------------------------------------------------------------------------
// GUI thread

bool CSetupWizardDlg::OnInitDialog()
{
    m_stop = false;
    m_done = false;
    m_modeFixed = false;
    m_ui->progress->hide();
    m_ui->description->setText(kNormalDescription);
    m_ui->modeCombo->setCurrentIndex(0);
    m_ui->typeCombo->setCurrentIndex(0);
    ShowModeDescription(0);

    LoginCopy login = CopyLogin();
    const int d1 = login.device.disk1State;
    const int d2 = login.device.disk2State;
    const bool unformatted1 = d1 == nasmib::kDiskStateUnformatted;
    const bool unformatted2 = d2 == nasmib::kDiskStateUnformatted;
    bool showInfo = false;
    if (unformatted1 || unformatted2) {
        showInfo = true;
        m_formatNeeded = true;
        m_installNeeded = !(d1 == nasmib::kDiskStateReady || d2 == nasmib::kDiskStateReady);
        m_ui->prompt->setText(unformatted1 && unformatted2
                                  ? "System detected two unformat hard disks,\nplease select one of the format modes, "
                                    "select one of the format types  and then click the \"Next\" button when ready."
                                  : "System detectd one unformat hard disk.\nplease select one of the format modes, "
                                    "select one of the format types  and then click the \"Next\" button when ready.");
    } else {
        m_formatNeeded = false;
        if (d1 == nasmib::kDiskStateNotInstalled || d2 == nasmib::kDiskStateNotInstalled) {
            showInfo = true;
            for (QWidget* w : {static_cast<QWidget*>(m_ui->typeCombo), static_cast<QWidget*>(m_ui->modeLabel),
                               static_cast<QWidget*>(m_ui->modeCombo), static_cast<QWidget*>(m_ui->typeLabel),
                               static_cast<QWidget*>(m_ui->description)})
                w->hide();
            m_ui->prompt->setText(
                "System detect uninititalzed hard-disk.\nPlease press next when ready to initialize the hard-disk");
            m_installNeeded = true;
        } else {
            m_installNeeded = false;
        }
    }

    // Nothing to do, or nobody who may do it: no device traffic at all.
    if ((!m_formatNeeded && !m_installNeeded) || login.user != "admin") {
        EndDialog(platform::IDOK);
        return true;
    }
    if (showInfo)
        ShowDiskInfo();

    CSnmpEngine engine;
    engine.SetAddress(login.address);
    engine.SetReadCommunity(login.community);
    engine.SetWriteCommunity(login.community);
    std::string value;
    if (engine.SimpleGet(nasmib::kFormatType, value) == 0) {
        switch (std::atoi(value.c_str())) {
        case 0:
            m_ui->modeCombo->setEnabled(true);
            break;
        case 1:
            m_modeFixed = true;
            m_ui->modeCombo->clear();
            m_ui->modeCombo->addItem("Individual disks");
            m_diskMode = 0;
            m_ui->description->setText(kNormalDescription);
            break;
        case 2:
            m_modeFixed = true;
            m_ui->modeCombo->clear();
            m_ui->modeCombo->addItem("RAID 1 (Mirrored)");
            m_diskMode = 1;
            m_ui->description->setText(kMirrorDescription);
            break;
        default:
            break;
        }
    }
    return true;
}

void CSetupWizardDlg::ShowDiskInfo()
{
    LoginCopy login = CopyLogin();
    CSnmpEngine engine;
    engine.SetAddress(login.address);
    engine.SetReadCommunity(login.community);
    engine.SetWriteCommunity(login.community);

    struct Row {
        const char* disk;
        int state;
        QLabel* size;
        QLabel* status;
    };
    const Row rows[2] = {{"1", login.device.disk1State, m_ui->disk1Size, m_ui->disk1Status},
                         {"2", login.device.disk2State, m_ui->disk2Size, m_ui->disk2Status}};
    for (const Row& row : rows) {
        if (row.disk[0] == '2' && row.state == nasmib::kDiskStateNone)
            continue;
        std::string totalOid = NasCell(nasmib::kDiskTotalSize, row.disk);
        std::string usedOid = NasCell(nasmib::kDiskUsedSize, row.disk);
        const char* oids[2] = {totalOid.c_str(), usedOid.c_str()};
        char total[64] = "", used[64] = "";
        char* values[2] = {total, used};
        unsigned megabytes = 0;
        if (engine.MultiGet(2, oids, values, sizeof total) == 0)
            megabytes = static_cast<unsigned>(std::strtoul(total, nullptr, 10));
        row.size->setText(QString::fromStdString(megabytes == 0 ? std::string("Unknow") : FormatDiskSize(megabytes)));
        row.status->setText(DiskInfoStateText(row.state));
    }
}

void CSetupWizardDlg::ShowModeDescription(int item)
{
    if (item >= 0 && item < 4)
        m_ui->description->setText(kModeDescriptions[item]);
}

void CSetupWizardDlg::OnSelchangeFormatMode(int item)
{
    if (!m_modeFixed)
        ShowModeDescription(item);
}

void CSetupWizardDlg::OnNext()
{
    // A second click that arrives before the first one's worker is done.
    if (m_workerRunning || !m_ui->nextButton->isEnabled())
        return;
    m_ui->cancelButton->setEnabled(false);
    for (QWidget* w : {static_cast<QWidget*>(m_ui->modeLabel), static_cast<QWidget*>(m_ui->typeLabel),
                       static_cast<QWidget*>(m_ui->modeCombo), static_cast<QWidget*>(m_ui->typeCombo),
                       static_cast<QWidget*>(m_ui->description)})
        w->hide();
    if (!m_modeFixed)
        m_diskMode = DiskModeOfItem(m_ui->modeCombo->currentIndex());
    m_formatType = m_ui->typeCombo->currentIndex() + 2;

    if (m_done) {
        EndDialog(platform::IDOK);
        return;
    }
    Job job;
    job.formatType = m_formatType;
    job.diskMode = m_diskMode;
    job.install = m_installNeeded;
    if (m_formatNeeded) {
        int answer = ShowMessageBox(
            this, "The data in the disk will be lost if doing format action.\nAre you sure to continue?",
            platform::MB_OKCANCEL);
        if (answer != platform::IDOK) {
            EndDialog(platform::IDCANCEL);
            return;
        }
        job.format = true;
        StartWorker(job, "Create format Thread Fail");
    } else if (m_installNeeded) {
        StartWorker(job, "Create Install Thread Fail");
    }
}

bool CSetupWizardDlg::StartWorker(const Job& job, const char* failureText)
{
    // Next goes grey before the worker exists, so no second click can start
    // another one.
    m_ui->nextButton->setEnabled(false);
    if (m_worker.joinable())
        m_worker.join(); // an earlier run that already reported its end
    m_stop = false;
    m_workerFinished = false;
    try {
        m_worker = std::thread([this, job] {
            if (job.format)
                FormatThread(job);
            else
                InstallThread(job);
            m_workerFinished = true;
        });
    } catch (const std::system_error&) {
        m_workerFinished = true;
        ShowMessageBox(this, failureText, platform::MB_OK);
        m_ui->nextButton->setEnabled(true);
        m_ui->cancelButton->setEnabled(true);
        return false;
    }
    m_workerRunning = true;
    return true;
}

void CSetupWizardDlg::OnCancel()
{
    if (m_workerRunning)
        return;
    EndDialog(platform::IDCANCEL);
}


intptr_t CSetupWizardDlg::OnShowMessage(const Message& message)
{
    std::string text;
    if (const std::string* s = std::any_cast<std::string>(&message.data))
        text = *s;
    return ShowMessageBox(this, text, static_cast<unsigned>(message.wParam));
}

intptr_t CSetupWizardDlg::OnWorkerUpdate(const Message& message)
{
    if (const WizardUpdate* update = std::any_cast<WizardUpdate>(&message.data))
        ApplyUpdate(*update);
    return 0;
}

void CSetupWizardDlg::ApplyUpdate(const WizardUpdate& u)
{
    if (u.prompt)
        m_ui->prompt->setText(QString::fromStdString(*u.prompt));
    if (u.progress)
        m_ui->progress->setValue(*u.progress);
    if (u.progressVisible)
        m_ui->progress->setVisible(*u.progressVisible);
    if (u.nextCaption)
        m_ui->nextButton->setText(QString::fromStdString(*u.nextCaption));
    if (u.nextEnabled)
        m_ui->nextButton->setEnabled(*u.nextEnabled);
    if (u.cancelEnabled)
        m_ui->cancelButton->setEnabled(*u.cancelEnabled);
    if (u.focusNext)
        m_ui->nextButton->setFocus();
    if (u.hideModeControls) {
        m_ui->modeLabel->hide();
        m_ui->modeCombo->hide();
    }
    if (u.disk1Status)
        m_ui->disk1Status->setText(QString::fromStdString(*u.disk1Status));
    if (u.disk2Status)
        m_ui->disk2Status->setText(QString::fromStdString(*u.disk2Status));
    if (u.formatNeeded)
        m_formatNeeded = *u.formatNeeded;
    if (u.done)
        m_done = *u.done;
}

intptr_t CSetupWizardDlg::OnWorkerDone(const Message&)
{
    if (m_worker.joinable())
        m_worker.join();
    m_workerRunning = false;
    return 0;
}

// ---------------------------------------------------------------------------
// Worker thread

void CSetupWizardDlg::Post(const WizardUpdate& update)
{
    PostMessage(WM_WIZARD_UPDATE, 0, 0, update);
}

void CSetupWizardDlg::Prompt(const std::string& text)
{
    WizardUpdate u;
    u.prompt = text;
    Post(u);
}

void CSetupWizardDlg::ErrorBox(const std::string& text)
{
    if (!Stopping())
        PostMessageBox(text, platform::MB_ICONERROR, this);
}

bool CSetupWizardDlg::Pause(Delay delay)
{
    return Pause(DelayMs(delay));
}

bool CSetupWizardDlg::Pause(int milliseconds)
{
    std::unique_lock<std::mutex> lock(m_stopLock);
    return !m_stopSignal.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_stop.load(); });
}

void CSetupWizardDlg::FormatThread(Job job)
{
    WizardUpdate start;
    start.nextEnabled = false;
    start.progress = 0;
    start.progressVisible = true;
    Post(start);

    bool ok = FormatDisks(job);
    WizardUpdate after;
    after.progressVisible = false;
    Post(after);

    if (ok) {
        if (job.install) {
            WizardUpdate u;
            u.prompt = "Waiting remote install procedure";
            u.hideModeControls = true;
            u.formatNeeded = false;
            Post(u);
            InstallPart();
        } else {
            WizardUpdate u;
            u.nextCaption = "Finish";
            u.prompt = "Format successfully.";
            u.done = true;
            u.nextEnabled = true;
            u.focusNext = true;
            Post(u);
        }
    } else {
        WizardUpdate u;
        u.cancelEnabled = true;
        u.nextCaption = "Retry";
        u.prompt = "Click \"Retry\" button to format again.";
        u.nextEnabled = true;
        Post(u);
    }
    PostMessage(WM_WIZARD_DONE);
}

void CSetupWizardDlg::InstallThread(Job)
{
    InstallPart();
    PostMessage(WM_WIZARD_DONE);
}

bool CSetupWizardDlg::InstallPart()
{
    bool ok = false;
    std::FILE* file = std::fopen(kPackageFile, "rb");
    if (file == nullptr) {
        ErrorBox("Could not found default package file.");
    } else {
        WizardUpdate start;
        start.nextEnabled = false;
        start.progress = 0;
        start.progressVisible = true;
        Post(start);
        ok = UploadRemotePackage(file);
        std::fclose(file);
        WizardUpdate after;
        after.progressVisible = false;
        Post(after);
    }

    if (ok) {
        for (int seconds = kRebootSeconds; seconds >= 1 && !Stopping(); --seconds) {
            Prompt(Format("Waiting %d seconds for NAS rebooting.", seconds));
            Pause(Delay::SetupRebootTick);
        }
        RefreshDiskStatus();
        WizardUpdate u;
        u.nextCaption = "Finish";
        u.prompt = "Install successfully.";
        u.done = true;
        Post(u);
    } else {
        WizardUpdate u;
        u.cancelEnabled = true;
        u.nextCaption = "Retry";
        u.prompt = "Click \"Retry\" button to install again.";
        Post(u);
    }
    // The device keeps its name across the install only when it is written
    // again; this happens before Next comes back so the wizard cannot close
    // in the middle of it.
    if (!Stopping())
        WriteBackDeviceName();
    WizardUpdate last;
    last.nextEnabled = true;
    last.focusNext = true;
    Post(last);
    return ok;
}

void CSetupWizardDlg::WriteBackDeviceName()
{
    std::string name;
    // Only a name that was read goes back: a failed read must not rename the
    // device to nothing.
    if (SnmpGetWithRetry(nasmib::kDeviceName, name) == 0)
        SnmpSetWithRetry(nasmib::kDeviceName, name);
    else
        DebugTrace("setup: device name not read, not written back\n");
}

void CSetupWizardDlg::RefreshDiskStatus()
{
    LoginCopy login = CopyLogin();
    int d1 = 0, d2 = 0;
    if (GetDiskStatus(login.address, login.community, &d1, &d2) != 0)
        return;
    WizardUpdate u;
    u.disk1Status = DiskProgressStateText(d1);
    u.disk2Status = DiskProgressStateText(d2);
    Post(u);
}

bool CSetupWizardDlg::FormatDisks(const Job& job)
{
    LoginCopy login = CopyLogin();
    std::string password = GetUserPassword(login.user);
    if (password.empty())
        return false;

    Prompt("Waiting to format Disk..");
    int port = GetNasWebPort(nullptr);
    if (port == -1) {
        if (!Stopping())
            PostMessageBox("NAS is busy or disconnected", platform::MB_OK, this);
        return false;
    }

    // The web server must take connections before the form goes out.
    {
        CTcpSocket probe;
        if (!probe.Create()) {
            ErrorBox(Format("Socket Create Fail!!\nSocket Error code: %d", GetLastSocketError()));
            return false;
        }
        if (!probe.Connect(login.address, static_cast<unsigned>(port), kHttpConnectTimeoutMs)) {
            ErrorBox(ConnectFailureText(GetLastSocketError()));
            return false;
        }
    }

    std::string request = BuildInitDiskRequest(login.address, MakeBasicAuthorization(login.user, password),
                                               job.formatType, job.diskMode);
    int sent = SendHttpRequest(login.address, static_cast<unsigned>(port), request);
    if (sent != kHttpOk) {
        // A request the device did not take (no answer, or not "200 OK")
        // ends here: nothing was started that could be followed.
        int code = GetLastSocketError();
        ErrorBox(code != 0 ? Format("send http header Fail!!\nError code: %u", static_cast<unsigned>(code))
                           : Format("send http header Fail!!\nError code: %d", sent));
        return false;
    }

    if (!Pause(Delay::SetupFormatStart))
        return false;
    if (FinderInit() != FINDER_OK) {
        ErrorBox(LoadString(728));
        return false;
    }

    bool success = false;
    std::string error;
    int retries = 0;
    while (!Stopping()) {
        unsigned done = 0, total = 0;
        int s = FinderGetProgress(&login.device, &done, &total, static_cast<int>(login.udpTimeout));
        bool stop = false;
        switch (s) {
        case 1:
        case 3:
        case 5: {
            retries = 0;
            if (total != 0) {
                int percent = PercentOf(done, total);
                WizardUpdate u;
                u.prompt = s == 5 ? Format("Formatting Disk...%d%%", percent)
                                  : Format("Formatting Disk%d...%d%%", s == 1 ? 1 : 2, percent);
                u.progress = percent;
                Post(u);
                RefreshDiskStatus();
            }
            break;
        }
        case 2:
        case 4:
            break;
        case 0: {
            int d1 = 0, d2 = 0;
            if (GetDiskStatus(login.address, login.community, &d1, &d2) == 0 &&
                d1 != nasmib::kDiskStateUnformatted && d1 != nasmib::kDiskStateFormatting &&
                d2 != nasmib::kDiskStateUnformatted && d2 != nasmib::kDiskStateFormatting) {
                success = true;
                stop = true;
            }
            break;
        }
        case FINDER_ERR_TIMEOUT:
        case kStatusNoAnswer:
            if (++retries >= kFormatPollRetries) {
                error = "discover timeout";
                stop = true;
            }
            break;
        case FINDER_ERR_SOCKET:
            error = "DS_MSG_NETWORK_ERROR";
            stop = true;
            break;
        default:
            error = Format("unexpected ret error %d", s);
            stop = true;
            break;
        }
        if (stop || !Pause(Delay::SetupFormatPoll))
            break;
    }

    RefreshDiskStatus();
    FinderCleanup();
    if (success) {
        Prompt("Format Successfully.");
        return true;
    }
    if (!error.empty())
        ErrorBox(error);
    return false;
}

CSetupWizardDlg::BodyResult CSetupWizardDlg::SendPackageBody(
    std::FILE* file, uint64_t fileSize, const std::function<bool(const char* data, size_t size)>& sendPacket,
    const std::function<void(uint64_t sent, uint64_t count)>& onPacket, const std::atomic<bool>* stop,
    int* readError)
{
    const std::string header = RemoteInstallPartHeader();
    const std::string closing = RemoteInstallClosingPart();
    const uint64_t bodyLength = header.size() + fileSize + closing.size();
    const uint64_t count = (bodyLength + kPacketSize - 1) / kPacketSize;

    char packet[kPacketSize];
    size_t fill = 0;
    uint64_t sent = 0;
    auto flush = [&]() -> bool {
        if (!sendPacket(packet, fill))
            return false;
        fill = 0;
        ++sent;
        if (onPacket)
            onPacket(sent, count);
        return true;
    };
    // Copies text into packets, sending each full one.
    auto add = [&](const char* data, size_t size) -> bool {
        while (size > 0) {
            size_t n = std::min(size, kPacketSize - fill);
            std::memcpy(packet + fill, data, n);
            fill += n;
            data += n;
            size -= n;
            if (fill == kPacketSize && !flush())
                return false;
        }
        return true;
    };

    if (!add(header.data(), header.size()))
        return kBodySendFailed;
    uint64_t left = fileSize;
    while (left > 0) {
        if (stop != nullptr && stop->load())
            return kBodyStopped;
        size_t want = static_cast<size_t>(std::min<uint64_t>(left, kPacketSize - fill));
        errno = 0;
        size_t got = std::fread(packet + fill, 1, want, file);
        if (got != want) {
            if (readError != nullptr)
                *readError = errno;
            return kBodyReadFailed;
        }
        fill += got;
        left -= got;
        if (fill == kPacketSize && !flush())
            return kBodySendFailed;
    }
    if (!add(closing.data(), closing.size()))
        return kBodySendFailed;
    if (fill > 0 && !flush())
        return kBodySendFailed;
    return kBodySent;
}

bool CSetupWizardDlg::UploadRemotePackage(std::FILE* file)
{
    LoginCopy login = CopyLogin();
    std::string password = GetUserPassword(login.user);
    if (password.empty())
        return false;
    int port = GetNasWebPort(nullptr);
    if (port == -1) {
        if (!Stopping())
            PostMessageBox("NAS is busy or disconnected", platform::MB_OK, this);
        return false;
    }
    const std::string authorization = MakeBasicAuthorization(login.user, password);
    // The device wants to have seen this login on its start page first.
    SendHttpRequest(login.address, static_cast<unsigned>(port), BuildProbeRequest(login.address, authorization));

    Prompt("Transmitting Package..");
    CTcpSocket socket;
    if (!socket.Create()) {
        ErrorBox(SocketErrorMessage(GetLastSocketError()));
        return false;
    }
    if (!socket.Connect(login.address, static_cast<unsigned>(port), kHttpConnectTimeoutMs)) {
        ErrorBox(ConnectFailureText(GetLastSocketError()));
        return false;
    }

    struct stat info {};
    if (::fstat(fileno(file), &info) != 0) {
        ErrorBox(Format("Get File Size Fail!!\nError code: %d", errno));
        return false;
    }
    const uint64_t fileSize = static_cast<uint64_t>(info.st_size);
    const uint64_t bodyLength = RemoteInstallPartHeader().size() + fileSize + RemoteInstallClosingPart().size();
    const std::string head = BuildRemoteInstallHead(login.address, authorization, bodyLength);

    if (!Pause(Delay::SetupUploadPause))
        return false;
    if (!socket.SendAll(head.data(), head.size(), kPacketSendTimeoutMs)) {
        ErrorBox(Format("Send package head fail!!\nSocket Error code: %d", GetLastSocketError()));
        return false;
    }

    int lastPercent = -1;
    int readError = 0;
    BodyResult result = SendPackageBody(
        file, fileSize,
        [&](const char* data, size_t size) { return socket.SendAll(data, size, kPacketSendTimeoutMs); },
        [&](uint64_t sent, uint64_t count) {
            int percent = PercentOf(sent, count);
            if (percent == lastPercent)
                return;
            lastPercent = percent;
            WizardUpdate u;
            u.progress = percent;
            u.prompt = Format("Transmitting Package...%d%%", percent);
            Post(u);
        },
        &m_stop, &readError);
    switch (result) {
    case kBodySent:
        break;
    case kBodySendFailed:
        ErrorBox(Format("File transmission failed!!\nError code: %u", static_cast<unsigned>(GetLastSocketError())));
        return false;
    case kBodyReadFailed:
        ErrorBox(Format("Read file failed!!\nError code: %u", static_cast<unsigned>(readError)));
        return false;
    case kBodyStopped:
        return false;
    }

    WizardUpdate sentAll;
    sentAll.progress = 100;
    sentAll.prompt = "Checking Package Validation..";
    Post(sentAll);
    // The device's answer, when it gives one before the check pause is over:
    // a refusal (401 for a login it does not take, 400 for a body it cannot
    // read) means no package arrived, whatever the status requests say later.
    // No answer, or a closed connection, leaves it to the status requests.
    using Clock = std::chrono::steady_clock;
    auto msUntil = [](Clock::time_point t) {
        return std::max<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count(), 0);
    };
    const Clock::time_point checkEnd = Clock::now() + std::chrono::milliseconds(DelayMs(Delay::SetupCheckPause));
    CHttpStatusReader answer;
    while (answer.Result() == CHttpStatusReader::kPending && !Stopping()) {
        const long long left = msUntil(checkEnd);
        if (left <= 0)
            break;
        char buffer[1024];
        long n = socket.Receive(buffer, sizeof buffer, static_cast<unsigned>(std::min<long long>(left, 100)));
        if (n == CTcpSocket::kTimedOut)
            continue;
        if (n <= 0)
            break;
        answer.Feed(buffer, static_cast<size_t>(n));
    }
    socket.Close();
    if (answer.Result() == CHttpStatusReader::kRejected) {
        ErrorBox(Format("File transmission failed!!\nError code: %d", answer.Status()));
        return false;
    }
    if (!Pause(static_cast<int>(msUntil(checkEnd))))
        return false;

    login = CopyLogin();
    if (FinderInit() != FINDER_OK) {
        ErrorBox("IDS_MSG_NETWORK_ERROR");
        return false;
    }
    std::string error;
    bool success = false;
    while (!Stopping()) {
        int status = FinderPollStatus(&login.device, static_cast<int>(login.udpTimeout));
        if (status == 0) {
            success = true;
            break;
        }
        if (status == 2) {
            error = LoadString(727);
            break;
        }
        if (status == 3) {
            error = LoadString(726);
            break;
        }
        if (status == FINDER_ERR_TIMEOUT) {
            error = LoadString(715);
            break;
        }
        if (status < 0) {
            // The request could not even go out: asking again changes nothing.
            error = "IDS_MSG_NETWORK_ERROR";
            break;
        }
        if (!Pause(Delay::SetupStatusPoll))
            break;
    }
    FinderCleanup();
    if (!success && !error.empty())
        ErrorBox(error);
    return success;
}
