#include "UserAccounts.h"

#include <cstdio>

#include "Clock.h"
#include "HttpRequest.h"
#include "MessageBox.h"
#include "NasMib.h"
#include "SnmpHelpers.h"
#include "stdafx.h"
#include "y_snmp.h"

namespace {

std::string TrimRight(const std::string& s)
{
    size_t e = s.find_last_not_of(" \t\r\n");
    return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}

// Characters counted as the user sees them (UTF-8 sequences as one).
size_t CharacterCount(const std::string& text)
{
    size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80)
            ++n;
    return n;
}

// A long value read whole, tried again while the device answers busy or
// not at all, for at most the busy-row limit; false when it never came.
bool ReadWholeBounded(const platform::JobControl& job, CSnmpEngine& engine, const std::string& oid, std::string& value)
{
    const int64_t start = platform::TickMs();
    for (;;) {
        if (engine.GetWhole(oid, value) == 0)
            return true;
        if (platform::TickMs() - start > kBusyRowLimitMs || !job.Pause(kBusyRowPauseMs))
            return false;
    }
}

// The entries of a folder's allow-list: each ends with ","; a last entry
// without its "," counts as well.
std::vector<std::string> ListEntries(const std::string& list)
{
    std::vector<std::string> entries;
    size_t from = 0;
    while (from < list.size()) {
        size_t comma = list.find(',', from);
        if (comma == std::string::npos)
            comma = list.size();
        entries.push_back(list.substr(from, comma - from));
        from = comma + 1;
    }
    return entries;
}

} // namespace

int ReadUserList(const platform::JobControl& job, const LoginCopy& login, std::vector<UserListRow>& rows)
{
    rows.clear();
    CSnmpEngine engine = DeviceEngine(login);
    auto timedOut = [&rows](const char* trace, int rc) {
        DebugTrace(trace, rc);
        platform::MessageBox("NAS timeout, refresh again.");
        rows.clear();
        return -1;
    };

    // 1. The users and their groups.
    bool stopped = false;
    int rc = SnmpWalkColumn(engine, nasmib::kUserName, 1, [&](const std::string& oid, const std::string& value) {
        UserListRow row;
        row.name = value;
        std::string groups;
        if (engine.GetWhole(NasCell(nasmib::kUserGroupMember, NasRowOf(oid)), groups) == 0 && !groups.empty())
            row.groups = groups;
        rows.push_back(row);
        stopped = job.Stopped();
        return !stopped;
    });
    if (rc == -5 || rc == 2)
        return timedOut("Get User id snmp_ret:%d\n", rc);
    if (stopped)
        return -1;

    // 2. The folders whose lists name a user.
    rc = SnmpWalkColumn(engine, nasmib::kFolderShareName, 1, [&](const std::string& oid, const std::string& value) {
        const std::string label = "[" + value + "] ";
        const std::string row = NasRowOf(oid);
        for (const char* column : {nasmib::kFolderWriteList, nasmib::kFolderReadList}) {
            std::string list;
            if (!ReadWholeBounded(job, engine, NasCell(column, row), list))
                continue;
            for (const std::string& entry : ListEntries(TrimRight(list)))
                for (UserListRow& user : rows)
                    if (user.name == entry) {
                        user.ownFolders += label;
                        break;
                    }
        }
        return true;
    });
    if (rc == -5 || rc == 2)
        return timedOut("Get User Own folder snmp_ret:%d\n", rc);

    // 3. The users' quotas.
    ApplyQuotaEntries(ReadQuotaEntries(job, engine, kQuotaTypeUser), rows);
    return 0;
}

std::vector<std::string> ReadNameColumn(const LoginCopy& login, const char* column)
{
    std::vector<std::string> names;
    CSnmpEngine engine = DeviceEngine(login);
    SnmpWalkColumn(engine, column, 1, [&names](const std::string&, const std::string& value) {
        names.push_back(value);
        return true;
    });
    return names;
}

