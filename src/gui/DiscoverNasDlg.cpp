#include "DiscoverNasDlg.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <arpa/inet.h>
#include <cstring>

#include "ListCtrl.h"
#include "MessageBoxes.h"
#include "DiscoveryJobs.h"
#include "NasFinder.h"
#include "NasMib.h"
#include "PopDlg.h"
#include "Resources.h"
#include "SnmpHelpers.h"
#include "stdafx.h"
#include "ui_DiscoverNasDlg.h"

using namespace platform::gui;

namespace {

// Control sets of the three modes; each ends at the first 0.
const int kListSet[] = {CDiscoverNasDlg::IDC_STATUS, CDiscoverNasDlg::IDC_DEVICE_LIST, 0};
const int kLoginSet[] = {CDiscoverNasDlg::IDC_NAME_TEXT,
                         CDiscoverNasDlg::IDC_NAME_LABEL,
                         CDiscoverNasDlg::IDC_ADDRESS_TEXT,
                         CDiscoverNasDlg::IDC_ADDRESS_LABEL,
                         CDiscoverNasDlg::IDC_PASSWORD,
                         CDiscoverNasDlg::IDC_USER,
                         CDiscoverNasDlg::IDC_ADDRESS_LABEL,
                         CDiscoverNasDlg::IDC_FIELD1_LABEL,
                         CDiscoverNasDlg::IDC_FIELD2_LABEL,
                         CDiscoverNasDlg::IDC_REMEMBER,
                         0};
const int kNetworkSet[] = {CDiscoverNasDlg::IDC_NET_GROUP,     CDiscoverNasDlg::IDC_IP,
                           CDiscoverNasDlg::IDC_MASK,          CDiscoverNasDlg::IDC_GATEWAY,
                           CDiscoverNasDlg::IDC_AUTO_IP,       CDiscoverNasDlg::IDC_STATIC_IP,
                           CDiscoverNasDlg::IDC_ADDRESS_LABEL, CDiscoverNasDlg::IDC_FIELD1_LABEL,
                           CDiscoverNasDlg::IDC_FIELD2_LABEL,  0};

// Codes of the jobs besides the protocol's negative ones.
constexpr int CODE_OK = kDiscoveryOk;
constexpr int CODE_OTHER_SUBNET = kDiscoveryOtherSubnet;
constexpr int CODE_BACK_TO_LIST = kDiscoveryBackToList;
constexpr int CODE_NO_DHCP_ADDRESS = kDiscoveryNoDhcpAddress;

// String ids of the failure messages.
enum : unsigned {
    IDS_NO_RESPONSE = 715,
    IDS_WRONG_PASSWORD = 716,
    IDS_NO_DHCP_ADDRESS = 717,
    IDS_NO_NETWORK = 718,
};

const char kPleaseWait[] = "Please wait..";

// A device's state in words, for its image in the list.
std::string StateText(int image)
{
    switch (image) {
    case CDiscoverNasDlg::IMAGE_ANSWERING: return "Answering";
    case CDiscoverNasDlg::IMAGE_OTHER_SUBNET: return "Answering from another subnet";
    default: return "Not answering";
    }
}

// The record a group is shown with: its first answer from the PC's subnet,
// else its first answer from another subnet.
const NasInfo* GroupRecord(const NasGroup& group, bool* sameSubnet)
{
    if (!group.sameSubnet.empty()) {
        *sameSubnet = true;
        return group.sameSubnet.front();
    }
    *sameSubnet = false;
    return group.otherSubnet.empty() ? nullptr : group.otherSubnet.front();
}

} // namespace

