#include "DeviceInfoDlg.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>

#include "Delays.h"
#include "MessageBoxes.h"
#include "NasMib.h"
#include "PopDlg.h"
#include "ProgressListCtrl.h"
#include "Resources.h"
#include "SnmpHelpers.h"
#include "stdafx.h"
#include "ui_DeviceInfoDlg.h"
#include "y_snmp.h"

using namespace platform::gui;

namespace {

// Length of every value a query reads.
constexpr unsigned kValueSize = 64;

std::mutex g_hookLock;
CDeviceInfoDlg::EngineHook g_engineHook;
std::atomic<int> g_runningQueries{0};

int ToInt(const std::string& text)
{
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

unsigned NotNegative(long long megabytes)
{
    if (megabytes < 0)
        return 0;
    if (megabytes > 0xFFFFFFFFLL)
        return 0xFFFFFFFFu;
    return static_cast<unsigned>(megabytes);
}

} // namespace

// What the dialog and its query thread share. The thread keeps its own
// reference, so a dialog that goes while the thread still waits for the
// device leaves nothing behind that the thread could touch.
struct CDeviceInfoDlg::Job {
    // Set before the thread starts, read-only afterwards.
    std::string address;
    std::string community;
    EngineHook engineHook;
    CPopDlg* popup = nullptr; // the GUI thread keeps it until the thread has ended

    std::atomic<bool> cancel{false};