int CheckUserId(const std::string& id)
{
    const char* message = nullptr;
    std::string lower;
    for (char c : id)
        lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (id.empty())
        message = "User ID can not be empty.";
    else if (id.size() > 15)
        message = "User ID length must less than 15.";
    else if ([&] {
                 for (unsigned char c : id)
                     if (c < 1 || c > 127)
                         return true;
                 return false;
             }())
        message = "Only support ASCII code.";
    else if (lower == "root")
        message = "This user name is a reserved name.";
    else if (id.find_first_of("\\/[]:|<>+=;?,*\"#&()`'@$ .") != std::string::npos)
        message = "User id can not include any following characters \\ / [ ] : | < > + = ; ? , * \" # & ( ) ` ' @ $ "
                  "and space";
    if (!message)
        return 0;
    platform::MessageBox(message);
    return 1;
}

int GetNewUserIndex(const LoginCopy& login, const std::string& name)
{
    int existing = 0;
    return SnmpNewRowIndex(login, nasmib::kUserName, name, kMaxUsers, existing);
}

int VerifyUserRow(const LoginCopy& login, const std::string& name, const std::string& password,
                  const std::string& index)
{
    CSnmpEngine engine = DeviceEngine(login);
    std::string value;
    if (engine.SimpleGet(NasCell(nasmib::kUserName, index), value) == 0 && value == name) {
        std::string stored;
        if (engine.GetWhole(NasCell(nasmib::kUserPassword, index), stored) == 0 && stored == password)
            return 1;
    }
    DebugTrace("engine.SimpleGet(UserNameOid,ReturnBuf) != 0  i:%s.  ReturnBuf=%s.\n", index.c_str(), value.c_str());
    return 0;
}

int CheckNasState(const LoginCopy& login)
{
    CSnmpEngine engine = DeviceEngine(login);
    std::string value;
    int rc = engine.SimpleGet(nasmib::kDeviceState, value);
    if (rc != 0 && rc != -5)
        rc = engine.SimpleGet(nasmib::kDeviceState, value);
    if (rc == 0)
        return value.empty() ? 0 : 1;
    if (rc == -5) {
        platform::MessageBox("NAS timeout!");
    } else if (rc == 2) {
        platform::MessageBox("NAS is busy!");
    } else {
        char text[64];
        std::snprintf(text, sizeof text, "NAS has error(%d) ! ", rc);
        platform::MessageBox(text);
    }
    return 0;
}

std::string BuildGroupList(const std::vector<std::string>& groups, const std::string& primary)
{
    std::string list;
    bool hadPrimary = false;
    for (const std::string& g : groups) {
        if (!primary.empty() && g == primary && !hadPrimary) {
            hadPrimary = true;
            continue;
        }
        list += g + ",";
    }
    return hadPrimary ? primary + "," + list : list;
}

std::string BuildUserBody(const UserForm& form, const std::string& i)
{
    // Every text goes out escaped: "%", "&" and "+" are legal in group
    // names and passwords and would otherwise change the form.
    const std::string groups = BuildGroupList(form.memberGroups, form.primaryGroup);
    CSetObjectBody body;
    if (form.add) {
        body.RowStart("rowstart", nasmib::kUserRowStatus, i)
            .Integer("UserIndex", nasmib::kUserIndex, i, i)
            .String("UserName", nasmib::kUserName, i, form.name, CSetObjectBody::kEscaped)
            .String("UserFullName", nasmib::kUserFullName, i, "fullname", CSetObjectBody::kAsIs)
            .String("UserPassword", nasmib::kUserPassword, i, form.password, CSetObjectBody::kEscaped)
            .String("UserGroupMember", nasmib::kUserGroupMember, i, form.groupsEnabled ? groups : "",
                    CSetObjectBody::kEscaped)
            .Integer("ServiceCIFS", nasmib::kUserServiceCifs, i, "1")
            .Integer("ServiceFTP", nasmib::kUserServiceFtp, i, "1")
            .Integer("UserLevel", nasmib::kUserLevel, i, form.admin ? kUserLevelAdmin : kUserLevelUser)
            .Integer("rowflag", nasmib::kUserRowFlag, i, "0")
            .RowEnd("rowend", nasmib::kUserRowStatus, i);
    } else {
        body.Ignore("rowstart")
            .Ignore("UserIndex")
            .String("UserName", nasmib::kUserName, i, form.name, CSetObjectBody::kEscaped)
            .Ignore("UserFullName")
            .String("UserPassword", nasmib::kUserPassword, i, form.password, CSetObjectBody::kEscaped);
        if (form.groupsEnabled)
            body.String("UserGroupMember", nasmib::kUserGroupMember, i, groups, CSetObjectBody::kEscaped);
        else
            body.Ignore("UserGroupMember");
        body.Ignore("ServiceCIFS")
            .Ignore("ServiceFTP")
            .Ignore("UserLevel")
            .Integer("rowflag", nasmib::kUserRowFlag, i, "0")
            .Ignore("rowend");
    }
    return body.Text();
}

