#include "UserGroups.h"

#include <cstdlib>
#include <cstring>

#include "Clock.h"
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

// The group's row holds the name and members the form sent.
bool GroupRowReadsBack(CSnmpEngine& engine, const GroupForm& form, const std::string& index)
{
    std::string name, members;
    return engine.SimpleGet(NasCell(nasmib::kGroupName, index), name) == 0 && name == form.name &&
           engine.GetWhole(NasCell(nasmib::kGroupUserList, index), members) == 0 &&
           members == BuildMemberList(form.members);
}

} // namespace

std::vector<GroupListRow> ReadGroupList(const platform::JobControl& job)
{
    std::vector<GroupListRow> rows;
    CSnmpEngine engine;
    SetEngineFromContext(engine);
    std::string current = nasmib::kGroupName;
    char next[128], value[128];
    while (engine.GetNext(current.c_str(), next, sizeof next, value, sizeof value, nasmib::kGroupName) == 0) {
        current = next;
        GroupListRow row;
        row.name = value;
        engine.GetWhole(NasCell(nasmib::kGroupUserList, NasRowOf(current)), row.members);
        rows.push_back(row);
    }

    current = nasmib::kQuotaIndex;
    while (engine.GetNext(current.c_str(), next, sizeof next, value, sizeof value, nasmib::kQuotaIndex) == 0) {
        current = next;
        const std::string row = NasRowOf(current);
        std::string n = NasCell(nasmib::kQuotaName, row), d = NasCell(nasmib::kQuotaDisk, row),
                    s = NasCell(nasmib::kQuotaSize, row), t = NasCell(nasmib::kQuotaType, row);
        const char* oids[4] = {n.c_str(), d.c_str(), s.c_str(), t.c_str()};
        char v[4][64];
        char* values[4] = {v[0], v[1], v[2], v[3]};
        // A row the device keeps answering with no-such-name is gone.
        const int64_t start = platform::TickMs();
        int rc;
        while ((rc = engine.MultiGet(4, oids, values, 64)) == 2) {
            if (platform::TickMs() - start > kBusyRowLimitMs || !job.Pause(kBusyRowPauseMs))
                break;
        }
        if (rc != 0 || std::strcmp(v[3], kQuotaTypeGroup) != 0)
            continue;
        for (GroupListRow& group : rows)
            if (group.name == v[0])
                (std::strcmp(v[1], "1") == 0 ? group.disk1Quota : group.disk2Quota) = v[2];
    }
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

int FindGroupIndex(const std::string& name, int& existingIndex)
{
    CSnmpEngine engine;
    SetEngineFromContext(engine);
    std::string current = nasmib::kGroupName;
    std::string last = "0";
    for (int failures = 0;;) {
        char next[128], value[128];
        int rc = engine.GetNext(current.c_str(), next, sizeof next, value, sizeof value, nasmib::kGroupName);
        if (rc == 1)
            break;
        if (rc != 0) {
            if (++failures >= 3)
                return -3;
            continue;
        }
        failures = 0;
        current = next;
        last = NasRowOf(current);
        if (name == value) {
            existingIndex = std::atoi(last.c_str());
            return -1;
        }
    }
    return std::atoi(last.c_str()) + 1;
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

GroupSaveOutcome SaveGroup(const platform::JobControl& job, const GroupForm& form, const DiskQuotaInfo& disks)
{
    if (ValidateGroupName(form.name) || ValidateQuotas(form.quota, disks))
        return GroupSaveOutcome::Refused;
    const int port = GetNasWebPort(nullptr);
    if (port == -1) {
        platform::MessageBox("NAS is busy or disconnected.");
        return GroupSaveOutcome::Refused;
    }
    int existing = 0;
    const int found = FindGroupIndex(form.name, existing);
    if (found == -3) {
        platform::MessageBox("Timeout!");
        return GroupSaveOutcome::Refused;
    }
    int index = found;
    if (form.add && found == -1) {
        platform::MessageBox(form.name + " have exist.");
        return GroupSaveOutcome::Refused;
    }
    if (!form.add) {
        if (found != -1) {
            platform::MessageBox(form.name + " no exist.");
            return GroupSaveOutcome::Refused;
        }
        index = existing;
    }
    const std::string i = std::to_string(index);
    const std::string authorization = MakeDeviceAuthorization();
    if (authorization.empty())
        return GroupSaveOutcome::Refused;
    const std::string address = GetNasContext()->m_deviceAddress;
    HttpSendOptions options;
    options.limits = kHttpLimitsShort;
    if (SendHttpRequestWithOptions(address, static_cast<unsigned>(port),
                                   BuildGroupRequest(form, i, address, authorization), options) == kHttpSocketFailed)
        return GroupSaveOutcome::Refused;

    // The group table decides, as for users and folders: a group that is
    // not there gets no quota either.
    CSnmpEngine engine;
    SetEngineFromContext(engine);
    const int64_t start = platform::TickMs();
    while (!GroupRowReadsBack(engine, form, i)) {
        if (platform::TickMs() - start > kReadBackLimitMs || !job.Pause(kReadBackPauseMs)) {
            if (CheckNasState() == 1)
                platform::MessageBox("Failed!");
            return GroupSaveOutcome::NotConfirmed;
        }
    }
    SendQuotaSettings(job, form.name, kQuotaTypeGroup, form.quota, disks);
    return GroupSaveOutcome::Saved;
}

bool DeleteGroup(const platform::JobControl& job, const std::string& name)
{
    CSnmpEngine engine;
    SetEngineFromContext(engine);
    std::string current = nasmib::kFolderReadList;
    char next[128], value[260];
    while (engine.GetNext(current.c_str(), next, sizeof next, value, sizeof value, nasmib::kFolderReadList) == 0) {
        current = next;
        const std::string row = NasRowOf(current);
        // The walk's value may be cut; the lists are judged whole.
        std::string readList, writeList;
        if (!GetWholeWithRetry(job, engine, NasCell(nasmib::kFolderReadList, row), readList))
            return false;
        if (IsGroupInList(name, readList)) {
            platform::MessageBox("Please delete the group own folders first.");
            return false;
        }
        if (!GetWholeWithRetry(job, engine, NasCell(nasmib::kFolderWriteList, row), writeList))
            return false;
        if (IsGroupInList(name, writeList)) {
            platform::MessageBox("Please delete the group own folders first.");
            return false;
        }
    }
    std::string d1, d2;
    if (FindQuotaRows(name, kQuotaTypeGroup, d1, d2) == -3) {
        platform::MessageBox("Timeout!");
        return false;
    }
    RemoveQuotaRows(name, d1, d2);
    std::string index;
    if (SnmpFindIndex(nasmib::kGroupName, name, index) == -3) {
        platform::MessageBox("Timeout!");
        return false;
    }
    if (index.empty())
        return true; // gone already
    if (SnmpSetWithRetry(NasCell(nasmib::kGroupRowStatus, index), std::to_string(nasmib::kRowStatusDestroy)) != 0) {
        platform::MessageBox("Timeout!");
        return false;
    }
    return true;
}
