#pragma once
// The "User Management" dialog: the device's users with the folders they may
// use, their groups and their quotas per disk; add a user, change a user's
// password, groups and quotas, delete a user. Its "Group" tab swaps to the
// group dialog in the same place. The dialog only shows and asks: reads,
// saves and deletes run on its worker behind the busy popup.
#include <QRect>
#include <memory>
#include <string>
#include <vector>

#include "Dialog.h"
#include "QuotaForm.h"
#include "UserAccounts.h"
#include "Worker.h"

class QButtonGroup;
class QRadioButton;
namespace Ui {
class UserManagement;
}
namespace platform::gui {
class ListCtrl;
}

class CUserManagement : public platform::gui::Dialog {
    Q_OBJECT
public:
    enum : int {
        IDD = 8099,
        IDC_USER_TAB = 1349,
        IDC_GROUP_TAB = 1350,
        IDC_QUOTA_TITLE = 1384,
        IDC_QUOTA_ENABLE = 1385,
        IDC_QUOTA_DISABLE = 1386,
        IDC_QUOTA_FRAME = 1387,
        IDC_QUOTA_REMOVE = 1388,
        IDC_DISK1_LABEL = 1389,
        IDC_DISK2_LABEL = 1390,
        IDC_DISK1_QUOTA = 1391,
        IDC_DISK2_QUOTA = 1392,
        IDC_GROUP_TITLE = 1393,
        IDC_GROUP_ENABLE = 1394,
        IDC_GROUP_DISABLE = 1395,
        IDC_GROUP_FRAME = 1396,
        IDC_ALL_GROUPS = 1397,
        IDC_ALL_GROUPS_LABEL = 1398,
        IDC_MEMBER_GROUPS = 1399,
        IDC_MEMBER_GROUPS_LABEL = 1400,
        IDC_ADD_GROUP = 1401,
        IDC_REMOVE_GROUP = 1402,
        IDC_PRIMARY_LABEL = 1403,
        IDC_PRIMARY_GROUP = 1404,
        IDC_CANCEL_EDIT = 1405,
        IDC_LEVEL_LABEL = 1406,
        IDC_LEVEL = 1407,
        IDC_USER_FRAME = 8100,
        IDC_CLOSE = 8101,
        IDC_SAVE = 8102,
        IDC_NAME_LABEL = 8103,
        IDC_PASSWORD_LABEL = 8104,
        IDC_CONFIRM_LABEL = 8105,
        IDC_NAME = 8106,
        IDC_PASSWORD = 8107,
        IDC_CONFIRM = 8108,
        IDC_LIST_FRAME = 8109,
        IDC_USER_LIST = 8110,
        IDC_ADD = 8111,
        IDC_EDIT = 8112,
        IDC_DELETE = 8113,
        IDC_REFRESH = 8114,
    };
    // Entries of the sorted level box.
    enum : int { kLevelAdmin = 0, kLevelUser = 1 };

    explicit CUserManagement(QWidget* parent = nullptr);
    ~CUserManagement() override;

    QWidget* GetDlgItem(int id) const;
    platform::gui::ListCtrl* GetUserList() const { return m_list; }
    const DiskQuotaInfo& Disks() const { return m_disks; }

    // Handlers (public so that the window's owner and tests can drive them).
    void OnAdd();
    void OnEdit();
    void OnDelete();
    void OnRefresh() { RefreshUserList(); }
    void OnClose();
    void OnSave();
    void OnCancelEdit();
    void OnGroupButton();
    void OnQuotaEnable();
    void OnQuotaDisable();
    void OnGroupEnable();
    void OnGroupDisable();
    void OnAddGroup();
    void OnRemoveGroup();
    void OnQuotaRemove();
    void OnPasswordChange();

    virtual void RefreshUserList();

protected:
    bool OnInitDialog() override;
    // Enter saves in the edit face and does nothing in the list face.
    void OnOK() override;

private:
    void HideEditControls();
    void ShowEditControls();
    void ClearEditFields();
    // The device's groups into the box of all groups; false (the box as it
    // was) when the read failed.
    bool LoadAllGroups();
    void LoadMemberGroups(int row);
    void EnableQuotaFields(bool enable);
    void Relayout();
    // Checks button, and opens or closes the panel it governs (open) to value.
    void SetPanelOpen(QRadioButton* button, bool& open, bool value);
    std::vector<QWidget*> ListFaceControls() const;
    std::vector<QWidget*> EditFaceControls() const;
    std::vector<QWidget*> QuotaPanel() const;
    std::vector<QWidget*> GroupPanel() const;

    std::unique_ptr<Ui::UserManagement> m_ui;
    platform::gui::ListCtrl* m_list = nullptr;
    QButtonGroup* m_quotaButtons = nullptr;
    QButtonGroup* m_groupButtons = nullptr;
    platform::gui::Worker m_worker;
    DiskQuotaInfo m_disks;
    std::vector<UserListRow> m_rows;
    QRect m_listRect; // the list face's window rectangle
    bool m_passwordLoaded = false;
    bool m_quotaOpen = false;
    bool m_groupOpen = false;
};

// Opens the dialog modally (the main window's "User Management" and the
// folder dialog's "Create User").
int RunUserManagement(QWidget* parent);
