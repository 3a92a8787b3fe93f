#include "UserManagement.h"

#include <QButtonGroup>
#include <QGuiApplication>
#include <QScreen>
#include <optional>

#include "AccountPanels.h"
#include "GroupManagement.h"
#include "ListBox.h"
#include "ListCtrl.h"
#include "MessageBoxes.h"
#include "NasMib.h"
#include "PopDlg.h"
#include "stdafx.h"
#include "ui_UserManagement.h"

using namespace platform::gui;

namespace {

// Where the sections of the edit face sit in the template, and where they go.
constexpr int kQuotaRowY = 186;
constexpr int kMemberRowBaseY = 312;
constexpr int kMemberPanelBaseY = 336;
constexpr int kQuotaPanelHeight = 100;
constexpr int kMemberPanelHeight = 210;
constexpr int kListFaceHeight = 384;

void MoveToY(QWidget* w, int y) { w->move(w->x(), y); }

} // namespace

CUserManagement::CUserManagement(QWidget* parent) : Dialog(parent), m_ui(std::make_unique<Ui::UserManagement>())
{
    m_ui->setupUi(this);
    m_list = m_ui->userList;
    NameAccountList(m_list, "User list");
    m_ui->listFrame->hide(); // a layout reference only

    // Sorted box: "Admin" is entry 0, "User" entry 1.
    m_ui->level->addItem("Admin");
    m_ui->level->addItem("User");

    m_quotaButtons = new QButtonGroup(this);
    m_quotaButtons->addButton(m_ui->quotaEnable);
    m_quotaButtons->addButton(m_ui->quotaDisable);
    m_groupButtons = new QButtonGroup(this);
    m_groupButtons->addButton(m_ui->groupEnable);
    m_groupButtons->addButton(m_ui->groupDisable);

    connect(m_ui->add, &QPushButton::clicked, this, [this] { OnAdd(); });
    connect(m_ui->edit, &QPushButton::clicked, this, [this] { OnEdit(); });
    connect(m_ui->remove, &QPushButton::clicked, this, [this] { OnDelete(); });
    connect(m_ui->refresh, &QPushButton::clicked, this, [this] { OnRefresh(); });
    connect(m_ui->close, &QPushButton::clicked, this, [this] { OnClose(); });
    connect(m_ui->save, &QPushButton::clicked, this, [this] { OnSave(); });
    connect(m_ui->cancelEdit, &QPushButton::clicked, this, [this] { OnCancelEdit(); });
    connect(m_ui->groupTab, &QPushButton::clicked, this, [this] { OnGroupButton(); });
    connect(m_ui->userTab, &QPushButton::clicked, this, [this] { m_ui->userTab->setChecked(true); });
    OnChecked(m_ui->quotaEnable, [this] { OnQuotaEnable(); });
    OnChecked(m_ui->quotaDisable, [this] { OnQuotaDisable(); });
    OnChecked(m_ui->groupEnable, [this] { OnGroupEnable(); });
    OnChecked(m_ui->groupDisable, [this] { OnGroupDisable(); });
    connect(m_ui->addGroup, &QPushButton::clicked, this, [this] { OnAddGroup(); });
    connect(m_ui->removeGroup, &QPushButton::clicked, this, [this] { OnRemoveGroup(); });
    connect(m_ui->quotaRemove, &QCheckBox::toggled, this, [this] { OnQuotaRemove(); });
    connect(m_ui->password, &QLineEdit::textEdited, this, [this] { OnPasswordChange(); });
}

CUserManagement::~CUserManagement()
{
    m_worker.Stop();
    Detach();
}

