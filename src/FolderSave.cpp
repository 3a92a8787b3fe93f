#include "FolderSave.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "Clock.h"
#include "FolderTable.h"
#include "HttpRequest.h"
#include "MessageBox.h"
#include "NasMib.h"
#include "SnmpHelpers.h"
#include "stdafx.h"
#include "y_snmp.h"

using platform::MB_OK;
using platform::MessageBox;

namespace {

// Read-back after the post: its limit, and how far a busy device stretches it.
constexpr int64_t kReadBackMs = 15000;
constexpr int64_t kReadBackBusyMs = 30000;
constexpr int64_t kReadBackPauseMs = 1000;
constexpr int64_t kAfterPostMs = 1500;

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A walk that stops at the first failed step.
int Walk(CSnmpEngine& engine, const char* column,
         const std::function<bool(const std::string& oid, const std::string& value)>& visit)
{
    return SnmpWalkColumn(engine, column, 1, visit);
}

void AddEntries(const std::string& list, bool write, std::vector<AllowedEntry>& out)
{
    std::string l = Trim(list);
    for (size_t p = 0; p < l.size();) {
        size_t comma = l.find(',', p);
        std::string entry = l.substr(p, comma == std::string::npos ? std::string::npos : comma - p);
        if (!entry.empty())
            out.push_back({entry, write});
        if (comma == std::string::npos)
            break;
        p = comma + 1;
    }
}

} // namespace

// ---------------------------------------------------------------------------

bool LoadAccounts(const LoginCopy& login, std::vector<std::string>& accounts)
{
    CSnmpEngine engine = DeviceEngine(login);
    accounts.clear();
    int rc = Walk(engine, nasmib::kUserName, [&](const std::string&, const std::string& v) {
        accounts.push_back(v);
        return true;
    });
    int rc2 = Walk(engine, nasmib::kGroupName, [&](const std::string&, const std::string& v) {
        accounts.push_back("@" + v);
        return true;
    });
    return rc == 0 && rc2 == 0;
}

FolderDialogData LoadFolderDialogData(const LoginCopy& login)
{
    FolderDialogData data;
    LoadAccounts(login, data.accounts);
    CSnmpEngine engine = DeviceEngine(login);
    auto get = [&](const std::string& oid) {
        std::string v;
        for (int i = 0; i < 2; ++i)
            if (engine.SimpleGet(oid, v) == 0)
                return Trim(v);
        return std::string();
    };
    std::string disk1 = get(NasCell(nasmib::kDiskStatus, "1"));
    std::string disk2 = get(NasCell(nasmib::kDiskStatus, "2"));
    std::string mode = get(nasmib::kDiskMode);
    if (disk1 == "2")
        data.disks.push_back("Disk1");
    else if (!disk1.empty())
        MessageBox("Disk1 is not ready for use!", MB_OK);
    else
        MessageBox("Nas timeout.", MB_OK);
    if (mode == "0") {
        if (disk2 == "2")
            data.disks.push_back("Disk2");
        else if (disk2.empty())
            MessageBox("Nas timeout.", MB_OK);
    } else if (mode.empty()) {
        MessageBox("NAS timeout.", MB_OK);
    }
    return data;
}

bool LoadFolder(const LoginCopy& login, const std::string& name, const std::string& location, FolderSettings& out)
{
    if (login.address.empty()) {
        MessageBox("No NAS exist, discovery again!", MB_OK);
        return false;
    }
    CSnmpEngine engine = DeviceEngine(login);
    std::string row = FindFolderRow(engine, name, location, nullptr);
    if (row.empty()) {
        MessageBox("This folder is not exist.", MB_OK);
        return false;
    }
    FolderCells cells;
    std::string disk;
    if (!ReadFolderCells(engine, row, cells) ||
        !GetCellBounded(engine, NasCell(nasmib::kFolderLocation, row), disk, true)) {
        // The row vanished or the device stopped answering meanwhile.
        MessageBox("This folder is not exist.", MB_OK);
        return false;
    }
    out = FolderSettings{};
    out.name = name;
    out.samba = cells.cifs == "1";
    out.ftp = cells.ftp == "1";
    out.nfs = cells.nfs == "1";
    out.privateFolder = cells.type == "2";
    AddEntries(cells.writeList, true, out.allowed);
    AddEntries(cells.readList, false, out.allowed);
    out.disk = disk;
    return true;
}

