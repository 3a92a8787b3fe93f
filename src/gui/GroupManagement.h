#pragma once
// The "Group Management" dialog: the device's groups with their members and
// quotas; add, edit and delete a group. It is the second face of the user
// management window: both show the tabs "User" and "Group" and hand over to
// each other in the same place on the screen (the swap state below).
#include <QRect>
#include <memory>
#include <string>
#include <vector>

#include "Dialog.h"
#include "QuotaForm.h"
#include "UserGroups.h"
#include "Worker.h"

namespace Ui {
class GroupManagement;
}
namespace platform::gui {
class ListCtrl;
}

// How the user and group dialogs hand over: flag 1 = the group dialog was
// left through its "User" tab; rect = the window's place to take.
struct UserGroupSwap {
    int flag = 0;
    QRect rect;
};
UserGroupSwap& GetUserGroupSwap();

class CGroupManagement : public platform::gui::Dialog {
    Q_OBJECT
public:
    enum : int {
        IDD = 273,
        IDC_USER_TAB = 1352,
        IDC_GROUP_TAB = 1353,
        IDC_EDIT = 1354,
        IDC_GROUP_LIST = 1356,
        IDC_REFRESH = 1357,
        IDC_DELETE = 1358,
        IDC_ADD = 1359,
        IDC_NAME_LABEL = 1360,
        IDC_NAME = 1361,
        IDC_ALL_USERS = 1362,
        IDC_ADD_MEMBER = 1363,
        IDC_REMOVE_MEMBER = 1364,
        IDC_MEMBERS = 1365,
        IDC_DISK1_QUOTA = 1366,
        IDC_DISK2_QUOTA = 1367,
        IDC_DISK1_LABEL = 1368,
        IDC_DISK2_LABEL = 1369,
        IDC_ALL_USERS_LABEL = 1370,
        IDC_MEMBERS_LABEL = 1371,
        IDC_SAVE = 1372,
        IDC_CLOSE = 1374,
        IDC_CANCEL_EDIT = 1375,
        IDC_QUOTA_FRAME = 1376,
        IDC_QUOTA_REMOVE = 1383,
        IDC_QUOTA_TITLE = 1408,
        IDC_QUOTA_ENABLE = 1409,
        IDC_QUOTA_DISABLE = 1410,
    };

    explicit CGroupManagement(QWidget* parent = nullptr);
    ~CGroupManagement() override;

    QWidget* GetDlgItem(int id) const;
    platform::gui::ListCtrl* GetGroupList() const { return m_list; }
    const DiskQuotaInfo& Disks() const { return m_disks; }

    // Handlers (public so that the window's owner and tests can drive them).
    void OnUserButton();
    void OnEdit();
    void OnCancelEdit();
    void OnRefresh() { RefreshGroupList(); }
    void OnClose();
    void OnAdd();
    void OnSave();
    void OnAddMember();
    void OnRemoveMember();
    void OnQuotaRemove();
    void OnDelete();
    void OnQuotaEnable();
    void OnQuotaDisable();

    void RefreshGroupList();

protected:
    bool OnInitDialog() override;
    void OnOK() override {}

private:
    void ShowListMode();
    void ShowEditMode();
    void ClearEditFields();
    // The device's users into the box of all users; false (the box as it
    // was) when the read failed.
    bool LoadAllUsers();
    void LoadGroupMembers(int row);
    void ShowQuotaArea(bool show);
    void EnableQuotaFields(bool enable);
    std::vector<QWidget*> ListModeControls() const;
    std::vector<QWidget*> EditModeControls() const;

    std::unique_ptr<Ui::GroupManagement> m_ui;
    platform::gui::ListCtrl* m_list = nullptr;
    platform::gui::Worker m_worker;
    DiskQuotaInfo m_disks;
    std::vector<GroupListRow> m_rows;
    bool m_quotaShown = false;
};
