#include "UserGroups.h"

#include <optional>
#include <set>

#include "HttpRequest.h"
#include "MessageBox.h"
#include "NasMib.h"
#include "SnmpHelpers.h"
#include "UserAccounts.h"
#include "stdafx.h"
#include "y_snmp.h"

namespace {

// A long value read whole with up to three tries (the retry helpers' rule),
// pausing on the program's clock between them.
bool GetWholeWithRetry(const platform::JobControl& job, CSnmpEngine& engine, const std::string& oid, std::string& value)
{
    for (int i = 0; i < 3; ++i) {
        if (engine.GetWhole(oid, value) == 0)
            return true;
        if (!job.Pause(kSnmpRetryPauseMs))
            return false;
    }
    return false;
}

// The names of a comma-separated list, trimmed, empty entries left out.
std::set<std::string> NamesOf(const std::string& list)
{
    std::set<std::string> names;
    for (size_t from = 0; from <= list.size();) {
        size_t comma = list.find(',', from);
        if (comma == std::string::npos)
            comma = list.size();
        const std::string name = Trim(list.substr(from, comma - from));
        if (!name.empty())
            names.insert(name);
        from = comma + 1;
    }
    return names;
}

// The group's row holds the name and members the form sent. The user table
// is read only when the device left a name out.
bool GroupRowReadsBack(CSnmpEngine& engine, const GroupForm& form, const std::string& index)
{
    std::string name, members;
    if (engine.SimpleGet(NasCell(nasmib::kGroupName, index), name) != 0 || name != form.name ||
        engine.GetWhole(NasCell(nasmib::kGroupUserList, index), members) != 0)
        return false;
    std::optional<std::set<std::string>> users;
    bool unreadable = false;
    const bool match = MemberListMatches(form.members, members, [&](const std::string& user) {
        if (!users) {
            users.emplace();
            unreadable = SnmpWalkColumn(engine, nasmib::kUserName, 3, [&](const std::string&, const std::string& v) {
                             users->insert(v);
                             return true;
                         }) != 0;
        }
        // A user table that cannot be read proves nothing: the name counts as
        // a user, and the read-back looks again.
        return unreadable || users->count(user) != 0;
    });
    return match;
}

} // namespace

std::vector<GroupListRow> ReadGroupList(const platform::JobControl& job, const LoginCopy& login)
{
    std::vector<GroupListRow> rows;
    CSnmpEngine engine = DeviceEngine(login);
    SnmpWalkColumn(engine, nasmib::kGroupName, 1, [&](const std::string& oid, const std::string& value) {
        GroupListRow row;
        row.name = value;
        engine.GetWhole(NasCell(nasmib::kGroupUserList, NasRowOf(oid)), row.members);
        rows.push_back(row);
        return true;
    });
    ApplyQuotaEntries(ReadQuotaEntries(job, engine, kQuotaTypeGroup), rows);
    return rows;
}

int ValidateGroupName(const std::string& name)
{
    const char* message = nullptr;
    std::string lower;
    bool ascii = true;
    for (char c : name) {
        lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (static_cast<unsigned char>(c) >= 0x80)
            ascii = false;
    }
    if (name.empty())
        message = "Group Name can not be empty.";
    else if (name.size() >= 16)
        message = "Group Name length must less than 15.";
    else if (!ascii)
        message = "Only support ASCII code.";
    else if (lower == "root")
        message = "This group name is a reserved name.";
    else if (name.find_first_of("\\/[]:|<>+=;?,*\"#&()`'@$ .") != std::string::npos)
        message = "Group Name can not include any following characters \\ / [ ] : | < > + = ; ? , * \" # & ( ) ` ' @ "
                  "$ and space";
    if (!message)
        return 0;
    platform::MessageBox(message);
    return 1;
}

int FindGroupIndex(const LoginCopy& login, const std::string& name, int& existingIndex)
{
    return SnmpNewRowIndex(login, nasmib::kGroupName, name, 0, existingIndex);
}

bool IsGroupInList(const std::string& group, const std::string& list)
{
    std::string g = Trim(group), l = Trim(list);
    if (g.empty() || g.front() != ',')
        g = ",@" + g;
    if (g.back() != ',')
        g += ',';
    if (l.empty() || l.front() != ',')
        l = "," + l;
    if (l.back() != ',')
        l += ',';
    return l.find(g) != std::string::npos;
}

std::string BuildMemberList(const std::vector<std::string>& members)
{
    std::string text;
    for (const std::string& m : members) {
        if (!text.empty())
            text += ',';
        text += m;
    }
    return text;
}

bool MemberListMatches(const std::vector<std::string>& sent, const std::string& stored,
                       const std::function<bool(const std::string&)>& isUser)
{
    std::set<std::string> wanted;
    for (const std::string& m : sent)
        if (!Trim(m).empty())
            wanted.insert(Trim(m));
    const std::set<std::string> held = NamesOf(stored);
    for (const std::string& m : held)
        if (wanted.count(m) == 0)
            return false;
    for (const std::string& m : wanted)
        if (held.count(m) == 0 && isUser(m))
            return false;
    return true;
}

