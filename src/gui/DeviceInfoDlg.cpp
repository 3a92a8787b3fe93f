#include "DeviceInfoDlg.h"

#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <atomic>
#include <cstdio>

#include "Delays.h"
#include "MessageBoxes.h"
#include "PopDlg.h"
#include "ProgressListCtrl.h"
#include "Resources.h"
#include "stdafx.h"
#include "ui_DeviceInfoDlg.h"
#include "y_snmp.h"

using namespace platform::gui;

namespace {

// Reads running now, those left behind by closed dialogs too.
std::atomic<int> g_runningQueries{0};

unsigned NotNegative(long long megabytes)
{
    if (megabytes < 0)
        return 0;
    if (megabytes > 0xFFFFFFFFLL)
        return 0xFFFFFFFFu;
    return static_cast<unsigned>(megabytes);
}

} // namespace

CDeviceInfoDlg::CDeviceInfoDlg(QWidget* parent) : Dialog(parent), m_ui(std::make_unique<Ui::DeviceInfoDlg>())
{
    m_ui->setupUi(this);
    m_storageList = m_ui->storageList;
    m_storageList->SetAccessibleName("Storage");
    connect(m_ui->okButton, &QPushButton::clicked, this, [this] { OnOK(); });
    // The values shown stay; reading again would fail again.
    m_worker.SetFailureReport("Reading the device information", this,
                              [this](const std::string&) { m_worker.StopPeriodic(); });
}

CDeviceInfoDlg::~CDeviceInfoDlg()
{
    OnDestroy();
    Detach();
}

int CDeviceInfoDlg::RunningQueries() { return g_runningQueries.load(); }

std::string CDeviceInfoDlg::DiskModeText(int mode)
{
    switch (mode) {
    case 0: return "Individual Disk";
    case 1: return "Raid1";
    case 2: return "Raid1 (Broken)";
    case 3: return "Raid0";
    case 4: return "JBOD";
    default: return "Undefined";
    }
}

std::string CDeviceInfoDlg::FileSystemText(int type)
{
    switch (type) {
    case 1: return "Fat32";
    case 2: return "Ext2";
    case 3: return "Ext3";
    default: return "unknown";
    }
}