CDiscoverNasDlg::CDiscoverNasDlg(int type, QWidget* parent)
    : Dialog(parent)
    , m_ui(std::make_unique<Ui::DiscoverNasDlg>())
    , m_autoAttach(type == 1)
    , m_changeUser(type == 2)
{
    m_ui->setupUi(this);
    m_list = m_ui->deviceList;
    m_discovery.m_timeout = kDiscoveryScanMs;
    setWindowTitle("NAS Discovery");

    SetMessageHandler(WM_SCAN_DONE, [this](const Message& m) { return OnScanDone(m); });
    SetMessageHandler(WM_SWITCH_MODE, [this](const Message& m) { return OnSwitchMode(m); });

    connect(m_ui->okButton, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(m_ui->cancelButton, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(m_ui->actionButton, &QPushButton::clicked, this, [this] { OnAction(); });
    OnChecked(m_ui->autoIp, [this] { OnAutoIp(); });
    OnChecked(m_ui->staticIp, [this] { OnStaticIp(); });
    connect(m_ui->userEdit, &QLineEdit::textChanged, this, [this] { OnCredentialsChanged(); });
    connect(m_ui->passwordEdit, &QLineEdit::textChanged, this, [this] { OnCredentialsChanged(); });
    for (QLineEdit* field : {m_ui->ipAddress, m_ui->maskAddress, m_ui->gatewayAddress}) {
        field->installEventFilter(this);
        connect(field, &QLineEdit::textEdited, this, [this] { ValidateAddresses(); });
    }
    m_ui->actionButton->setAutoDefault(false);
    m_ui->cancelButton->setAutoDefault(false);

    ListCtrl::Notify notify;
    notify.onClick = [this](int row) { OnListClick(row, false); };
    notify.onRClick = [this](int row) { OnListClick(row, true); };
    notify.onItemSelected = [this](int row) { OnListSelected(row); };
    notify.onDblClk = [this](int row) { OnListDblClk(row); };
    m_list->SetNotify(notify);
    m_list->SetView(ListCtrl::Icon);
    m_list->IconView()->setIconSize(QSize(32, 32));
    m_list->SetAccessibleName("Devices");
    // Edits are named even while their mode's labels name others.
    m_ui->userEdit->setAccessibleName("User");
    m_ui->passwordEdit->setAccessibleName("Password");
    m_ui->ipAddress->setAccessibleName("IP address");
    m_ui->maskAddress->setAccessibleName("Subnet mask");
    m_ui->gatewayAddress->setAccessibleName("Default gateway");

    ShowSet(kLoginSet, false);
    ShowSet(kNetworkSet, false);
    ShowSet(kListSet, false);
}

CDiscoverNasDlg::~CDiscoverNasDlg() { Detach(); }

QWidget* CDiscoverNasDlg::GetDlgItem(int id) const
{
    switch (id) {
    case 1: return m_ui->okButton;
    case 2: return m_ui->cancelButton;
    case IDC_PASSWORD: return m_ui->passwordEdit;
    case IDC_USER: return m_ui->userEdit;
    case IDC_REMEMBER: return m_ui->rememberCheck;
    case IDC_DEVICE_LIST: return m_ui->deviceList;
    case IDC_ACTION: return m_ui->actionButton;
    case IDC_ADDRESS_LABEL: return m_ui->addressLabel;
    case IDC_FIELD1_LABEL: return m_ui->field1Label;
    case IDC_FIELD2_LABEL: return m_ui->field2Label;
    case IDC_STATUS: return m_ui->statusText;
    case IDC_ADDRESS_TEXT: return m_ui->addressText;
    case IDC_NAME_LABEL: return m_ui->nameLabel;
    case IDC_NAME_TEXT: return m_ui->nameText;
    case IDC_IP: return m_ui->ipAddress;
    case IDC_MASK: return m_ui->maskAddress;
    case IDC_GATEWAY: return m_ui->gatewayAddress;
    case IDC_AUTO_IP: return m_ui->autoIp;
    case IDC_NET_GROUP: return m_ui->netGroup;
    case IDC_STATIC_IP: return m_ui->staticIp;
    default: return nullptr;
    }
}

int CDiscoverNasDlg::GetRowCount() const { return m_list->GetItemCount(); }

CDiscoverNasDlg::RowRecord* CDiscoverNasDlg::Row(int row) const
{
    if (row < 0 || row >= m_list->GetItemCount())
        return nullptr;
    // A row's item data is the address of its record: the record is looked
    // up among the dialog's own, so a stray value never becomes a pointer.
    const uintptr_t data = m_list->GetItemData(row);
    for (const auto& record : m_rows)
        if (reinterpret_cast<uintptr_t>(record.get()) == data)
            return record.get();
    return nullptr;
}

NasInfo CDiscoverNasDlg::GetRowRecord(int row) const
{
    const RowRecord* r = Row(row);
    return r ? r->info : NasInfo{};
}

bool CDiscoverNasDlg::GetRowAnswering(int row) const
{
    const RowRecord* r = Row(row);
    return r && r->answering;
}

int CDiscoverNasDlg::GetRowImage(int row) const { return m_list->GetItemImage(row); }

std::string CDiscoverNasDlg::GetStatusText() const { return m_ui->statusText->text().toStdString(); }

void CDiscoverNasDlg::EnableOk(bool enable) { m_ui->okButton->setEnabled(enable); }

void CDiscoverNasDlg::ShowSet(const int* ids, bool show)
{
    for (; *ids != 0; ++ids)
        if (QWidget* w = GetDlgItem(*ids))
            w->setVisible(show);
}

// ---------------------------------------------------------------------------
// Initialisation and messages

bool CDiscoverNasDlg::OnInitDialog()
{
    Dialog::OnInitDialog();
    m_images = LoadImageStrip(IDB_DEVICE_IMAGES, 32, QColor(255, 255, 255));
    m_list->SetImageLists(m_images, m_images);
    EnableOk(false);

    if (!m_changeUser) {
        EnterListMode();
        StartScan();
        return true;
    }

    // Change user: only the device of the current login is looked for.
    m_ui->actionButton->hide();
    const std::string macText = GetNasContext()->m_macText;
    int code = RunJob(
        [this, macText](const platform::JobControl& job) { return DiscoveryScan(m_discovery, macText, true, job); });
    if (code == CODE_OK && !m_discovery.m_groups.empty()) {
        bool same = false;
        if (const NasInfo* rec = GroupRecord(m_discovery.m_groups.front(), &same)) {
            m_ownRecord = *rec;
            m_selected = &m_ownRecord;
            EnterLoginMode(1);
            return true;
        }
    }
    if (code == FINDER_ERR_TIMEOUT || code == CODE_OK)
        ShowMessage(IDS_NO_RESPONSE);
    else if (code != 0)
        ShowMessage(IDS_NO_NETWORK);
    EndDialog(platform::IDCANCEL);
    return true;
}

void CDiscoverNasDlg::ShowMessage(unsigned stringId, unsigned style)
{
    ShowMessageBox(this, LoadString(stringId), style);
}

intptr_t CDiscoverNasDlg::OnSwitchMode(const Message& message)
{
    switch (message.wParam) {
    case 1: EnterListMode(); break;
    case 2: EnterLoginMode(static_cast<int>(message.lParam)); break;
    case 3: EnterNetConfigMode(); break;
    default: return 0;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Modes

bool CDiscoverNasDlg::EnterMode(int mode, const char* title)
{
    if (m_mode == mode)
        return false;
    m_mode = mode;
    setWindowTitle(title);
    // The controls of modes 1, 2 and 3; some are in two sets, so the mode's
    // own set is shown last.
    const int* const sets[] = {kListSet, kLoginSet, kNetworkSet};
    for (int m = 1; m <= 3; ++m)
        if (m != mode)
            ShowSet(sets[m - 1], false);
    ShowSet(sets[mode - 1], true);
    return true;
}

void CDiscoverNasDlg::LabelSharedRows(QWidget* address, const char* first, QWidget* firstField, const char* second,
                                      QWidget* secondField)
{
    m_ui->addressLabel->setBuddy(address);
    m_ui->field1Label->setText(first);
    m_ui->field1Label->setBuddy(firstField);
    m_ui->field2Label->setText(second);
    m_ui->field2Label->setBuddy(secondField);
}

void CDiscoverNasDlg::EnterListMode()
{
    if (!EnterMode(1, "NAS Discovery"))
        return;
    m_ui->okButton->setText("Attach");
    bool answering = false;
    for (const auto& row : m_rows)
        if (&row->info == m_selected)
            answering = row->answering;
    EnableOk(m_selected != nullptr && answering);
    m_ui->actionButton->setText("Refresh");
}

void CDiscoverNasDlg::SwitchToLoginMode()
{
    if (!EnterMode(2, "NAS Login"))
        return;
    // The address is only shown here.
    LabelSharedRows(nullptr, "User:", m_ui->userEdit, "Password:", m_ui->passwordEdit);
    m_ui->okButton->setText("Login");
    m_ui->actionButton->setText("Back");
    m_ui->actionButton->setEnabled(true);
    m_ui->actionButton->setVisible(!m_changeUser);
}

void CDiscoverNasDlg::EnterNetConfigMode()
{
    if (!EnterMode(3, "NAS Network Configuration"))
        return;
    LabelSharedRows(m_ui->ipAddress, "Subnet mask:", m_ui->maskAddress, "Default gateway:", m_ui->gatewayAddress);
    m_ui->okButton->setText("Apply");
    m_ui->autoIp->setChecked(true);
    m_ui->staticIp->setChecked(false);
    OnAutoIp();
    if (m_changeUser)
        m_ui->actionButton->show();
}

void CDiscoverNasDlg::EnterLoginMode(int flag)
{
    if (m_selected == nullptr)
        return;
    if (flag == 0) {
        SwitchToLoginMode();
        return;
    }

    // A device that is still starting up is waited for.
    if (m_selected->disk1State == -10) {
        const NasInfo record = *m_selected;
        DiscoveryResult result;
        const int code = RunJob([record, &result](const platform::JobControl& job) {
            result = DiscoveryWaitReady(record, job);
            return result.code;
        });
        if (code != CODE_OK) {
            if (code == FINDER_ERR_TIMEOUT)
                ShowMessage(IDS_NO_RESPONSE);
            else if (code != 0)
                ShowMessage(IDS_NO_NETWORK);
            if (m_changeUser)
                EndDialog(platform::IDCANCEL);
            return;
        }
        *m_selected = result.record;
    }

    if (m_selected->disk1State == 0 && m_selected->disk2State == 0) {
        ShowMessageBox(this, "You must have at least one disk on the NAS for usage.", platform::MB_ICONERROR,
                       "Could not detect the presence of disk");
        if (m_changeUser)
            EndDialog(platform::IDCANCEL);
        return;
    }

    std::string user, password;
    if (!m_changeUser)
        GetNasContext()->GetSavedLogin(m_selected->mac, user, password);
    m_ui->passwordEdit->setText(QString::fromStdString(password));

    const unsigned question = platform::MB_YESNO | platform::MB_ICONQUESTION;
    if (m_selected->disk1State != 2 && m_selected->disk2State != 2) {
        // No disk is ready: only the administrator may initialise them.
        if (user != "admin") {
            std::string text = "To process the initialization, you must have the right of administration.\n" +
                               std::string(19, ' ') + "Do you want to continue?";
            if (ShowMessageBox(this, text, question, "The disk on the NAS have to be initialized") != platform::IDYES) {
                if (m_changeUser)
                    EndDialog(platform::IDCANCEL);
                return;
            }
        }
        m_ui->userEdit->setText("admin");
        m_ui->userEdit->setReadOnly(true);
    } else if (m_selected->IsSameSubnet()) {
        m_ui->userEdit->setText(QString::fromStdString(user));
        m_ui->userEdit->setReadOnly(false);
    } else {
        // Another subnet: only the administrator may give it a new address.
        if (user != "admin") {
            std::string text =
                "The device's network configuration could be modified if you have the right of administration.\n" +
                std::string(45, ' ') + "Do you want to continue?";
            if (ShowMessageBox(this, text, question, "The NAS is under different subnet with yours") !=
                platform::IDYES) {
                if (m_changeUser)
                    EndDialog(platform::IDCANCEL);
                return;
            }
        }
        m_ui->userEdit->setText("admin");
        m_ui->userEdit->setReadOnly(true);
    }

    m_ui->nameText->setText(QString::fromUtf8(m_selected->name));
    m_ui->addressText->setText(QString::fromStdString(IpToString(m_selected->deviceAddress)));

    const bool haveUser = !m_ui->userEdit->text().isEmpty();
    const bool havePassword = !m_ui->passwordEdit->text().isEmpty();
    EnableOk(haveUser && havePassword);
    m_ui->rememberCheck->setChecked(!password.empty());
    SwitchToLoginMode();
    // The focus goes to what is left to fill in, once the fields show.
    QWidget* first = haveUser && havePassword ? static_cast<QWidget*>(m_ui->okButton)
                     : haveUser               ? m_ui->passwordEdit
                                              : m_ui->userEdit;
    first->setFocus();
    if (first == m_ui->okButton)
        m_ui->okButton->setDefault(true);
}

// ---------------------------------------------------------------------------
// Buttons, keys and the list

void CDiscoverNasDlg::OnOK()
{
    if (m_workerRunning || !m_ui->okButton->isEnabled())
        return;
    switch (m_mode) {
    case 1: EnterLoginMode(1); break;
    case 2: DoLogin(); break;
    case 3: DoNetConfig(); break;
    default: break;
    }
}

void CDiscoverNasDlg::OnCancel()
{
    // The dialog never goes away under a running worker.
    if (m_workerRunning)
        return;
    EndDialog(platform::IDCANCEL);
}

void CDiscoverNasDlg::closeEvent(QCloseEvent* event)
{
    if (m_workerRunning) {
        event->ignore();
        return;
    }
    Dialog::closeEvent(event);
}

void CDiscoverNasDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (!m_ui->okButton->isEnabled() || m_workerRunning)) {
        event->accept();
        return;
    }
    Dialog::keyPressEvent(event);
}

bool CDiscoverNasDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyRelease && m_mode == 3)
        ValidateAddresses();
    return Dialog::eventFilter(watched, event);
}