QWidget* CUserManagement::GetDlgItem(int id) const
{
    switch (id) {
    case IDC_USER_TAB: return m_ui->userTab;
    case IDC_GROUP_TAB: return m_ui->groupTab;
    case IDC_QUOTA_TITLE: return m_ui->quotaTitle;
    case IDC_QUOTA_ENABLE: return m_ui->quotaEnable;
    case IDC_QUOTA_DISABLE: return m_ui->quotaDisable;
    case IDC_QUOTA_FRAME: return m_ui->quotaFrame;
    case IDC_QUOTA_REMOVE: return m_ui->quotaRemove;
    case IDC_DISK1_LABEL: return m_ui->disk1QuotaLabel;
    case IDC_DISK2_LABEL: return m_ui->disk2QuotaLabel;
    case IDC_DISK1_QUOTA: return m_ui->disk1Quota;
    case IDC_DISK2_QUOTA: return m_ui->disk2Quota;
    case IDC_GROUP_TITLE: return m_ui->groupTitle;
    case IDC_GROUP_ENABLE: return m_ui->groupEnable;
    case IDC_GROUP_DISABLE: return m_ui->groupDisable;
    case IDC_GROUP_FRAME: return m_ui->groupFrame;
    case IDC_ALL_GROUPS: return m_ui->allGroups;
    case IDC_ALL_GROUPS_LABEL: return m_ui->allGroupsLabel;
    case IDC_MEMBER_GROUPS: return m_ui->memberGroups;
    case IDC_MEMBER_GROUPS_LABEL: return m_ui->memberGroupsLabel;
    case IDC_ADD_GROUP: return m_ui->addGroup;
    case IDC_REMOVE_GROUP: return m_ui->removeGroup;
    case IDC_PRIMARY_LABEL: return m_ui->primaryGroupLabel;
    case IDC_PRIMARY_GROUP: return m_ui->primaryGroup;
    case IDC_CANCEL_EDIT: return m_ui->cancelEdit;
    case IDC_LEVEL_LABEL: return m_ui->levelLabel;
    case IDC_LEVEL: return m_ui->level;
    case IDC_USER_FRAME: return m_ui->userFrame;
    case IDC_CLOSE: return m_ui->close;
    case IDC_SAVE: return m_ui->save;
    case IDC_NAME_LABEL: return m_ui->userNameLabel;
    case IDC_PASSWORD_LABEL: return m_ui->passwordLabel;
    case IDC_CONFIRM_LABEL: return m_ui->confirmLabel;
    case IDC_NAME: return m_ui->userName;
    case IDC_PASSWORD: return m_ui->password;
    case IDC_CONFIRM: return m_ui->confirm;
    case IDC_LIST_FRAME: return m_ui->listFrame;
    case IDC_USER_LIST: return m_ui->userList;
    case IDC_ADD: return m_ui->add;
    case IDC_EDIT: return m_ui->edit;
    case IDC_DELETE: return m_ui->remove;
    case IDC_REFRESH: return m_ui->refresh;
    default: return nullptr;
    }
}

std::vector<QWidget*> CUserManagement::ListFaceControls() const
{
    return {m_ui->userTab, m_ui->groupTab, m_ui->userList, m_ui->refresh,
            m_ui->edit,    m_ui->remove,   m_ui->add,      m_ui->close};
}

std::vector<QWidget*> CUserManagement::EditFaceControls() const
{
    return {m_ui->userFrame,    m_ui->userNameLabel, m_ui->userName,   m_ui->passwordLabel, m_ui->password,
            m_ui->confirmLabel, m_ui->confirm,       m_ui->levelLabel, m_ui->level,         m_ui->quotaTitle,
            m_ui->quotaEnable,  m_ui->quotaDisable,  m_ui->groupTitle, m_ui->groupEnable,   m_ui->groupDisable,
            m_ui->cancelEdit,   m_ui->save};
}

std::vector<QWidget*> CUserManagement::QuotaPanel() const
{
    return {m_ui->quotaFrame, m_ui->quotaRemove,     m_ui->disk1QuotaLabel,
            m_ui->disk1Quota, m_ui->disk2QuotaLabel, m_ui->disk2Quota};
}

std::vector<QWidget*> CUserManagement::GroupPanel() const
{
    return {m_ui->groupFrame,   m_ui->allGroupsLabel,    m_ui->allGroups,
            m_ui->addGroup,     m_ui->removeGroup,       m_ui->memberGroupsLabel,
            m_ui->memberGroups, m_ui->primaryGroupLabel, m_ui->primaryGroup};
}

bool CUserManagement::OnInitDialog()
{
    SetUpAccountList(m_list, {{"User Name", 100},
                              {"Own Folder", 100},
                              {"Disk1 Quota(MB)", 120},
                              {"Disk2 Quota(MB)", 120},
                              {"Belong Group", 130}});
    m_list->SetNotify({[this](int row) {
                           if (row >= 0)
                               m_ui->userName->setText(QString::fromStdString(m_list->GetItemText(row, 0)));
                       },
                       {},
                       [this](int) { OnEdit(); },
                       [this](int row) {
                           const std::string name = m_list->GetItemText(row, 0);
                           if (!name.empty())
                               m_ui->userName->setText(QString::fromStdString(name));
                       }});
    // The list face in the middle of the work area, a little above centre.
    resize(width(), kListFaceHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect work = screen->availableGeometry();
        int x = work.width() / 2 + work.left() - width() / 2;
        int y = work.height() / 2 + work.top() - (height() / 3) * 2;
        if (x + width() > work.right())
            x = work.right() - width();
        if (x < 0)
            x = 0;
        if (y + height() > work.bottom())
            y = work.bottom() - height();
        move(x, y);
    }
    m_listRect = geometry();
    const std::optional<DiskQuotaInfo> disks = RunBehindPopup(
        this, m_worker, [login = CopyLogin()](const platform::JobControl&) { return ReadDiskQuotaInfo(login); });
    if (!disks) {
        // Not opened on disks it could not read.
        EndDialog(platform::IDCANCEL);
        return true;
    }
    m_disks = *disks;
    m_passwordLoaded = true;
    HideEditControls();
    RefreshUserList();
    m_ui->userTab->setChecked(true);
    return true;
}