    std::mutex lock;
    std::condition_variable ended;
    CDeviceInfoDlg* owner = nullptr; // null once the dialog stopped listening
    bool done = false;
    int status = 0;
};

CDeviceInfoDlg::CDeviceInfoDlg(QWidget* parent) : Dialog(parent), m_ui(std::make_unique<Ui::DeviceInfoDlg>())
{
    m_ui->setupUi(this);
    m_storageList = m_ui->storageList;
    connect(m_ui->okButton, &QPushButton::clicked, this, [this] { OnOK(); });
    SetMessageHandler(WM_DEVICE_INFO_READY, [this](const Message& m) { return OnValuesReady(m); });
}

CDeviceInfoDlg::~CDeviceInfoDlg()
{
    OnDestroy();
    Detach();
}

CDeviceInfoDlg::EngineHook CDeviceInfoDlg::SetEngineHook(EngineHook hook)
{
    std::lock_guard<std::mutex> guard(g_hookLock);
    EngineHook old = std::move(g_engineHook);
    g_engineHook = std::move(hook);
    return old;
}

int CDeviceInfoDlg::RunningQueries()
{
    return g_runningQueries.load();
}

std::string CDeviceInfoDlg::DiskModeText(int mode)
{
    switch (mode) {
    case 0:
        return "Individual Disk";
    case 1:
        return "Raid1";
    case 2:
        return "Raid1 (Broken)";
    case 3:
        return "Raid0";
    case 4:
        return "JBOD";
    default:
        return "Undefined";
    }
}

std::string CDeviceInfoDlg::FileSystemText(int type)
{
    switch (type) {
    case 1:
        return "Fat32";
    case 2:
        return "Ext2";
    case 3:
        return "Ext3";
    default:
        return "unknown";
    }
}

int CDeviceInfoDlg::ParseFileSystemType(const std::string& text)
{
    size_t b = text.find_first_not_of(" \t");
    if (b == std::string::npos)
        return 0;
    if (std::isdigit(static_cast<unsigned char>(text[b])) || text[b] == '-' || text[b] == '+')
        return ToInt(text);
    std::string name;
    for (size_t i = b; i < text.size() && !std::isspace(static_cast<unsigned char>(text[i])); ++i)
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    if (name == "vfat" || name == "fat32" || name == "fat")
        return 1;
    if (name == "ext2")
        return 2;
    if (name == "ext3")
        return 3;
    return 0;
}

QLabel* CDeviceInfoDlg::Label(int id) const
{
    switch (id) {
    case IDC_NAME:
        return m_ui->name;
    case IDC_IP_ADDRESS:
        return m_ui->ipAddress;
    case IDC_MAC_ADDRESS:
        return m_ui->macAddress;
    case IDC_FIRMWARE_VERSION:
        return m_ui->firmwareVersion;
    case IDC_PACKAGE_VERSION:
        return m_ui->packageVersion;
    case IDC_BOOT_TIME:
        return m_ui->bootTime;
    case IDC_LAN_INTERFACE:
        return m_ui->lanInterface;
    case IDC_DISK_MODE:
        return m_ui->diskMode;
    default:
        return nullptr;
    }
}

std::string CDeviceInfoDlg::GetDlgItemText(int id) const
{
    QLabel* label = Label(id);
    return label != nullptr ? label->text().toStdString() : std::string();
}

void CDeviceInfoDlg::SetDlgItemText(int id, const std::string& text)
{
    if (QLabel* label = Label(id))
        label->setText(QString::fromStdString(text));
}

bool CDeviceInfoDlg::OnInitDialog()
{
    Dialog::OnInitDialog();

    int clientWidth = m_storageList->width();
    if (auto* frame = qobject_cast<QFrame*>(m_storageList->ReportView()))
        clientWidth -= 2 * frame->frameWidth();
    const int sizeWidth = (clientWidth - 108) / 3;
    if (m_storageList->GetColumnCount() == 0) {
        // A blank first column, deleted again, so that the first visible
        // column is centred like the others.
        m_storageList->InsertColumn(0, "", Qt::AlignLeft, 0);
        m_storageList->InsertColumn(1, "Name", Qt::AlignHCenter, 40);
        m_storageList->InsertColumn(2, "File System", Qt::AlignHCenter, 68);
        m_storageList->InsertColumn(3, "Total Size", Qt::AlignHCenter, sizeWidth);
        m_storageList->InsertColumn(4, "Used Size", Qt::AlignHCenter, sizeWidth);
        m_storageList->InsertColumn(5, "Free Size", Qt::AlignHCenter, sizeWidth);
        m_storageList->DeleteColumn(0);
    }

    CNasContext* ctx = GetNasContext();
    ctx->Lock();
    const std::string address = ctx->m_deviceAddress;
    const std::string mac = ctx->m_macText;
    ctx->Unlock();
    SetDlgItemText(IDC_IP_ADDRESS, address);
    SetDlgItemText(IDC_MAC_ADDRESS, mac);

    if (Query(1))
        m_timerId = SetTimer(TIMER_DEVICE_INFO, static_cast<unsigned>(DelayMs(Delay::DeviceInfoRefresh)));
    else
        OnCancel();
    return true;
}

bool CDeviceInfoDlg::Query(int withPopup)
{
    auto job = std::make_shared<Job>();
    CNasContext* ctx = GetNasContext();
    ctx->Lock();
    job->address = ctx->m_deviceAddress;
    job->community = ctx->m_community;
    ctx->Unlock();
    {
        std::lock_guard<std::mutex> guard(g_hookLock);
        job->engineHook = g_engineHook;
    }
    job->owner = this;

    std::unique_ptr<CPopDlg> popup;
    if (withPopup) {
        popup = std::make_unique<CPopDlg>();
        job->popup = popup.get();
        m_popup = popup.get();
    }

    ++g_runningQueries;
    try {
        m_queryThread = std::thread(DeviceInfoThreadProc, job);
    } catch (const std::system_error& e) {
        --g_runningQueries;
        DebugTrace("device information: no query thread: %s\n", e.what());
        m_popup = nullptr;
        m_queryStatus = SNMP_ENGINE_FAILURE;
        return false;
    }
    m_queryJob = job;
    if (!withPopup)
        return true;

    const int code = popup->DoModal();
    // The popup ends with the thread's last step; the thread is gone a moment
    // later and with it the last use of the popup.
    m_queryThread.join();
    m_popup = nullptr;
    popup.reset();
    {
        std::lock_guard<std::mutex> guard(job->lock);
        m_queryStatus = job->status;
    }
    if (code == 1)
        return true;

    std::string text;
    if (m_queryStatus == SNMP_ENGINE_TIMEOUT) {
        text = LoadString(715);
    } else {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "snmp ret %d", m_queryStatus);
        text = buffer;
    }
    ShowMessageBox(this, text, platform::MB_ICONERROR);
    return false;
}