void CDiscoverNasDlg::OnAction()
{
    if (m_workerRunning)
        return;
    if (m_mode == 1)
        StartScan();
    else
        EnterListMode();
}

void CDiscoverNasDlg::OnCredentialsChanged()
{
    if (m_mode != 2 || m_workerRunning)
        return;
    EnableOk(!m_ui->userEdit->text().isEmpty() && !m_ui->passwordEdit->text().isEmpty());
}

void CDiscoverNasDlg::OnListClick(int row, bool right)
{
    if (row >= 0 || m_workerRunning)
        return;
    m_selected = nullptr;
    EnableOk(false);
    if (!right)
        m_list->SetSelectionMark(-1);
}

void CDiscoverNasDlg::OnListSelected(int row)
{
    RowRecord* r = Row(row);
    if (r == nullptr || m_workerRunning)
        return;
    m_selected = &r->info;
    if (m_mode == 1)
        EnableOk(r->answering);
}

void CDiscoverNasDlg::OnListDblClk(int row)
{
    RowRecord* r = Row(row);
    if (r == nullptr || !r->answering || m_workerRunning || m_mode != 1)
        return;
    m_selected = &r->info;
    EnableOk(true);
    OnOK();
}

// ---------------------------------------------------------------------------
// Network configuration form

bool CDiscoverNasDlg::ReadAddress(QLineEdit* field, uint32_t& address) const
{
    return StringToIp(field->text().trimmed().toStdString(), address);
}

