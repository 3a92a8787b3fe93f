#include "GroupManagement.h"

#include <optional>

#include "AccountPanels.h"
#include "ListBox.h"
#include "ListCtrl.h"
#include "MessageBoxes.h"
#include "NasMib.h"
#include "PopDlg.h"
#include "UserAccounts.h"
#include "ui_GroupManagement.h"

using namespace platform::gui;

namespace {

// List mode is this tall; the edit panel takes the list's place.
constexpr int kListModeHeight = 384;
constexpr int kQuotaFrameHeight = 92;

std::vector<std::string> Entries(const ListBox* box)
{
    std::vector<std::string> entries;
    entries.reserve(static_cast<size_t>(box->GetCount()));
    for (int i = 0; i < box->GetCount(); ++i)
        entries.push_back(box->GetText(i).toStdString());
    return entries;
}

} // namespace

UserGroupSwap& GetUserGroupSwap()
{
    static UserGroupSwap swap;
    return swap;
}

CGroupManagement::CGroupManagement(QWidget* parent) : Dialog(parent), m_ui(std::make_unique<Ui::GroupManagement>())
{
    m_ui->setupUi(this);
    m_list = m_ui->groupList;
    NameAccountList(m_list, "Group list");
    connect(m_ui->userTab, &QPushButton::clicked, this, [this] { OnUserButton(); });
    connect(m_ui->groupTab, &QPushButton::clicked, this, [this] { m_ui->groupTab->setChecked(true); });
    connect(m_ui->edit, &QPushButton::clicked, this, [this] { OnEdit(); });
    connect(m_ui->cancelEdit, &QPushButton::clicked, this, [this] { OnCancelEdit(); });
    connect(m_ui->refresh, &QPushButton::clicked, this, [this] { OnRefresh(); });
    connect(m_ui->close, &QPushButton::clicked, this, [this] { OnClose(); });
    connect(m_ui->add, &QPushButton::clicked, this, [this] { OnAdd(); });
    connect(m_ui->save, &QPushButton::clicked, this, [this] { OnSave(); });
    connect(m_ui->addMember, &QPushButton::clicked, this, [this] { OnAddMember(); });
    connect(m_ui->removeMember, &QPushButton::clicked, this, [this] { OnRemoveMember(); });
    connect(m_ui->quotaRemove, &QCheckBox::toggled, this, [this] { OnQuotaRemove(); });
    connect(m_ui->remove, &QPushButton::clicked, this, [this] { OnDelete(); });
    OnChecked(m_ui->quotaEnable, [this] { OnQuotaEnable(); });
    OnChecked(m_ui->quotaDisable, [this] { OnQuotaDisable(); });
}

CGroupManagement::~CGroupManagement()
{
    m_worker.Stop();
    Detach();
}

QWidget* CGroupManagement::GetDlgItem(int id) const
{
    switch (id) {
    case IDC_USER_TAB: return m_ui->userTab;
    case IDC_GROUP_TAB: return m_ui->groupTab;
    case IDC_EDIT: return m_ui->edit;
    case IDC_GROUP_LIST: return m_ui->groupList;
    case IDC_REFRESH: return m_ui->refresh;
    case IDC_DELETE: return m_ui->remove;
    case IDC_ADD: return m_ui->add;
    case IDC_NAME_LABEL: return m_ui->groupNameLabel;
    case IDC_NAME: return m_ui->groupName;
    case IDC_ALL_USERS: return m_ui->allUsers;
    case IDC_ADD_MEMBER: return m_ui->addMember;
    case IDC_REMOVE_MEMBER: return m_ui->removeMember;
    case IDC_MEMBERS: return m_ui->members;
    case IDC_DISK1_QUOTA: return m_ui->disk1Quota;
    case IDC_DISK2_QUOTA: return m_ui->disk2Quota;
    case IDC_DISK1_LABEL: return m_ui->disk1QuotaLabel;
    case IDC_DISK2_LABEL: return m_ui->disk2QuotaLabel;
    case IDC_ALL_USERS_LABEL: return m_ui->allUsersLabel;
    case IDC_MEMBERS_LABEL: return m_ui->membersLabel;
    case IDC_SAVE: return m_ui->save;
    case IDC_CLOSE: return m_ui->close;
    case IDC_CANCEL_EDIT: return m_ui->cancelEdit;
    case IDC_QUOTA_FRAME: return m_ui->quotaFrame;
    case IDC_QUOTA_REMOVE: return m_ui->quotaRemove;
    case IDC_QUOTA_TITLE: return m_ui->quotaTitle;
    case IDC_QUOTA_ENABLE: return m_ui->quotaEnable;
    case IDC_QUOTA_DISABLE: return m_ui->quotaDisable;
    default: return nullptr;
    }
}

std::vector<QWidget*> CGroupManagement::ListModeControls() const
{
    return {m_ui->userTab, m_ui->groupTab, m_ui->groupList, m_ui->refresh,
            m_ui->edit,    m_ui->remove,   m_ui->add,       m_ui->close};
}