std::string FolderNameRefusal(const std::string& name)
{
    if (name.empty())
        return "Folder name can not be empty.";
    if (name.size() >= 31)
        return "Folder name's length must less than 30.";
    std::string lower = Lower(name);
    for (int i = 1; i <= 10; ++i)
        if (lower == "usb" + std::to_string(i))
            return "Folder name can not be usb#.";
    if (lower.find("(disk1)") != std::string::npos || lower.find("(disk2)") != std::string::npos)
        return "Folder name can not include (disk1) or (disk2).";
    if (lower.front() == ' ' || lower.back() == ' ')
        return "First or last charater can not be space.";
    if (lower == "share")
        return "Folder name can not be \"share\" .";
    // A share of either would be the disk's folder itself or its parent.
    if (lower == "." || lower == "..")
        return "Folder name can not be \".\" or \"..\".";
    if (lower.find_first_of("\\/?\"<>:|*`,$];") != std::string::npos)
        return "Folder name can not include any following charater: \n \\ / ? \" < > : | * ` , $ ] ;";
    return {};
}

int CheckFolderName(const std::string& name)
{
    std::string refusal = FolderNameRefusal(name);
    if (refusal.empty())
        return 0;
    MessageBox(refusal, MB_OK);
    return 1;
}

int CheckFolderExists(const LoginCopy& login, const std::string& name, const std::string& ownRow)
{
    CSnmpEngine engine = DeviceEngine(login);
    std::string lowered = Lower(name);
    int count = 0;
    int result = kFolderNameFree;
    int rc = Walk(engine, nasmib::kFolderShareName, [&](const std::string& oid, const std::string& value) {
        ++count;
        if (ownRow.empty() && count > kMaxFolders - 1) {
            result = kFolderTableFull;
            return false;
        }
        if (NasRowOf(oid) != ownRow && Lower(value) == lowered) {
            result = kFolderNameTaken;
            return false;
        }
        return true;
    });
    if (result != kFolderNameFree)
        return result;
    return rc == 0 ? kFolderNameFree : kFolderWalkFailed;
}

int CheckUsers(const LoginCopy& login, const std::vector<AllowedEntry>& allowed)
{
    CSnmpEngine engine = DeviceEngine(login);
    std::string known = ",";
    int rc = Walk(engine, nasmib::kUserName, [&](const std::string&, const std::string& v) {
        known += v + ",";
        return true;
    });
    if (rc == 0)
        rc = Walk(engine, nasmib::kGroupName, [&](const std::string&, const std::string& v) {
            known += "@" + v + ",";
            return true;
        });
    if (rc == -5) {
        MessageBox("Time out, NAS is busy!", MB_OK);
        return 0;
    }
    if (rc != 0) {
        MessageBox("NAS error!", MB_OK);
        return 0;
    }
    for (const AllowedEntry& e : allowed) {
        if (known.find("," + e.name + ",") == std::string::npos) {
            MessageBox("Not valid user:" + e.name, MB_OK);
            return 0;
        }
    }
    return 1;
}

void BuildAllowLists(const FolderSettings& s, std::string& readList, std::string& writeList)
{
    readList.clear();
    writeList.clear();
    if (!s.privateFolder)
        return;
    for (const AllowedEntry& e : s.allowed)
        (e.write ? writeList : readList) += e.name + ",";
}

std::string BuildFolderBody(const FolderSettings& s, int action, const std::string& i)
{
    using namespace nasmib;
    std::string read, write;
    BuildAllowLists(s, read, write);
    const bool add = action == kFolderActionAdd;
    const std::string b01[2] = {"0", "1"};
    CSetObjectBody body;
    if (add)
        body.RowStart("rowstart", kFolderRowStatus, i).Integer("MountIndex", kFolderIndex, i, i);
    else
        body.Ignore("rowstart").Ignore("MountIndex");
    body.String("MountName", kFolderLocation, i, s.disk, CSetObjectBody::kAsIs);
    if (add)
        body.String("MountPartition", kFolderPartition, i, "", CSetObjectBody::kAsIs)
            .Integer("MountFileSystem", kFolderFileSystem, i, "1");
    else
        body.Ignore("MountPartition").Ignore("MountFileSystem");
    body.String("MountShareName", kFolderShareName, i, s.name, CSetObjectBody::kEscaped);
    if (add)
        body.String("MountOldShareName", kFolderOldShareName, i, s.name, CSetObjectBody::kEscaped)
            .String("MountDescription", kFolderDescription, i, "", CSetObjectBody::kAsIs)
            .Integer("MountStatus", kFolderStatus, i, "1")
            .String("MountEnableList", kFolderEnableList, i, "", CSetObjectBody::kAsIs);
    else
        body.Ignore("MountOldShareName").Ignore("MountDescription").Ignore("MountStatus").Ignore("MountEnableList");
    body.String("MonuntReadList", kFolderReadList, i, read, CSetObjectBody::kEscaped)
        .String("MountWriteList", kFolderWriteList, i, write, CSetObjectBody::kEscaped)
        .Integer("MountCIFS", kFolderCifs, i, b01[s.samba])
        .Integer("MountFTP", kFolderFtp, i, b01[s.ftp])
        .Integer("MountNFS", kFolderNfs, i, b01[s.nfs])
        .Integer("MountFolderType", kFolderType, i, s.privateFolder ? "2" : "1")
        .Integer("rowflag", kFolderRowFlag, i, add ? "1" : "2");
    if (add)
        body.RowEnd("rowend", kFolderRowStatus, i);
    else
        body.Ignore("rowend");
    return body.Text();
}