void CDiscoverNasDlg::SetAddress(QLineEdit* field, uint32_t address)
{
    field->setText(QString::fromStdString(IpToString(address)));
}

void CDiscoverNasDlg::OnAutoIp()
{
    for (QLineEdit* field : {m_ui->ipAddress, m_ui->maskAddress, m_ui->gatewayAddress}) {
        field->clear();
        field->setEnabled(false);
    }
    EnableOk(true);
    m_ui->okButton->setFocus();
}

void CDiscoverNasDlg::OnStaticIp()
{
    for (QLineEdit* field : {m_ui->ipAddress, m_ui->maskAddress, m_ui->gatewayAddress})
        field->setEnabled(true);
    EnableOk(false);
    if (m_selected == nullptr)
        return;
    // Prefilled from the PC's interface that hears the device: its network,
    // its mask and the network's highest host address as the gateway.
    const uint32_t mask = ntohl(m_selected->localMask);
    const uint32_t network = ntohl(m_selected->localAddress) & mask;
    SetAddress(m_ui->ipAddress, htonl(network));
    SetAddress(m_ui->maskAddress, htonl(mask));
    SetAddress(m_ui->gatewayAddress, htonl(network | (~mask - 1)));
    // The caret goes into the address's fourth field.
    const QString text = m_ui->ipAddress->text();
    m_ui->ipAddress->setFocus();
    m_ui->ipAddress->setSelection(text.lastIndexOf('.') + 1, static_cast<int>(text.size()));
}