void CUserManagement::OnOK()
{
    if (m_ui->save->isVisible())
        OnSave();
}

void CUserManagement::EnableQuotaFields(bool enable) { QuotaFields::Of(*m_ui).Enable(m_disks, enable); }

void CUserManagement::HideEditControls()
{
    for (QWidget* w : EditFaceControls())
        w->hide();
    for (QWidget* w : QuotaPanel())
        w->hide();
    for (QWidget* w : GroupPanel())
        w->hide();
    m_quotaOpen = m_groupOpen = false;
    for (QWidget* w : ListFaceControls())
        w->show();
    EnableQuotaFields(true);
    resize(width(), m_listRect.isNull() ? kListFaceHeight : m_listRect.height());
    m_list->setFocus();
}

void CUserManagement::ShowEditControls()
{
    for (QWidget* w : ListFaceControls())
        w->hide();
    for (QWidget* w : EditFaceControls())
        w->show();
    m_ui->quotaDisable->setChecked(true);
    m_ui->groupDisable->setChecked(true);
    m_quotaOpen = m_groupOpen = false;
    Relayout();
    // The focus leaves the hidden list face for the first field to fill in.
    (m_ui->userName->isEnabled() ? m_ui->userName : m_ui->password)->setFocus();
}

// Places the sections below the user fields: each open panel right under its
// radio row, the rows and buttons below moved down by the open panels.
void CUserManagement::Relayout()
{
    for (QWidget* w : QuotaPanel())
        w->setVisible(m_quotaOpen);
    for (QWidget* w : GroupPanel())
        w->setVisible(m_groupOpen);
    MoveToY(m_ui->quotaTitle, kQuotaRowY);
    const int memberRowY = kQuotaRowY + 26 + (m_quotaOpen ? kQuotaPanelHeight : 0);
    for (QWidget* w : {static_cast<QWidget*>(m_ui->groupTitle), static_cast<QWidget*>(m_ui->groupEnable),
                       static_cast<QWidget*>(m_ui->groupDisable)})
        MoveToY(w, memberRowY);
    const int shift = memberRowY - kMemberRowBaseY;
    static const std::vector<std::pair<const char*, int>> panelBase = {{"groupFrame", kMemberPanelBaseY},
                                                                       {"allGroupsLabel", 344},
                                                                       {"allGroups", 366},
                                                                       {"addGroup", 396},
                                                                       {"removeGroup", 436},
                                                                       {"memberGroupsLabel", 344},
                                                                       {"memberGroups", 366},
                                                                       {"primaryGroupLabel", 500},
                                                                       {"primaryGroup", 498}};
    for (const auto& [name, y] : panelBase)
        if (QWidget* w = findChild<QWidget*>(name))
            MoveToY(w, y + shift);
    const int buttonsY = memberRowY + 34 + (m_groupOpen ? kMemberPanelHeight : 0);
    MoveToY(m_ui->save, buttonsY);
    MoveToY(m_ui->cancelEdit, buttonsY);
    const int listHeight = m_listRect.isNull() ? kListFaceHeight : m_listRect.height();
    resize(width(), std::max(listHeight + 1, buttonsY + 36));
}

void CUserManagement::ClearEditFields()
{
    m_ui->userName->clear();
    m_ui->password->clear();
    m_ui->confirm->clear();
    m_ui->disk1Quota->clear();
    m_ui->disk2Quota->clear();
    m_ui->quotaRemove->setChecked(false);
    EnableQuotaFields(true);
    m_ui->memberGroups->ResetContent();
    m_ui->primaryGroup->clear();
}

bool CUserManagement::LoadAllGroups()
{
    const std::optional<std::vector<std::string>> groups =
        RunBehindPopup(this, m_worker, [login = CopyLogin()](const platform::JobControl&) {
            return ReadNameColumn(login, nasmib::kGroupName);
        });
    if (!groups)
        return false;
    m_ui->allGroups->ResetContent();
    for (const std::string& g : *groups)
        m_ui->allGroups->AddString(QString::fromStdString(g));
    for (int i = 0; i < m_ui->memberGroups->GetCount(); ++i)
        RemoveBoxText(m_ui->allGroups, m_ui->memberGroups->GetText(i));
    return true;
}