std::vector<QWidget*> CGroupManagement::EditModeControls() const
{
    return {m_ui->groupNameLabel, m_ui->groupName,    m_ui->allUsersLabel, m_ui->allUsers,   m_ui->addMember,
            m_ui->removeMember,   m_ui->membersLabel, m_ui->members,       m_ui->quotaTitle, m_ui->quotaEnable,
            m_ui->quotaDisable,   m_ui->save,         m_ui->cancelEdit};
}

bool CGroupManagement::OnInitDialog()
{
    m_ui->userTab->setChecked(false);
    m_ui->groupTab->setChecked(true);
    SetUpAccountList(
        m_list,
        {{"Group Name", 100}, {"Disk1 Quota(MB)", 120}, {"Disk2 Quota(MB)", 120}, {"Members", m_list->width() - 300}});
    m_list->SetNotify({{}, {}, [this](int) { OnEdit(); }, {}});
    ShowListMode();
    // It stands exactly where the user dialog stood.
    const QRect saved = GetUserGroupSwap().rect;
    if (!saved.isNull())
        setGeometry(saved);
    const std::optional<DiskQuotaInfo> disks = RunBehindPopup(
        this, m_worker, [login = CopyLogin()](const platform::JobControl&) { return ReadDiskQuotaInfo(login); });
    if (!disks) {
        // Not opened on disks it could not read: back to the user dialog.
        GetUserGroupSwap().flag = 1;
        EndDialog(platform::IDOK);
        return true;
    }
    m_disks = *disks;
    EnableQuotaFields(true);
    RefreshGroupList();
    return true;
}

void CGroupManagement::ShowListMode()
{
    for (QWidget* w : EditModeControls())
        w->hide();
    ShowQuotaArea(false);
    for (QWidget* w : ListModeControls())
        w->show();
    resize(width(), kListModeHeight);
    m_list->setFocus();
}

void CGroupManagement::ShowEditMode()
{
    for (QWidget* w : ListModeControls())
        w->hide();
    for (QWidget* w : EditModeControls())
        w->show();
    m_ui->quotaEnable->setChecked(false);
    m_ui->quotaDisable->setChecked(true);
    ShowQuotaArea(false);
}

void CGroupManagement::ShowQuotaArea(bool show)
{
    const bool wasShown = m_quotaShown;
    for (QWidget* w : {static_cast<QWidget*>(m_ui->quotaFrame), static_cast<QWidget*>(m_ui->quotaRemove),
                       static_cast<QWidget*>(m_ui->disk1Quota), static_cast<QWidget*>(m_ui->disk2Quota),
                       static_cast<QWidget*>(m_ui->disk1QuotaLabel), static_cast<QWidget*>(m_ui->disk2QuotaLabel)})
        w->setVisible(show);
    m_quotaShown = show;
    if (show != wasShown) {
        const int dy = show ? kQuotaFrameHeight : -kQuotaFrameHeight;
        m_ui->save->move(m_ui->save->x(), m_ui->save->y() + dy);
        m_ui->cancelEdit->move(m_ui->cancelEdit->x(), m_ui->cancelEdit->y() + dy);
    }
    if (m_ui->save->isVisible())
        resize(width(), std::max(kListModeHeight, m_ui->save->geometry().bottom() + 12));
}

void CGroupManagement::EnableQuotaFields(bool enable) { QuotaFields::Of(*m_ui).Enable(m_disks, enable); }

void CGroupManagement::RefreshGroupList()
{
    auto rows = RunBehindPopup(
        this, m_worker, [login = CopyLogin()](const platform::JobControl& job) { return ReadGroupList(job, login); });
    if (!rows)
        return; // the list keeps what it showed
    m_rows = std::move(*rows);
    m_list->DeleteAllItems();
    for (const GroupListRow& row : m_rows)
        AddAccountRow(m_list, {row.name, row.disk1Quota, row.disk2Quota, row.members});
}

void CGroupManagement::ClearEditFields()
{
    m_ui->members->ResetContent();
    m_ui->disk1Quota->clear();
    m_ui->disk2Quota->clear();
    m_ui->groupName->setEnabled(true);
    m_ui->groupName->clear();
    m_ui->quotaRemove->setChecked(false);
    m_ui->quotaEnable->setChecked(false);
    m_ui->quotaDisable->setChecked(true);
    ShowQuotaArea(false);
}

bool CGroupManagement::LoadAllUsers()
{
    const std::optional<std::vector<std::string>> users =
        RunBehindPopup(this, m_worker, [login = CopyLogin()](const platform::JobControl&) {
            return ReadNameColumn(login, nasmib::kUserName);
        });
    if (!users)
        return false;
    m_ui->allUsers->ResetContent();
    for (const std::string& u : *users)
        m_ui->allUsers->AddString(QString::fromStdString(u));
    return true;
}