void CDiscoverNasDlg::ValidateAddresses()
{
    // The fields are only in use with a static address; the automatic choice
    // stays applicable whatever keys are pressed.
    if (m_mode != 3 || m_selected == nullptr || !m_ui->staticIp->isChecked() || m_workerRunning)
        return;
    uint32_t ip = 0, mask = 0, gateway = 0;
    bool ok = ReadAddress(m_ui->ipAddress, ip) && ReadAddress(m_ui->maskAddress, mask) &&
              ReadAddress(m_ui->gatewayAddress, gateway);
    DebugTrace("network form address %s\n", m_ui->ipAddress->text().toStdString().c_str());
    if (ok) {
        const uint32_t network = m_selected->GetLocalNetwork();
        const uint32_t hostBits = ~ntohl(mask);
        ok = (ip & mask) == network && (gateway & mask) == network && (ntohl(ip) & hostBits & 0xFF) != 0 &&
             (ntohl(gateway) & hostBits & 0xFF) != 0;
    }
    EnableOk(ok);
}

// ---------------------------------------------------------------------------
// Operations behind the busy popup

int CDiscoverNasDlg::RunJob(const std::function<int(const platform::JobControl&)>& job)
{
    // Everything that could start another operation or close the dialog is
    // off before the job starts.
    const bool okWas = m_ui->okButton->isEnabled();
    const bool actionWas = m_ui->actionButton->isEnabled();
    const bool cancelWas = m_ui->cancelButton->isEnabled();
    EnableOk(false);
    m_ui->actionButton->setEnabled(false);
    m_ui->cancelButton->setEnabled(false);
    m_workerRunning = true;
    ++m_workersStarted;

    int code = 0;
    {
        CPopDlg popup(this);
        code = m_worker.RunModal<int>(popup, [&job](const platform::JobControl& control) {
            control.Say(kPleaseWait);
            return job(control);
        });
    }

    m_workerRunning = false;
    EnableOk(okWas);
    m_ui->actionButton->setEnabled(actionWas);
    m_ui->cancelButton->setEnabled(cancelWas);
    return code;
}

