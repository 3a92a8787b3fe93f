#include "SetupWizardDlg.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <cstdlib>

#include "MessageBoxes.h"
#include "NasMib.h"
#include "PopDlg.h"
#include "Resources.h"
#include "SnmpHelpers.h"
#include "stdafx.h"
#include "ui_SetupWizardDlg.h"
#include "y_snmp.h"

using namespace platform::gui;

namespace {

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

// A disk's total megabytes, 0 when they cannot be read.
unsigned ReadDiskMegabytes(CSnmpEngine& engine, const char* disk)
{
    std::string totalOid = NasCell(nasmib::kDiskTotalSize, disk);
    std::string usedOid = NasCell(nasmib::kDiskUsedSize, disk);
    const char* oids[2] = {totalOid.c_str(), usedOid.c_str()};
    char total[64] = "", used[64] = "";
    char* values[2] = {total, used};
    if (engine.MultiGet(2, oids, values, sizeof total) != 0)
        return 0;
    return static_cast<unsigned>(std::strtoul(total, nullptr, 10));
}

} // namespace

CSetupWizardDlg::DeviceRead CSetupWizardDlg::ReadDevice(const LoginCopy& login, bool diskInfo)
{
    CSnmpEngine engine = DeviceEngine(login);
    DeviceRead read;
    if (diskInfo) {
        read.megabytes[0] = ReadDiskMegabytes(engine, "1");
        if (login.device.disk2State != nasmib::kDiskStateNone)
            read.megabytes[1] = ReadDiskMegabytes(engine, "2");
    }
    // A failed read counts as 0: every mode may be chosen.
    std::string value;
    read.formatType = engine.SimpleGet(nasmib::kFormatType, value) == 0 ? std::atoi(value.c_str()) : 0;
    return read;
}

// ---------------------------------------------------------------------------

CSetupWizardDlg::CSetupWizardDlg(QWidget* parent) : Dialog(parent), m_ui(std::make_unique<Ui::SetupWizardDlg>())
{
    m_ui->setupUi(this);
    IgnoreEscAndEnter();
    m_ui->modeLabel->setBuddy(m_ui->modeCombo);
    m_ui->typeLabel->setBuddy(m_ui->typeCombo);
    connect(m_ui->nextButton, &QPushButton::clicked, this, [this] { OnNext(); });
    connect(m_ui->cancelButton, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(m_ui->modeCombo, qOverload<int>(&QComboBox::activated), this,
            [this](int item) { OnSelchangeFormatMode(item); });
    // A procedure that breaks off leaves the way out open.
    m_worker.SetFailureReport("The disk setup", this, [this](const std::string&) {
        m_ui->progress->hide();
        m_ui->cancelButton->setEnabled(true);
    });
}

CSetupWizardDlg::~CSetupWizardDlg()
{
    Detach();
    // The procedure stops at its next wait; its updates go nowhere.
    m_worker.Stop();
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

// ---------------------------------------------------------------------------
// GUI thread

bool CSetupWizardDlg::OnInitDialog()
{
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
    // The reads wait for seconds on a slow or lost device: they run on the
    // worker behind the busy popup, and the widgets are filled afterwards. A
    // read job that broke off counts as reads that failed.
    const DeviceRead read = RunBehindPopup(this, m_worker, [login, showInfo](const platform::JobControl&) {
                                return ReadDevice(login, showInfo);
                            }).value_or(DeviceRead{});
    if (showInfo)
        ShowDiskInfo(login, read);
    // A format type the device has already keeps its disk mode: the only
    // choice shown.
    const auto fixMode = [this](int mode, const char* name, const char* description) {
        m_modeFixed = true;
        m_ui->modeCombo->clear();
        m_ui->modeCombo->addItem(name);
        m_diskMode = mode;
        m_ui->description->setText(description);
    };
    switch (read.formatType) {
    case 0: m_ui->modeCombo->setEnabled(true); break;
    case 1: fixMode(0, "Individual disks", kNormalDescription); break;
    case 2: fixMode(1, "RAID 1 (Mirrored)", kMirrorDescription); break;
    default: break;
    }
    return true;
}

void CSetupWizardDlg::ShowDiskInfo(const LoginCopy& login, const DeviceRead& read)
{
    struct Row {
        int disk;
        int state;
        unsigned megabytes;
        QLabel* size;
        QLabel* status;
    };
    const Row rows[2] = {{1, login.device.disk1State, read.megabytes[0], m_ui->disk1Size, m_ui->disk1Status},
                         {2, login.device.disk2State, read.megabytes[1], m_ui->disk2Size, m_ui->disk2Status}};
    for (const Row& row : rows) {
        if (row.disk == 2 && row.state == nasmib::kDiskStateNone)
            continue;
        row.size->setText(
            QString::fromStdString(row.megabytes == 0 ? std::string("Unknow") : FormatDiskSize(row.megabytes)));
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
    if (m_worker.Busy() || !m_ui->nextButton->isEnabled())
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
    DiskSetupJob job;
    job.formatType = m_formatType;
    job.diskMode = m_diskMode;
    job.install = m_installNeeded;
    if (m_formatNeeded) {
        int answer =
            ShowMessageBox(this, "The data in the disk will be lost if doing format action.\nAre you sure to continue?",
                           platform::MB_OKCANCEL);
        if (answer != platform::IDOK) {
            EndDialog(platform::IDCANCEL);
            return;
        }
        job.format = true;
        StartWorker(job);
    } else if (m_installNeeded) {
        StartWorker(job);
    }
}

void CSetupWizardDlg::StartWorker(const DiskSetupJob& job)
{
    // Next goes grey before the worker exists, so no second click can start
    // another one.
    m_ui->nextButton->setEnabled(false);
    const bool started = m_worker.StartWithUpdates<int, WizardUpdate>(
        [job](const platform::JobControl& control, const std::function<void(WizardUpdate)>& send) {
            CDiskSetup(control, send, [](unsigned id) { return LoadString(id); }).Run(job);
            return 0;
        },
        [this](const WizardUpdate& update) { ApplyUpdate(update); });
    if (!started) {
        ShowMessageBox(this, job.format ? "Create format Thread Fail" : "Create Install Thread Fail", platform::MB_OK);
        m_ui->nextButton->setEnabled(true);
        m_ui->cancelButton->setEnabled(true);
    }
}

void CSetupWizardDlg::OnCancel()
{
    if (m_worker.Busy())
        return;
    EndDialog(platform::IDCANCEL);
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