std::string BuildUserRequest(const UserForm& form, const std::string& index, const std::string& address,
                             const std::string& authorization)
{
    HttpFormPost post;
    post.area = "ShareManagement";
    post.page = "UserManagement";
    post.referer = form.add ? "AddEditUser.shtml?-1" : "AddEditUser.shtml?4";
    post.accept = kHttpAcceptA1;
    post.userAgent = kHttpUserAgentU2;
    post.host = address;
    post.authorization = authorization;
    post.body = BuildUserBody(form, index);
    post.trailer = "\r\n";
    return BuildFormPostRequest(post);
}

SaveOutcome SaveUser(const platform::JobControl& job, const LoginCopy& login, UserForm form, const DiskQuotaInfo& disks)
{
    form.name = Trim(form.name);
    if (form.password != form.confirm) {
        platform::MessageBox("Password doesn't match.");
        return SaveOutcome::Refused;
    }
    if (form.password.empty()) {
        platform::MessageBox("Password can not be empty.");
        return SaveOutcome::Refused;
    }
    if (CharacterCount(form.password) > 8) {
        platform::MessageBox("Password length must less than 8 char.");
        return SaveOutcome::Refused;
    }
    if (CheckUserId(form.name) || ValidateQuotas(form.quota, disks))
        return SaveOutcome::Refused;

    std::string i;
    if (form.add) {
        int index = GetNewUserIndex(login, form.name);
        if (index < 0) {
            platform::MessageBox(index == -1   ? form.name + " have exist."
                                 : index == -2 ? std::string("Total user can not over 512.")
                                               : std::string("Timeout!"));
            return SaveOutcome::Refused;
        }
        i = std::to_string(index);
    }
    const int port = GetNasWebPort(login, nullptr);
    if (port == -1) {
        platform::MessageBox("NAS is busy or disconnected.");
        return SaveOutcome::Refused;
    }
    if (!form.add) {
        CSnmpEngine engine = DeviceEngine(login);
        if (SnmpWalkColumn(engine, nasmib::kUserName, 4, [&](const std::string& oid, const std::string& value) {
                if (form.name == value)
                    i = NasRowOf(oid);
                return true;
            }) != 0) {
            platform::MessageBox("Timeout!");
            return SaveOutcome::Refused;
        }
        if (i.empty()) {
            platform::MessageBox("User not exist!");
            return SaveOutcome::Refused;
        }
    }
    return PostAccountForm(
        job, login, port,
        [&](const std::string& address, const std::string& authorization) {
            return BuildUserRequest(form, i, address, authorization);
        },
        [&] { return VerifyUserRow(login, form.name, form.password, i) != 0; }, form.name, kQuotaTypeUser, form.quota,
        disks);
}