void CGroupManagement::LoadGroupMembers(int row)
{
    m_ui->members->ResetContent();
    const std::string members =
        row >= 0 && row < static_cast<int>(m_rows.size()) ? m_rows[row].members : m_list->GetItemText(row, 3);
    size_t from = 0;
    while (!members.empty() && from <= members.size()) {
        size_t comma = members.find(',', from);
        if (comma == std::string::npos)
            comma = members.size();
        const QString member = QString::fromStdString(members.substr(from, comma - from));
        if (!member.isEmpty()) {
            m_ui->members->AddString(member);
            RemoveBoxText(m_ui->allUsers, member);
        }
        from = comma + 1;
    }
}

void CGroupManagement::OnAdd()
{
    // No edit face on a user list that could not be read.
    if (!LoadAllUsers())
        return;
    ShowEditMode();
    ClearEditFields();
    m_ui->save->setText("Add");
    // The focus leaves the hidden list face for the first field to fill in.
    m_ui->groupName->setFocus();
}

void CGroupManagement::OnEdit()
{
    const int row = m_list->GetSelectedItem();
    if (row < 0) {
        ShowMessageBox(this, "Please select a group item first.", platform::MB_OK);
        return;
    }
    if (!LoadAllUsers())
        return;
    ShowEditMode();
    m_ui->save->setText("Save");
    m_ui->groupName->setText(QString::fromStdString(m_list->GetItemText(row, 0)));
    m_ui->groupName->setEnabled(false);
    LoadGroupMembers(row);
    m_ui->disk1Quota->setText(QString::fromStdString(m_list->GetItemText(row, 1)));
    m_ui->disk2Quota->setText(QString::fromStdString(m_list->GetItemText(row, 2)));
    m_ui->quotaRemove->setChecked(false);
    EnableQuotaFields(true);
    m_ui->quotaEnable->setChecked(false);
    m_ui->quotaDisable->setChecked(true);
    ShowQuotaArea(false);
    m_ui->allUsers->setFocus();
}

void CGroupManagement::OnCancelEdit()
{
    ShowListMode();
    const QRect saved = GetUserGroupSwap().rect;
    if (!saved.isNull())
        resize(saved.size());
}

void CGroupManagement::OnUserButton()
{
    GetUserGroupSwap().flag = 1;
    GetUserGroupSwap().rect = geometry();
    EndDialog(platform::IDOK);
}

void CGroupManagement::OnClose() { EndDialog(platform::IDOK); }

void CGroupManagement::OnAddMember() { MoveSelectedEntries(m_ui->allUsers, m_ui->members); }

void CGroupManagement::OnRemoveMember() { MoveSelectedEntries(m_ui->members, m_ui->allUsers); }

void CGroupManagement::OnQuotaRemove() { EnableQuotaFields(!m_ui->quotaRemove->isChecked()); }

void CGroupManagement::OnQuotaEnable()
{
    m_ui->quotaEnable->setChecked(true);
    m_ui->quotaDisable->setChecked(false);
    m_ui->quotaRemove->setChecked(false);
    EnableQuotaFields(true);
    ShowQuotaArea(true);
}

void CGroupManagement::OnQuotaDisable()
{
    m_ui->quotaEnable->setChecked(false);
    m_ui->quotaDisable->setChecked(true);
    ShowQuotaArea(false);
}

void CGroupManagement::OnSave()
{
    GroupForm form;
    form.add = m_ui->save->text() == "Add";
    form.name = m_ui->groupName->text().toStdString();
    form.members = Entries(m_ui->members);
    form.quota = QuotaFields::Of(*m_ui).Read();
    // A remove box that is not shown was not asked for.
    form.quota.remove = form.quota.remove && m_ui->quotaRemove->isVisible();
    const DiskQuotaInfo disks = m_disks;
    const std::optional<SaveOutcome> outcome =
        RunBehindPopup(this, m_worker, [form, disks, login = CopyLogin()](const platform::JobControl& job) {
            return SaveGroup(job, login, form, disks);
        });
    if (!outcome)
        return; // the edit face stays as typed
    if (*outcome == SaveOutcome::QuotaFailed) {
        // The group is on the device, its quotas are not: the edit face
        // stays with the quota fields as typed, now editing that group, so
        // that Save tries again.
        m_ui->save->setText("Save");
        m_ui->groupName->setEnabled(false);
        RefreshGroupList();
        m_ui->save->setFocus();
        return;
    }
    if (*outcome != SaveOutcome::Saved)
        return;
    OnCancelEdit();
    RefreshGroupList();
    const int r = FindAccountRow(m_list, form.name);
    if (r >= 0) {
        m_list->SetItemSelected(r, true);
        m_list->EnsureVisible(r);
        m_list->setFocus();
    }
}

void CGroupManagement::OnDelete()
{
    const int row = m_list->GetSelectedItem();
    if (row < 0) {
        ShowMessageBox(this, "Please select a group item first.", platform::MB_OK);
        return;
    }
    const std::string name = m_list->GetItemText(row, 0);
    const std::optional<bool> deleted =
        RunBehindPopup(this, m_worker, [name, login = CopyLogin()](const platform::JobControl& job) {
            return DeleteGroup(job, login, name);
        });
    if (deleted.value_or(false))
        RefreshGroupList();
}