void CUserManagement::LoadMemberGroups(int row)
{
    m_ui->memberGroups->ResetContent();
    m_ui->primaryGroup->clear();
    std::string text =
        Trim(row >= 0 && row < static_cast<int>(m_rows.size()) ? m_rows[row].groups : m_list->GetItemText(row, 4));
    if (text.empty())
        return;
    if (text.front() == ',')
        text.erase(0, 1);
    if (text.empty() || text.back() != ',')
        text += ',';
    size_t from = 0, comma;
    while ((comma = text.find(',', from)) != std::string::npos) {
        const QString group = QString::fromStdString(text.substr(from, comma - from));
        from = comma + 1;
        if (group.isEmpty())
            continue;
        m_ui->memberGroups->AddString(group);
        m_ui->primaryGroup->addItem(group);
        RemoveBoxText(m_ui->allGroups, group);
    }
    m_ui->primaryGroup->setCurrentIndex(0);
}

void CUserManagement::RefreshUserList()
{
    auto rows = RunBehindPopup(this, m_worker, [login = CopyLogin()](const platform::JobControl& job) {
        std::vector<UserListRow> rows;
        ReadUserList(job, login, rows);
        return rows;
    });
    if (!rows)
        return; // the list keeps what it showed
    m_rows = std::move(*rows);
    m_list->DeleteAllItems();
    for (const UserListRow& row : m_rows)
        AddAccountRow(m_list, {row.name, row.ownFolders, row.disk1Quota, row.disk2Quota, row.groups});
}

void CUserManagement::OnAdd()
{
    ClearEditFields();
    // No edit face on a group list that could not be read.
    if (!LoadAllGroups())
        return;
    m_ui->save->setText("Add");
    m_ui->userName->setEnabled(true);
    m_ui->level->setEnabled(true);
    // A new account gets plain user rights unless the administrator picks
    // "Admin" on purpose.
    m_ui->level->setCurrentIndex(kLevelUser);
    m_passwordLoaded = false;
    ShowEditControls();
}

void CUserManagement::OnEdit()
{
    int row = m_list->GetSelectionMark();
    if (row < 0 || row >= m_list->GetItemCount()) {
        ShowMessageBox(this, "Please select a user.", platform::MB_OK);
        return;
    }
    ClearEditFields();
    const std::string name = m_list->GetItemText(row, 0);
    m_ui->userName->setText(QString::fromStdString(name));
    UserDetails details;
    if (RunBehindPopup(this, m_worker, [name, &details, login = CopyLogin()](const platform::JobControl&) {
            return ReadUserDetails(login, name, details);
        }) != 0)
        return; // not read (or the read failed): the list face stays
    if (!LoadAllGroups())
        return;
    m_ui->password->setText(QString::fromStdString(details.password));
    m_ui->confirm->setText(QString::fromStdString(details.password));
    m_ui->level->setCurrentIndex(details.admin ? kLevelAdmin : kLevelUser);
    m_ui->level->setEnabled(false);
    m_passwordLoaded = true;
    m_ui->userName->setEnabled(false);
    m_ui->save->setText("Save");
    ShowEditControls();
    m_ui->disk1Quota->setText(QString::fromStdString(m_list->GetItemText(row, 2)));
    m_ui->disk2Quota->setText(QString::fromStdString(m_list->GetItemText(row, 3)));
    LoadMemberGroups(row);
}

// ">>" and "<<" move the selected entries, wherever the current item is: an
// assistive tool selects a row without moving it.
void CUserManagement::OnAddGroup()
{
    for (const QString& group : MoveSelectedEntries(m_ui->allGroups, m_ui->memberGroups))
        m_ui->primaryGroup->addItem(group);
}

void CUserManagement::OnRemoveGroup()
{
    for (const QString& group : MoveSelectedEntries(m_ui->memberGroups, m_ui->allGroups)) {
        const int at = m_ui->primaryGroup->findText(group);
        if (at >= 0)
            m_ui->primaryGroup->removeItem(at);
    }
}

void CUserManagement::OnPasswordChange()
{
    if (m_passwordLoaded) {
        m_ui->confirm->clear();
        m_passwordLoaded = false;
    }
}

void CUserManagement::OnQuotaRemove() { EnableQuotaFields(!m_ui->quotaRemove->isChecked()); }