std::string BuildFolderRequest(const FolderSettings& s, int action, const std::string& row, const std::string& host,
                               const std::string& authorization)
{
    HttpFormPost post;
    post.area = "ShareManagement";
    post.page = "PrivateFolder";
    post.referer = action == kFolderActionAdd ? "AddPrivateFolder.shtml?-1" : "AddPrivateFolder.shtml?1";
    post.accept = kHttpAcceptA1;
    post.userAgent = kHttpUserAgentU2;
    post.host = host;
    post.authorization = authorization;
    post.body = BuildFolderBody(s, action, row);
    return BuildFormPostRequest(post);
}

namespace {

// The form's own checks and the allowed users; false after a refusal (its box
// shown, out.focus set where a field is to blame).
bool AcceptSettings(const LoginCopy& login, const FolderSettings& s, int action, FolderSaveResult& out)
{
    if (s.disk.empty()) {
        MessageBox("Please select a disk to create folder.", MB_OK);
        out.focus = FolderFocus::Disk;
        return false;
    }
    if (CheckFolderName(s.name) != 0)
        return false;
    if (!s.samba && !s.ftp && !s.nfs) {
        MessageBox("SAMBA FTP NFS must be choose at least one!", MB_OK);
        return false;
    }
    if (s.privateFolder) {
        if (s.allowed.empty()) {
            MessageBox("Must allow one user to access at least!", MB_OK);
            return false;
        }
        if (CheckUsers(login, s.allowed) == 0)
            return false;
    }
    if (action != kFolderActionAdd && action != kFolderActionEdit) {
        MessageBox("Unknow action type.", MB_OK);
        return false;
    }
    return true;
}

// The row of the folder being edited; "" after its box.
std::string FindEditedRow(CSnmpEngine& engine, const std::string& oldName, const std::string& oldLocation)
{
    int status = 0;
    std::string row = FindFolderRow(engine, oldName, oldLocation, &status);
    if (row.empty()) {
        if (status == kFolderRowMissing || status == kFolderDiskUnread)
            MessageBox("Can't find the folder.", MB_OK);
        else
            MessageBox("NAS timeout.", MB_OK);
    }
    return row;
}

// No other folder holds the name and an add has room; false after its box.
bool CheckNameFree(const LoginCopy& login, const std::string& name, const std::string& ownRow, FolderSaveResult& out)
{
    int exists = CheckFolderExists(login, name, ownRow);
    if (exists == kFolderNameTaken) {
        MessageBox("The folder name had existed, please enter the other name.", MB_OK);
        out.focus = FolderFocus::Name;
        return false;
    }
    if (exists == kFolderTableFull) {
        MessageBox("Total folders number must not more than 1024.", MB_OK);
        out.focus = FolderFocus::Name;
        return false;
    }
    if (exists == kFolderWalkFailed) {
        MessageBox("NAS timeout.", MB_OK);
        return false;
    }
    return true;
}

// The web port and the authorization the post needs; false when either is
// missing (after its box).
bool PrepareFormPost(const LoginCopy& login, int& port, std::string& authorization)
{
    port = GetNasWebPort(login, nullptr);
    if (port == -1) {
        MessageBox("NAS is busy or disconnected.", MB_OK);
        return false;
    }
    authorization = MakeDeviceAuthorization(login);
    return !authorization.empty();
}

// A new folder's row: the last row's index + 1, once two walks agree; ""
// after its box.
std::string NewFolderRow(CSnmpEngine& engine)
{
    long previous = -1;
    bool agreed = false;
    for (int tries = 0; tries < 5 && !agreed; ++tries) {
        long last = 0;
        int rc = Walk(engine, nasmib::kFolderIndex, [&](const std::string&, const std::string& v) {
            last = std::atol(v.c_str());
            return true;
        });
        if (rc != 0) {
            previous = -1;
            continue;
        }
        agreed = last + 1 == previous;
        previous = last + 1;
    }
    if (!agreed) {
        MessageBox("NAS timeout.", MB_OK);
        return {};
    }
    return std::to_string(previous);
}

// Sends the folder form; false when it could not be sent.
bool PostFolderForm(const LoginCopy& login, const FolderSettings& s, int action, const std::string& row, int port,
                    const std::string& authorization)
{
    const std::string& host = login.address;
    std::string request = BuildFolderRequest(s, action, row, host, authorization);
    HttpSendOptions options;
    options.limits = kHttpLimitsStandard;
    int sent = SendHttpRequestWithOptions(host, static_cast<unsigned>(port), request, options);
    return sent != kHttpSocketFailed;
}

// The device applies the form in its own time: reads the row back until it
// shows the name as typed. False when it never did; last is then the last
// status (2: the device stayed busy).
bool ReadBackName(const platform::JobControl& job, CSnmpEngine& engine, const std::string& row, const std::string& name,
                  int& last)
{
    job.Pause(kAfterPostMs);
    const std::string nameOid = NasCell(nasmib::kFolderShareName, row);
    int64_t start = platform::TickMs();
    for (;;) {
        std::string value;
        last = engine.SimpleGet(nameOid, value);
        if (last == 0 && value == name)
            return true;
        // noSuchName is what a busy device answers, and what any device
        // answers for a row it does not hold: a device that answers another
        // object is not busy.
        std::string probe;
        if (last == 2 && engine.SimpleGet(NasCell(nasmib::kDiskStatus, "1"), probe) == 0)
            last = 1;
        int64_t passed = platform::TickMs() - start;
        if (passed >= kReadBackBusyMs || (passed >= kReadBackMs && last != 2) || job.Stopped())
            return false;
        job.Pause(kReadBackPauseMs);
    }
}

// An edit's other cells read back as they were sent.
bool EditApplied(CSnmpEngine& engine, const FolderSettings& s, const std::string& row)
{
    std::string read, write;
    BuildAllowLists(s, read, write);
    const std::pair<const char*, std::string> expected[] = {
        {nasmib::kFolderLocation, s.disk},       {nasmib::kFolderReadList, read},
        {nasmib::kFolderWriteList, write},       {nasmib::kFolderCifs, s.samba ? "1" : "0"},
        {nasmib::kFolderFtp, s.ftp ? "1" : "0"}, {nasmib::kFolderNfs, s.nfs ? "1" : "0"},
    };
    for (const auto& [column, want] : expected) {
        std::string value;
        if (!GetCellBounded(engine, NasCell(column, row), value, false) || Trim(value) != Trim(want))
            return false;
    }
    return true;
}

} // namespace

