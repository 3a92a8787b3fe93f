#pragma once
// The device's user accounts: the list the user dialog shows, the checks of
// a user id, and the save and delete procedures with the user form
// "UserManagement.shtml". All of it runs on a worker thread and shows its
// boxes itself; the dialog only gathers the fields and shows the outcome.
#include <functional>
#include <string>
#include <vector>

#include "Job.h"
#include "QuotaForm.h"

// At most this many users on a device.
inline constexpr int kMaxUsers = 512;
// Level texts of the user table.
inline constexpr char kUserLevelAdmin[] = "15";
inline constexpr char kUserLevelUser[] = "1";

// One row of the user list.
struct UserListRow {
    std::string name;
    std::string ownFolders; // "[share] " per folder list naming the user
    std::string disk1Quota;
    std::string disk2Quota;
    std::string groups; // the user's group list as the device holds it
};

// Reads the user table, the folders' lists and the users' quotas. 0, or -1
// after the box "NAS timeout, refresh again." (rows then empty).
int ReadUserList(const platform::JobControl& job, const LoginCopy& login, std::vector<UserListRow>& rows);

// Every value of a name column (users 26.1.1.2, groups 26.2.1.2), walked
// without retries; what was read before a failed step.
std::vector<std::string> ReadNameColumn(const LoginCopy& login, const char* column);

// 1 (refused after a box) or 0.
int CheckUserId(const std::string& id);
// New row index, or -1 the name exists, -2 the table is full, -3 time-out.
int GetNewUserIndex(const LoginCopy& login, const std::string& name);
// 1 when the row holds that name and password, else 0.
int VerifyUserRow(const LoginCopy& login, const std::string& name, const std::string& password,
                  const std::string& index);
// 1 when the device answers its state probe with a value, else 0 after a box.
int CheckNasState(const LoginCopy& login);

// What the user dialog's edit face holds when Save is pressed.
struct UserForm {
    bool add = true; // the Save button's caption is "Add"
    std::string name;
    std::string password;
    std::string confirm;
    bool admin = false; // level box on "Admin"
    bool groupsEnabled = false;
    std::vector<std::string> memberGroups; // in box order
    std::string primaryGroup;
    QuotaInput quota;
};

// The member groups as the device keeps them: each followed by ",", the
// primary group first.
std::string BuildGroupList(const std::vector<std::string>& groups, const std::string& primary);
// The form's body for row index.
std::string BuildUserBody(const UserForm& form, const std::string& index);
std::string BuildUserRequest(const UserForm& form, const std::string& index, const std::string& address,
                             const std::string& authorization);

// How a save of a user or group ended.
enum class SaveOutcome {
    Refused,      // not sent (a box said why); the edit face stays
    NotConfirmed, // sent, but the row did not read back ("Failed!"); no quota was posted
    QuotaFailed,  // the row reads back, but its quotas are not as asked (a box said why)
    Saved,        // the row reads back; quotas handled
};
// Posts a user or group form to the device's web port (request builds it for
// the device's address and the login's authorization), then lets the
// device's table decide: readsBack is asked until it holds or the read-back
// limit has passed ("Failed!" when the device still answers). Once it holds,
// the quotas of name (type kQuotaTypeUser or kQuotaTypeGroup) are written as
// quota says (QuotaFailed when they are not on the device). Refused when the
// post could not be sent.
SaveOutcome
PostAccountForm(const platform::JobControl& job, const LoginCopy& login, int port,
                const std::function<std::string(const std::string& address, const std::string& authorization)>& request,
                const std::function<bool()>& readsBack, const std::string& name, const char* type,
                const QuotaInput& quota, const DiskQuotaInfo& disks);
SaveOutcome SaveUser(const platform::JobControl& job, const LoginCopy& login, UserForm form,
                     const DiskQuotaInfo& disks);
// After the row of a user or group (what: "User", "Group") is deleted: its
// quota rows, with a box that says so when they could not be removed.
void RemoveQuotaRowsOfDeleted(const LoginCopy& login, const char* what, const std::string& name,
                              const std::string& disk1Index, const std::string& disk2Index);

// Deletes a user: its row, then its quota rows, so that a row that cannot
// be deleted keeps its quotas. ownFolders is the list's "Own Folder" text.
// False when refused or failed (after a box; the device is as it was); true
// once the row is gone, after a box when its quota rows stay behind.
bool DeleteUser(const platform::JobControl& job, const LoginCopy& login, const std::string& name,
                const std::string& ownFolders);

// The account fields an edit starts from: 0, or -3 after the box "Timeout".
struct UserDetails {
    std::string password;
    bool admin = false;
};
int ReadUserDetails(const LoginCopy& login, const std::string& name, UserDetails& details);
