#pragma once
// The device's user groups: the list the group dialog shows, the name
// checks, and the save and delete procedures with the group form
// "UserGroup.shtml". Run on a worker thread; boxes are shown from there.
#include <functional>
#include <string>
#include <vector>

#include "Job.h"
#include "QuotaForm.h"
#include "UserAccounts.h"

struct GroupListRow {
    std::string name;
    std::string disk1Quota;
    std::string disk2Quota;
    std::string members; // comma-separated, as the device holds them
};

// Reads the group table and the groups' quotas; what was read before a
// failed step of a walk.
std::vector<GroupListRow> ReadGroupList(const platform::JobControl& job, const LoginCopy& login);

// 0 valid, 1 refused (after a box).
int ValidateGroupName(const std::string& name);
// -1 when the name has a row (existingIndex := that row), -3 after three
// failed tries of one step, else the last row's index + 1 (1 when empty).
int FindGroupIndex(const LoginCopy& login, const std::string& name, int& existingIndex);
// True when list names the group (",@group,").
bool IsGroupInList(const std::string& group, const std::string& list);
// The members joined with "," (no trailing one).
std::string BuildMemberList(const std::vector<std::string>& members);

// Whether the member list a device holds (stored) is the one sent: the
// same names in any order, with or without the "," at the end. A sent name
// may be missing only when isUser says the device has no such user (a
// device keeps no member it does not know); a user it left out, or a name
// it added, is no match.
bool MemberListMatches(const std::vector<std::string>& sent, const std::string& stored,
                       const std::function<bool(const std::string&)>& isUser);

struct GroupForm {
    bool add = true; // the Save button's caption is "Add"
    std::string name;
    std::vector<std::string> members;
    QuotaInput quota;
};

std::string BuildGroupBody(const GroupForm& form, const std::string& index);
std::string BuildGroupRequest(const GroupForm& form, const std::string& index, const std::string& address,
                              const std::string& authorization);

// Saves a group as SaveUser saves a user: the post, the read-back, then its quotas.
SaveOutcome SaveGroup(const platform::JobControl& job, const LoginCopy& login, const GroupForm& form,
                      const DiskQuotaInfo& disks);

// Deletes a group unless a folder's read or write list names it: its row,
// then its quota rows, as DeleteUser does.
bool DeleteGroup(const platform::JobControl& job, const LoginCopy& login, const std::string& name);