void CDiscoverNasDlg::StartScan()
{
    if (m_workerRunning)
        return;
    const QString status = m_ui->statusText->text();
    m_ui->statusText->setText("Scanning Network..");
    m_ui->actionButton->setEnabled(false);
    RunJob([this](const platform::JobControl& job) { return DiscoveryScan(m_discovery, {}, false, job); });
    if (m_worker.Failed()) {
        // A scan that broke off found nothing out: the list and the status
        // stay as they were, and the scan may be tried again.
        m_ui->statusText->setText(status);
        m_ui->actionButton->setEnabled(true);
        m_autoAttach = false;
        return;
    }
    SendMessage(WM_SCAN_DONE);
}

intptr_t CDiscoverNasDlg::OnScanDone(const Message&)
{
    m_ui->statusText->setText(m_discovery.m_groups.empty() ? "Could not detect any NAS on LAN."
                                                           : "Please select a NAS to attach.");
    m_ui->actionButton->setEnabled(true);

    if (m_discovery.m_status != 0) {
        if (m_discovery.m_status == FINDER_ERR_NO_INTERFACE)
            ShowMessage(IDS_NO_NETWORK);
        else
            ShowMessageBox(this, "error " + std::to_string(m_discovery.m_status), platform::MB_ICONERROR);
        m_autoAttach = false;
        return 0;
    }

    for (const auto& row : m_rows)
        row->answering = false;
    const int mark = m_list->GetSelectionMark();
    for (const NasGroup& group : m_discovery.m_groups) {
        bool same = false;
        const NasInfo* rec = GroupRecord(group, &same);
        if (rec == nullptr)
            continue;
        const int image = same ? IMAGE_ANSWERING : IMAGE_OTHER_SUBNET;
        const std::string text = std::string(rec->name) + "\n" + IpToString(rec->deviceAddress);
        int found = -1;
        for (int i = 0; i < m_list->GetItemCount(); ++i)
            if (const RowRecord* r = Row(i); r != nullptr && std::memcmp(r->info.mac, rec->mac, 6) == 0) {
                found = i;
                break;
            }
        if (found >= 0) {
            RowRecord* r = Row(found);
            r->info = *rec;
            r->answering = true;
            m_list->SetItemText(found, 0, text);
            m_list->SetItemImage(found, image);
            m_list->SetItemDescription(found, StateText(image));
            if (m_mode == 1 && found == mark)
                EnableOk(true);
        } else {
            m_rows.push_back(std::make_unique<RowRecord>(RowRecord{*rec, true}));
            int row = m_list->InsertItem(m_list->GetItemCount(), text, image);
            m_list->SetItemDescription(row, StateText(image));
            m_list->SetItemData(row, reinterpret_cast<uintptr_t>(m_rows.back().get()));
        }
    }
    for (int i = 0; i < m_list->GetItemCount(); ++i) {
        if (Row(i)->answering)
            continue;
        m_list->SetItemImage(i, IMAGE_SILENT);
        m_list->SetItemDescription(i, StateText(IMAGE_SILENT));
        if (m_mode == 1 && i == mark)
            EnableOk(false);
    }

    // At start-up the device of the last login is attached by itself.
    CNasContext* ctx = GetNasContext();
    if (m_autoAttach && !ctx->m_macText.empty()) {
        m_autoAttach = false;
        unsigned char mac[6];
        int row = -1;
        if (StringToMac(ctx->m_macText, mac))
            for (int i = 0; i < m_list->GetItemCount(); ++i)
                if (const RowRecord* r = Row(i);
                    r != nullptr && r->answering && std::memcmp(r->info.mac, mac, 6) == 0) {
                    row = i;
                    break;
                }
        if (row >= 0) {
            m_list->SetItemSelected(row, true);
            m_list->SetSelectionMark(row);
            m_list->setFocus();
            m_selected = &Row(row)->info;
            if (m_mode == 1)
                EnableOk(true);
            if (!ctx->m_password.empty()) {
                EnterLoginMode(1);
                // Only a login form that was really reached logs in.
                if (m_mode == 2 && m_ui->okButton->isEnabled())
                    DoLogin();
            }
        }
    }
    m_autoAttach = false;
    return 1;
}