QLabel* CDeviceInfoDlg::Label(int id) const
{
    switch (id) {
    case IDC_NAME: return m_ui->name;
    case IDC_IP_ADDRESS: return m_ui->ipAddress;
    case IDC_MAC_ADDRESS: return m_ui->macAddress;
    case IDC_FIRMWARE_VERSION: return m_ui->firmwareVersion;
    case IDC_PACKAGE_VERSION: return m_ui->packageVersion;
    case IDC_BOOT_TIME: return m_ui->bootTime;
    case IDC_LAN_INTERFACE: return m_ui->lanInterface;
    case IDC_DISK_MODE: return m_ui->diskMode;
    default: return nullptr;
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
    if (m_storageList->GetColumnCount() == 0) {
        // A blank first column, deleted again, so that the first visible
        // column is centred like the others. Name and file system are as
        // wide as their titles; the sizes share the rest.
        m_storageList->InsertColumn(0, "", Qt::AlignLeft, 0);
        m_storageList->InsertColumn(1, "Name", Qt::AlignHCenter, -1);
        m_storageList->InsertColumn(2, "File System", Qt::AlignHCenter, -1);
        m_storageList->InsertColumn(3, "Total Size", Qt::AlignHCenter, -1);
        m_storageList->InsertColumn(4, "Used Size", Qt::AlignHCenter, -1);
        m_storageList->InsertColumn(5, "Free Size", Qt::AlignHCenter, -1);
        m_storageList->DeleteColumn(0);
        QHeaderView* header = m_storageList->ReportView()->header();
        int fixed = 0;
        for (int column : {0, 1}) {
            m_storageList->SetColumnWidth(column, header->sectionSizeHint(column));
            fixed += header->sectionSizeHint(column);
        }
        const int sizeWidth = std::max(header->sectionSizeHint(2), (clientWidth - fixed) / 3);
        for (int column : {2, 3, 4})
            m_storageList->SetColumnWidth(column, sizeWidth);
    }

    CNasContext* ctx = GetNasContext();
    ctx->Lock();
    const std::string address = ctx->m_deviceAddress;
    const std::string mac = ctx->m_macText;
    ctx->Unlock();
    SetDlgItemText(IDC_IP_ADDRESS, address);
    SetDlgItemText(IDC_MAC_ADDRESS, mac);

    if (Query(1))
        m_worker.StartPeriodic(RealDelayMs(Delay::DeviceInfoRefresh), [this] { Query(0); });
    else
        OnCancel();
    return true;
}

std::function<CDeviceInfoDlg::ReadResult(const platform::JobControl&)> CDeviceInfoDlg::ReadJob()
{
    CNasContext* ctx = GetNasContext();
    ctx->Lock();
    const std::string address = ctx->m_deviceAddress;
    const std::string community = ctx->m_community;
    ctx->Unlock();
    return [address, community](const platform::JobControl& job) {
        ++g_runningQueries;
        job.Say("Please wait..");
        ReadResult result;
        result.status = ReadDeviceInfo(address, community, result.values, job);
        --g_runningQueries;
        return result;
    };
}

bool CDeviceInfoDlg::Query(int withPopup)
{
    if (!withPopup)
        return m_worker.Start<ReadResult>(ReadJob(), [this](const ReadResult& result) {
            if (result.status == 0)
                TakeValues(result.values);
        });

    ReadResult result;
    {
        // Placed over the dialog.
        CPopDlg popup(this);
        result = m_worker.RunModal<ReadResult>(popup, ReadJob());
    }
    if (m_worker.Failed())
        return false;
    m_queryStatus = result.status;
    if (result.status == 0) {
        TakeValues(result.values);
        return true;
    }
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

void CDeviceInfoDlg::TakeValues(const DeviceInfoValues& values)
{
    m_values = values;
    ShowValues();
}

void CDeviceInfoDlg::ShowValues()
{
    SetDlgItemText(IDC_NAME, m_values.name);
    SetDlgItemText(IDC_FIRMWARE_VERSION, m_values.firmwareVersion);
    SetDlgItemText(IDC_BOOT_TIME, m_values.bootTime);
    SetDlgItemText(IDC_LAN_INTERFACE, m_values.lanInterface);
    SetDlgItemText(IDC_PACKAGE_VERSION, m_values.packageVersion);
    SetDlgItemText(IDC_DISK_MODE, DiskModeText(m_values.diskMode));

    // The rows are written over in place, so that a reader keeps the row,
    // the selection and the focus they are on; only rows that came or went
    // are added or taken off, and a selected disk that moved to another row
    // is selected there.
    CProgressListCtrl* list = m_storageList;
    const int selected = list->GetSelectedItem();
    const std::string selectedName = selected >= 0 ? list->GetItemText(selected, 0) : std::string();
    const int count = static_cast<int>(m_values.rows.size());
    while (list->GetItemCount() > count)
        list->DeleteItem(list->GetItemCount() - 1);
    auto write = [list](int row, int column, const std::string& text) {
        if (list->GetItemText(row, column) != text)
            list->SetItemText(row, column, text);
    };
    for (int row = 0; row < count; ++row) {
        const DeviceStorageRow& r = m_values.rows[static_cast<size_t>(row)];
        if (row >= list->GetItemCount())
            list->InsertItem(row, r.name);
        write(row, 0, r.name);
        write(row, 1, FileSystemText(r.fileSystem));
        write(row, 2, FormatDiskSize(NotNegative(r.totalMb)));
        write(row, 3, FormatDiskSize(NotNegative(r.usedMb)));
        write(row, 4, FormatDiskSize(NotNegative(static_cast<long long>(r.totalMb) - r.usedMb)));
    }
    if (selectedName.empty() || (list->GetSelectedItem() >= 0 && list->GetItemText(selected, 0) == selectedName))
        return;
    list->ClearSelection();
    for (int row = 0; row < count; ++row)
        if (list->GetItemText(row, 0) == selectedName)
            list->SetItemSelected(row, true);
}

int CDeviceInfoDlg::DoModal()
{
    const int code = Dialog::DoModal();
    OnDestroy();
    return code;
}

void CDeviceInfoDlg::OnDestroy()
{
    m_worker.StopPeriodic();
    if (!m_worker.Stop(kCloseWaitMs))
        DebugTrace("device information: query left to finish after close\n");
}