std::string BuildGroupBody(const GroupForm& form, const std::string& i)
{
    // The member list is escaped like the name: "%" is legal in user names.
    const std::string members = BuildMemberList(form.members);
    CSetObjectBody body;
    if (form.add) {
        body.RowStart("rowstart", nasmib::kGroupRowStatus, i)
            .Integer("GroupIndex", nasmib::kGroupIndex, i, i)
            .String("GroupName", nasmib::kGroupName, i, form.name, CSetObjectBody::kEscaped)
            .String("GroupUserlist", nasmib::kGroupUserList, i, members, CSetObjectBody::kEscaped)
            .Integer("ServiceCIFS", nasmib::kGroupServiceCifs, i, "1")
            .Integer("ServiceFTP", nasmib::kGroupServiceFtp, i, "1")
            .Integer("GroupEnable", nasmib::kGroupEnable, i, "1")
            .Integer("rowflag", nasmib::kGroupRowFlag, i, "0")
            .RowEnd("rowend", nasmib::kGroupRowStatus, i);
    } else {
        body.Ignore("rowstart")
            .Ignore("GroupIndex")
            .String("GroupName", nasmib::kGroupName, i, form.name, CSetObjectBody::kEscaped)
            .String("GroupUserlist", nasmib::kGroupUserList, i, members, CSetObjectBody::kEscaped)
            .Ignore("ServiceCIFS ") // the device's own page sends it with this blank
            .Ignore("ServiceFTP")
            .Ignore("GroupEnable")
            .Integer("rowflag", nasmib::kGroupRowFlag, i, "0")
            .Ignore("rowend");
    }
    return body.Text();
}

std::string BuildGroupRequest(const GroupForm& form, const std::string& index, const std::string& address,
                              const std::string& authorization)
{
    HttpFormPost post;
    post.area = "ShareManagement";
    post.page = "UserGroup";
    post.referer = form.add ? "AddGroup.shtml?-1" : "AddGroup.shtml?3";
    post.accept = kHttpAcceptA1;
    post.userAgent = kHttpUserAgentU1;
    post.host = address;
    post.authorization = authorization;
    post.body = BuildGroupBody(form, index);
    return BuildFormPostRequest(post);
}

SaveOutcome SaveGroup(const platform::JobControl& job, const LoginCopy& login, const GroupForm& form,
                      const DiskQuotaInfo& disks)
{
    if (ValidateGroupName(form.name) || ValidateQuotas(form.quota, disks))
        return SaveOutcome::Refused;
    const int port = GetNasWebPort(login, nullptr);
    if (port == -1) {
        platform::MessageBox("NAS is busy or disconnected.");
        return SaveOutcome::Refused;
    }
    int existing = 0;
    const int found = FindGroupIndex(login, form.name, existing);
    if (found == -3) {
        platform::MessageBox("Timeout!");
        return SaveOutcome::Refused;
    }
    int index = found;
    if (form.add && found == -1) {
        platform::MessageBox(form.name + " have exist.");
        return SaveOutcome::Refused;
    }
    if (!form.add) {
        if (found != -1) {
            platform::MessageBox(form.name + " no exist.");
            return SaveOutcome::Refused;
        }
        index = existing;
    }
    const std::string i = std::to_string(index);
    CSnmpEngine engine = DeviceEngine(login);
    return PostAccountForm(
        job, login, port,
        [&](const std::string& address, const std::string& authorization) {
            return BuildGroupRequest(form, i, address, authorization);
        },
        [&] { return GroupRowReadsBack(engine, form, i); }, form.name, kQuotaTypeGroup, form.quota, disks);
}

bool DeleteGroup(const platform::JobControl& job, const LoginCopy& login, const std::string& name)
{
    CSnmpEngine engine = DeviceEngine(login);
    bool owned = false, unread = false;
    const int walk =
        SnmpWalkColumn(engine, nasmib::kFolderReadList, 3, [&](const std::string& oid, const std::string&) {
            const std::string row = NasRowOf(oid);
            // The walk's value may be cut; the lists are judged whole.
            for (const char* column : {nasmib::kFolderReadList, nasmib::kFolderWriteList}) {
                std::string list;
                if (!GetWholeWithRetry(job, engine, NasCell(column, row), list)) {
                    unread = true;
                    return false;
                }
                if (IsGroupInList(name, list)) {
                    owned = true;
                    return false;
                }
            }
            return true;
        });
    if (owned) {
        platform::MessageBox("Please delete the group own folders first.");
        return false;
    }
    // Folders that were not all read may still name the group.
    if (walk != 0 || unread) {
        if (!job.Stopped())
            platform::MessageBox("Timeout!");
        return false;
    }
    std::string d1, d2;
    if (FindQuotaRows(login, name, kQuotaTypeGroup, d1, d2) == -3) {
        platform::MessageBox("Timeout!");
        return false;
    }
    std::string index;
    if (SnmpFindIndex(login, nasmib::kGroupName, name, index) == -3) {
        platform::MessageBox("Timeout!");
        return false;
    }
    // The row goes first: a row that cannot be deleted keeps its quotas.
    if (!index.empty() && SnmpSetWithRetry(login, NasCell(nasmib::kGroupRowStatus, index),
                                           std::to_string(nasmib::kRowStatusDestroy)) != 0) {
        platform::MessageBox("Timeout!");
        return false;
    }
    RemoveQuotaRowsOfDeleted(login, "Group", name, d1, d2);
    return true;
}