void CDiscoverNasDlg::DoLogin()
{
    if (m_workerRunning || m_selected == nullptr)
        return;
    const NasInfo record = *m_selected;
    const std::string user = m_ui->userEdit->text().toStdString();
    const std::string password = m_ui->passwordEdit->text().toStdString();
    const bool remember = m_ui->rememberCheck->isChecked();
    DiscoveryResult result;
    const int code = RunJob([&](const platform::JobControl& job) {
        result = DiscoveryLogin(record, user, password, job);
        return result.code;
    });
    switch (code) {
    case CODE_OK:
        CommitLogin(result.record, user, password, result.community, remember);
        EndDialog(platform::IDOK);
        break;
    case CODE_OTHER_SUBNET:
        m_pendingCommunity = result.community;
        EnterNetConfigMode();
        break;
    case FINDER_ERR_REFUSED:
    case FINDER_ERR_TOO_LONG:
    case FINDER_ERR_BAD_REPLY: // no usable community: the login failed
        m_ui->passwordEdit->selectAll();
        m_ui->passwordEdit->setFocus();
        ShowMessage(IDS_WRONG_PASSWORD);
        break;
    case FINDER_ERR_TIMEOUT: ShowMessage(IDS_NO_RESPONSE); break;
    case CODE_BACK_TO_LIST: EnterListMode(); break;
    case 0: break;
    default: ShowMessage(IDS_NO_NETWORK); break;
    }
}