SaveOutcome
PostAccountForm(const platform::JobControl& job, const LoginCopy& login, int port,
                const std::function<std::string(const std::string& address, const std::string& authorization)>& request,
                const std::function<bool()>& readsBack, const std::string& name, const char* type,
                const QuotaInput& quota, const DiskQuotaInfo& disks)
{
    const std::string authorization = MakeDeviceAuthorization(login);
    if (authorization.empty())
        return SaveOutcome::Refused;
    const std::string& address = login.address;
    HttpSendOptions options;
    options.limits = kHttpLimitsShort;
    if (SendHttpRequestWithOptions(address, static_cast<unsigned>(port), request(address, authorization), options) ==
        kHttpSocketFailed)
        return SaveOutcome::Refused;

    // Whatever the answer, the device's table decides: a row that is not
    // there gets no quota either.
    const int64_t start = platform::TickMs();
    while (!readsBack()) {
        if (platform::TickMs() - start > kReadBackLimitMs || !job.Pause(kReadBackPauseMs)) {
            if (CheckNasState(login) == 1)
                platform::MessageBox("Failed!");
            return SaveOutcome::NotConfirmed;
        }
    }
    return SendQuotaSettings(job, login, name, type, quota, disks) ? SaveOutcome::Saved : SaveOutcome::QuotaFailed;
}

void RemoveQuotaRowsOfDeleted(const LoginCopy& login, const char* what, const std::string& name,
                              const std::string& disk1Index, const std::string& disk2Index)
{
    if (!QuotaRowsNotRemoved(login, disk1Index, disk2Index).empty())
        platform::MessageBox(std::string(what) + " \"" + name +
                             "\" was deleted, but its quota rows could not be removed.");
}

bool DeleteUser(const platform::JobControl& job, const LoginCopy& login, const std::string& name,
                const std::string& ownFolders)
{
    if (login.address.empty()) {
        platform::MessageBox("No NAS connected!");
        return false;
    }
    if (name == "admin") {
        platform::MessageBox("Can not delete \"admin\".");
        return false;
    }
    if (!ownFolders.empty()) {
        platform::MessageBox("Please delete the user own folder first.");
        return false;
    }
    std::string d1, d2;
    if (FindQuotaRows(login, name, kQuotaTypeUser, d1, d2) == -3) {
        platform::MessageBox("Timeout!");
        return false;
    }

    CSnmpEngine engine = DeviceEngine(login);
    std::string index;
    const int walk =
        SnmpWalkColumn(engine, nasmib::kUserName, 3, [&](const std::string& oid, const std::string& value) {
            if (name == value)
                index = NasRowOf(oid);
            return index.empty();
        });
    // A walk that stopped short has not shown the row is gone.
    if (walk != 0) {
        platform::MessageBox("Timeout!");
        return false;
    }
    // The row goes first: a row that cannot be deleted keeps its quotas. A
    // user whose row is gone already has only its quota rows left.
    if (!index.empty()) {
        int kill = engine.SimpleSet(NasCell(nasmib::kUserRowStatus, index).c_str(),
                                    std::to_string(nasmib::kRowStatusDestroy).c_str());
        DebugTrace("int kill =engine.SimpleSet(DeleteOID;kill=%d.\n", kill);
        if (kill != 0) {
            platform::MessageBox("Failed!");
            return false;
        }
    }
    RemoveQuotaRowsOfDeleted(login, "User", name, d1, d2);
    job.Pause(1000);
    return true;
}

int ReadUserDetails(const LoginCopy& login, const std::string& name, UserDetails& details)
{
    std::string index, password, level;
    if (SnmpFindIndex(login, nasmib::kUserName, name, index) == -3 || index.empty() ||
        SnmpGetWithRetry(login, NasCell(nasmib::kUserPassword, index), password) == -3 ||
        SnmpGetWithRetry(login, NasCell(nasmib::kUserLevel, index), level) == -3) {
        platform::MessageBox("Timeout");
        return -3;
    }
    details.password = password;
    details.admin = level == kUserLevelAdmin;
    return 0;
}