void CDeviceInfoDlg::DeviceInfoThreadProc(const std::shared_ptr<Job>& job)
{
    if (job->popup != nullptr)
        job->popup->SetMessage("Please wait..");

    DeviceInfoValues values;
    const int status = ReadDeviceInfo(*job, values);
    {
        std::lock_guard<std::mutex> guard(job->lock);
        job->status = status;
        // The dialog is alive while it is the owner: it clears the owner
        // under this lock before it goes.
        if (status == 0 && job->owner != nullptr)
            job->owner->PostMessage(WM_DEVICE_INFO_READY, 0, 0, values);
    }
    if (job->popup != nullptr)
        job->popup->Close(status == 0 ? 1 : 2);
    {
        std::lock_guard<std::mutex> guard(job->lock);
        job->done = true;
    }
    job->ended.notify_all();
    --g_runningQueries;
}

int CDeviceInfoDlg::ReadDeviceInfo(Job& job, DeviceInfoValues& values)
{
    CSnmpEngine engine;
    engine.SetAddress(job.address);
    engine.SetReadCommunity(job.community);
    engine.SetWriteCommunity(job.community);
    if (job.engineHook)
        job.engineHook(engine);

    // One GET of several values. A device that is busy answers noSuchName;
    // the request is made again a few times, not without end.
    auto get = [&](const std::vector<std::string>& oids, std::vector<std::string>& answer, bool retryBusy) -> int {
        const int count = static_cast<int>(oids.size());
        std::vector<const char*> names;
        names.reserve(oids.size());
        for (const std::string& oid : oids)
            names.push_back(oid.c_str());
        std::vector<std::vector<char>> buffers(oids.size(), std::vector<char>(kValueSize, '\0'));
        std::vector<char*> targets;
        targets.reserve(buffers.size());
        for (auto& buffer : buffers)
            targets.push_back(buffer.data());
        for (int attempt = 1;; ++attempt) {
            if (job.cancel)
                return SNMP_ENGINE_FAILURE;
            int result = engine.MultiGet(count, names.data(), targets.data(), kValueSize);
            if (result == 0) {
                answer.clear();
                for (auto& buffer : buffers)
                    answer.emplace_back(buffer.data());
                return 0;
            }
            if (result != SNMP_ENGINE_NO_SUCH_NAME || !retryBusy || attempt >= kBusyTries)
                return result;
            SnmpPause(kBusyPauseMs);
        }
    };

    std::vector<std::string> v;
    int result = get({nasmib::kDeviceName, nasmib::kFirmwareVersion, nasmib::kBootTime, nasmib::kLanInfo,
                      nasmib::kDiskMode, nasmib::kPackageVersion},
                     v, true);
    if (result != 0)
        return result;
    values.name = v[0];
    values.firmwareVersion = v[1];
    values.bootTime = v[2];
    values.lanInterface = v[3];
    values.diskMode = ToInt(v[4]);
    values.packageVersion = v[5];

    auto readDisk = [&](int disk) -> int {
        const std::string row = std::to_string(disk);
        int r = get({NasCell(nasmib::kDiskStatus, row), NasCell(nasmib::kDiskFsType, row),
                     NasCell(nasmib::kDiskTotalSize, row), NasCell(nasmib::kDiskUsedSize, row)},
                    v, true);
        if (r != 0)
            return r;
        if (ToInt(v[0]) != 0)
            values.rows.push_back({"Disk" + row, ParseFileSystemType(v[1]), ToInt(v[2]), ToInt(v[3])});
        return 0;
    };
    if ((result = readDisk(1)) != 0)
        return result;
    // In a RAID or JBOD mode the two disks are one volume, shown as Disk1.
    if (values.diskMode == 0 && (result = readDisk(2)) != 0)
        return result;

    for (int n = 1; n <= kMaxUsbRows; ++n) {
        const std::string row = std::to_string(n);
        result = get({NasCell(nasmib::kUsbFsType, row), NasCell(nasmib::kUsbTotalSize, row),
                      NasCell(nasmib::kUsbUsedSize, row), NasCell(nasmib::kUsbIndex, row)},
                     v, false);
        if (result == SNMP_ENGINE_NO_SUCH_NAME)
            break; // past the table's last row
        if (result != 0)
            return result;
        values.rows.push_back({"USB" + std::to_string(ToInt(v[3])), ParseFileSystemType(v[0]), ToInt(v[1]),
                               ToInt(v[2])});
    }
    return job.cancel ? SNMP_ENGINE_FAILURE : 0;
}