void CDiscoverNasDlg::DoNetConfig()
{
    if (m_workerRunning || m_selected == nullptr)
        return;
    const NasInfo record = *m_selected;
    const bool automatic = m_ui->autoIp->isChecked();
    uint32_t ip = 0, mask = 0, gateway = 0;
    if (!automatic && !(ReadAddress(m_ui->ipAddress, ip) && ReadAddress(m_ui->maskAddress, mask) &&
                        ReadAddress(m_ui->gatewayAddress, gateway)))
        return;
    const std::string password = m_ui->passwordEdit->text().toStdString();
    const bool remember = m_ui->rememberCheck->isChecked();
    DiscoveryResult result;
    const int code = RunJob([&](const platform::JobControl& job) {
        result = DiscoveryConfigureNetwork(record, automatic, ip, mask, gateway, password, job);
        return result.code;
    });
    switch (code) {
    case CODE_OK:
        *m_selected = result.record;
        CommitLogin(result.record, "admin", password, m_pendingCommunity, remember);
        EndDialog(platform::IDOK);
        break;
    case FINDER_ERR_REFUSED:
    case FINDER_ERR_TOO_LONG:
        EnterLoginMode(0);
        m_ui->passwordEdit->selectAll();
        m_ui->passwordEdit->setFocus();
        ShowMessage(IDS_WRONG_PASSWORD);
        break;
    case FINDER_ERR_TIMEOUT: ShowMessage(IDS_NO_RESPONSE); break;
    case CODE_NO_DHCP_ADDRESS: ShowMessage(IDS_NO_DHCP_ADDRESS); break;
    case 0: break;
    default: ShowMessage(IDS_NO_NETWORK); break;
    }
}

void CDiscoverNasDlg::CommitLogin(const NasInfo& record, const std::string& user, const std::string& password,
                                  const std::string& community, bool remember)
{
    CNasContext* ctx = GetNasContext();
    ctx->Lock();
    ctx->m_nasInfo = record;
    ctx->m_deviceAddress = IpToString(record.deviceAddress);
    ctx->m_macText = MacToString(record.mac);
    ctx->m_user = user;
    ctx->m_userLevel.clear(); // read again for the new login
    ctx->m_password = password;
    ctx->m_community = community;
    ctx->m_rememberPassword = remember;
    ctx->Unlock();
    ctx->SaveLogin(true);
}