void CUserManagement::SetPanelOpen(QRadioButton* button, bool& open, bool value)
{
    button->setChecked(true);
    if (open != value) {
        open = value;
        Relayout();
    }
}

void CUserManagement::OnQuotaEnable() { SetPanelOpen(m_ui->quotaEnable, m_quotaOpen, true); }

void CUserManagement::OnQuotaDisable() { SetPanelOpen(m_ui->quotaDisable, m_quotaOpen, false); }

void CUserManagement::OnGroupEnable() { SetPanelOpen(m_ui->groupEnable, m_groupOpen, true); }

void CUserManagement::OnGroupDisable() { SetPanelOpen(m_ui->groupDisable, m_groupOpen, false); }

void CUserManagement::OnCancelEdit() { HideEditControls(); }

void CUserManagement::OnSave()
{
    UserForm form;
    form.add = m_ui->save->text() == "Add";
    const std::string name = Trim(m_ui->userName->text().toStdString());
    m_ui->userName->setText(QString::fromStdString(name));
    form.name = name;
    form.password = m_ui->password->text().toStdString();
    form.confirm = m_ui->confirm->text().toStdString();
    form.admin = m_ui->level->currentIndex() == kLevelAdmin;
    form.groupsEnabled = m_ui->groupEnable->isChecked();
    for (int i = 0; i < m_ui->memberGroups->GetCount(); ++i)
        form.memberGroups.push_back(m_ui->memberGroups->GetText(i).toStdString());
    form.primaryGroup = m_ui->primaryGroup->currentText().toStdString();
    form.quota = QuotaFields::Of(*m_ui).Read();
    const DiskQuotaInfo disks = m_disks;
    const std::optional<SaveOutcome> outcome =
        RunBehindPopup(this, m_worker, [form, disks, login = CopyLogin()](const platform::JobControl& job) {
            return SaveUser(job, login, form, disks);
        });
    if (!outcome || *outcome == SaveOutcome::Refused)
        return; // the edit face stays as typed
    m_list->DeleteAllItems();
    m_rows.clear();
    if (*outcome == SaveOutcome::NotConfirmed)
        return; // the edit face stays, the list stays empty
    if (*outcome == SaveOutcome::QuotaFailed) {
        // The account is on the device, its quotas are not: the edit face
        // stays with the quota fields as typed, now editing that account,
        // so that Save tries again.
        m_ui->save->setText("Save");
        m_ui->userName->setEnabled(false);
        m_ui->level->setEnabled(false);
        m_passwordLoaded = true;
        RefreshUserList();
        m_ui->save->setFocus();
        return;
    }
    HideEditControls();
    RefreshUserList();
    const int r = FindAccountRow(m_list, name);
    if (r >= 0) {
        m_list->SetSelectionMark(r);
        m_list->EnsureVisible(r);
        m_list->SetItemSelected(r, true);
    }
}

void CUserManagement::OnDelete()
{
    if (GetNasContext()->m_deviceAddress.empty()) {
        ShowMessageBox(this, "No NAS connected!", platform::MB_OK);
        return;
    }
    const int row = m_list->GetSelectionMark();
    if (row < 0 || row >= m_list->GetItemCount()) {
        ShowMessageBox(this, "Please select a user.", platform::MB_OK);
        return;
    }
    const std::string name = m_list->GetItemText(row, 0);
    const std::string folders = m_list->GetItemText(row, 1);
    const std::optional<bool> deleted =
        RunBehindPopup(this, m_worker, [name, folders, login = CopyLogin()](const platform::JobControl& job) {
            return DeleteUser(job, login, name, folders);
        });
    if (!deleted.value_or(false))
        return;
    RefreshUserList();
    if (m_list->GetItemCount() == 0)
        RefreshUserList();
}

void CUserManagement::OnClose() { EndDialog(platform::IDOK); }

void CUserManagement::OnGroupButton()
{
    UserGroupSwap& swap = GetUserGroupSwap();
    swap.flag = 0;
    swap.rect = geometry();
    // This window steps aside (hidden, out of the accessibility tree) while
    // the group dialog stands in its place.
    const QRect mine = geometry();
    StepAside();
    CGroupManagement groups(parentWidget());
    groups.DoModal();
    if (swap.flag == 1) {
        m_ui->userTab->setChecked(true);
        m_ui->groupTab->setChecked(false);
        setGeometry(swap.rect.isNull() ? mine : swap.rect);
        StepBack();
    } else {
        OnClose();
    }
}

int RunUserManagement(QWidget* parent)
{
    CUserManagement dlg(parent);
    return dlg.DoModal();
}