intptr_t CDeviceInfoDlg::OnValuesReady(const Message& message)
{
    const auto* values = std::any_cast<DeviceInfoValues>(&message.data);
    if (values == nullptr)
        return 0;
    m_name = values->name;
    m_firmwareVersion = values->firmwareVersion;
    m_packageVersion = values->packageVersion;
    m_bootTime = values->bootTime;
    m_lanInterface = values->lanInterface;
    m_diskMode = values->diskMode;
    m_rows = values->rows;
    ShowValues();
    return 0;
}

void CDeviceInfoDlg::ShowValues()
{
    SetDlgItemText(IDC_NAME, m_name);
    SetDlgItemText(IDC_FIRMWARE_VERSION, m_firmwareVersion);
    SetDlgItemText(IDC_BOOT_TIME, m_bootTime);
    SetDlgItemText(IDC_LAN_INTERFACE, m_lanInterface);
    SetDlgItemText(IDC_PACKAGE_VERSION, m_packageVersion);
    SetDlgItemText(IDC_DISK_MODE, DiskModeText(m_diskMode));

    for (int row = m_storageList->GetItemCount() - 1; row >= 0; --row)
        m_storageList->DeleteItem(row);
    for (const DeviceStorageRow& r : m_rows) {
        const int row = m_storageList->InsertItem(m_storageList->GetItemCount(), r.name);
        m_storageList->SetItemText(row, 1, FileSystemText(r.fileSystem));
        m_storageList->SetItemText(row, 2, FormatDiskSize(NotNegative(r.totalMb)));
        m_storageList->SetItemText(row, 3, FormatDiskSize(NotNegative(r.usedMb)));
        m_storageList->SetItemText(row, 4,
                                   FormatDiskSize(NotNegative(static_cast<long long>(r.totalMb) - r.usedMb)));
    }
}

void CDeviceInfoDlg::OnTimer(unsigned id)
{
    if (id != TIMER_DEVICE_INFO || !m_queryJob)
        return;
    {
        std::lock_guard<std::mutex> guard(m_queryJob->lock);
        if (!m_queryJob->done)
            return; // the last refresh still runs: skip this tick
    }
    if (m_queryThread.joinable())
        m_queryThread.join();
    m_queryJob.reset();
    Query(0);
}

int CDeviceInfoDlg::DoModal()
{
    const int code = Dialog::DoModal();
    OnDestroy();
    return code;
}

void CDeviceInfoDlg::OnDestroy()
{
    if (m_timerId != 0) {
        KillTimer(m_timerId);
        m_timerId = 0;
    }
    std::shared_ptr<Job> job = std::move(m_queryJob);
    m_queryJob.reset();
    if (!job) {
        if (m_queryThread.joinable())
            m_queryThread.join();
        return;
    }
    job->cancel = true;
    bool done;
    {
        std::unique_lock<std::mutex> guard(job->lock);
        job->owner = nullptr;
        done = job->ended.wait_for(guard, std::chrono::milliseconds(kCloseWaitMs), [&] { return job->done; });
    }
    if (!m_queryThread.joinable())
        return;
    if (done) {
        m_queryThread.join();
    } else {
        // Still waiting for the device: it finishes on its own, with its own
        // reference to what it shares, and its results go nowhere.
        DebugTrace("device information: query left to finish after close\n");
        m_queryThread.detach();
    }
}