FolderSaveResult AddOrEditFolder(const platform::JobControl& job, const LoginCopy& login, const FolderSettings& s,
                                 int action, const std::string& oldName, const std::string& oldLocation)
{
    FolderSaveResult out;
    if (!AcceptSettings(login, s, action, out))
        return out;

    CSnmpEngine engine = DeviceEngine(login);
    std::string row;
    if (action == kFolderActionEdit) {
        // The folder's own row does not count against its new name, so a
        // change of case only is allowed.
        row = FindEditedRow(engine, oldName, oldLocation);
        if (row.empty())
            return out;
    }
    if (!CheckNameFree(login, s.name, row, out))
        return out;

    int port = -1;
    std::string authorization;
    if (!PrepareFormPost(login, port, authorization))
        return out;
    if (action == kFolderActionAdd) {
        row = NewFolderRow(engine);
        if (row.empty())
            return out;
    }
    if (!PostFolderForm(login, s, action, row, port, authorization))
        return out;

    int last = 0;
    if (!ReadBackName(job, engine, row, s.name, last)) {
        out.code = -2;
        out.result = kFolderNotSaved;
        MessageBox(last == 2 ? "NAS is busy, refresh again!" : "NAS timeout!", MB_OK);
        return out;
    }
    if (action == kFolderActionEdit && !EditApplied(engine, s, row)) {
        out.code = -2;
        out.result = kFolderNotSaved;
        job.Say("");
        MessageBox("Failed.", MB_OK);
        return out;
    }
    out.code = 1;
    out.result = kFolderSaved;
    job.Say("success..");
    return out;
}
