#include "FolderTable.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "Clock.h"
#include "MessageBox.h"
#include "NasMib.h"
#include "NetConnection.h"
#include "SnmpHelpers.h"
#include "stdafx.h"
#include "y_snmp.h"

using platform::MB_OK;
using platform::MessageBox;

namespace {

// How long a cell that keeps failing is asked for again before its row is
// taken as gone, and the pause between the tries.
constexpr int64_t kCellBoundMs = 10000;
constexpr int64_t kCellRetryPauseMs = 200;
// The row's six cells, in the order they are read.
const char* const kRowColumns[6] = {nasmib::kFolderWriteList, nasmib::kFolderReadList, nasmib::kFolderCifs,
                                    nasmib::kFolderFtp,       nasmib::kFolderNfs,      nasmib::kFolderLocation};

FolderRow MakeFolderRow(const std::string& row, const std::string& name, const std::string* cells)
{
    // cells: write list, read list, CIFS, FTP, NFS, location
    FolderRow r;
    r.row = row;
    r.text = name;
    r.location = cells[5];
    r.type = SupportTypeText(cells[2], cells[3], cells[4]);
    std::string allow = AllowListOf(cells[0], cells[1]);
    r.allow = allow.size() <= 1 ? std::string() : allow.substr(0, allow.size() - 1);
    r.image = FolderImage(r.type, allow);
    return r;
}

// One row's six cells with the repeat of the page (10 s); the last status.
int ReadRowCells(CSnmpEngine& engine, const std::string& row, std::string* cells)
{
    std::vector<std::string> oids;
    for (const char* column : kRowColumns)
        oids.push_back(NasCell(column, row));
    int64_t start = platform::TickMs();
    for (;;) {
        std::vector<Vb> answer;
        int rc = engine.MultiGet(oids, answer);
        if (rc == 0) {
            for (size_t i = 0; i < 6; ++i)
                cells[i] = answer[i].GetPrintable();
            return 0;
        }
        if (platform::TickMs() - start >= kCellBoundMs)
            return rc;
        platform::SleepMs(kCellRetryPauseMs);
    }
}

} // namespace

bool GetCellBounded(CSnmpEngine& engine, const std::string& oid, std::string& value, bool nonEmpty)
{
    int64_t start = platform::TickMs();
    for (;;) {
        std::string v;
        if (engine.SimpleGet(oid, v) == 0 && (!nonEmpty || !v.empty())) {
            value = v;
            return true;
        }
        if (platform::TickMs() - start >= kCellBoundMs)
            return false;
        platform::SleepMs(kCellRetryPauseMs);
    }
}

std::string FindFolderRow(CSnmpEngine& engine, const std::string& name, const std::string& location, int* status)
{
    std::string found;
    bool unread = false;
    const int rc =
        SnmpWalkColumn(engine, nasmib::kFolderShareName, 1, [&](const std::string& oid, const std::string& value) {
            if (value != name)
                return true;
            const std::string row = NasRowOf(oid);
            if (!location.empty()) {
                std::string disk;
                // A row whose disk does not answer is passed over: a later row
                // of the name may be the one.
                if (!GetCellBounded(engine, NasCell(nasmib::kFolderLocation, row), disk, true)) {
                    unread = true;
                    return true;
                }
                if (disk != location)
                    return true;
            }
            found = row;
            return false;
        });
    if (status)
        *status = !found.empty() ? kFolderRowFound : unread ? kFolderDiskUnread : rc == 0 ? kFolderRowMissing : rc;
    return found;
}

bool ReadFolderCells(CSnmpEngine& engine, const std::string& row, FolderCells& cells)
{
    return GetCellBounded(engine, NasCell(nasmib::kFolderCifs, row), cells.cifs, true) &&
           GetCellBounded(engine, NasCell(nasmib::kFolderFtp, row), cells.ftp, true) &&
           GetCellBounded(engine, NasCell(nasmib::kFolderNfs, row), cells.nfs, true) &&
           GetCellBounded(engine, NasCell(nasmib::kFolderType, row), cells.type, true) &&
           GetCellBounded(engine, NasCell(nasmib::kFolderWriteList, row), cells.writeList, false) &&
           GetCellBounded(engine, NasCell(nasmib::kFolderReadList, row), cells.readList, false);
}

// ---------------------------------------------------------------------------
// Texts and rules

std::string SupportTypeText(const std::string& cifs, const std::string& ftp, const std::string& nfs)
{
    std::string type;
    if (cifs == "1")
        type += "Samba ";
    if (ftp == "1")
        type += "FTP ";
    if (nfs == "1")
        type += "NFS ";
    return type;
}

int FolderImage(const std::string& type, const std::string& allowList)
{
    if (type == "NFS ")
        return allowList.empty() ? kFolderImageNfsOpen : kFolderImageNfsPrivate;
    return allowList.empty() ? kFolderImageOpen : kFolderImagePrivate;
}

std::string AllowListOf(const std::string& writeList, const std::string& readList)
{
    return Trim(Trim(writeList) + Trim(readList));
}

bool IsUsbRowText(const std::string& text)
{
    for (int i = 1; i <= 10; ++i)
        if (text == "USB" + std::to_string(i))
            return true;
    return false;
}

std::string StripDriveMarker(const std::string& text)
{
    size_t marker = text.find(":>");
    if (marker == std::string::npos || marker < 3)
        return text;
    return text.substr(0, marker - 3);
}

std::string BareFolderName(const std::string& text)
{
    std::string name = StripDriveMarker(text);
    size_t disk = name.find("(Disk");
    if (disk != std::string::npos)
        name = name.substr(0, disk);
    return name;
}

std::string DiskSuffixOf(const std::string& text)
{
    std::string name = StripDriveMarker(text);
    for (const char* disk : {"Disk1", "Disk2"}) {
        std::string suffix = std::string("(") + disk + ")";
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            return disk;
    }
    return {};
}

void MarkDuplicateNames(std::vector<FolderRow>& rows)
{
    std::vector<std::string> names;
    names.reserve(rows.size());
    for (const FolderRow& r : rows)
        names.push_back(r.text);
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].row.empty())
            continue;
        for (size_t j = i + 1; j < rows.size(); ++j) {
            if (rows[j].row.empty() || names[i] != names[j])
                continue;
            rows[i].text = names[i] + "(" + rows[i].location + ")";
            rows[j].text = names[j] + "(" + rows[j].location + ")";
        }
    }
}

void MarkMappedRows(std::vector<FolderRow>& rows, const std::string& address)
{
    std::vector<platform::NetResource> connections;
    if (platform::NetConnections(connections) != platform::NO_ERROR)
        return;
    std::vector<platform::NetResource> pairs;
    for (const auto& c : connections) {
        if (c.localName.empty())
            continue;
        if (pairs.size() >= 30)
            break;
        pairs.push_back(c);
    }
    for (FolderRow& r : rows) {
        std::string unc = UncPathOf(address, r.text);
        for (const auto& p : pairs) {
            if (p.remoteName == unc) {
                r.text = r.text + " <" + p.localName + ">";
                r.image = kFolderImageMapped;
                break;
            }
        }
    }
}

void UnmarkRow(FolderRow& row)
{
    row.text = StripDriveMarker(row.text);
    row.image = IsUsbRowText(row.text) ? kFolderImageUsb
                                       : FolderImage(row.type, row.allow.empty() ? std::string() : row.allow + ",");
}

bool IsUserAllowed(const std::string& list, const std::string& user, const std::string& access)
{
    std::vector<std::string> groupNames;
    for (const std::string& g : ListEntries(access))
        if (!g.empty())
            groupNames.push_back(g);
    for (size_t p = 0; p < list.size();) {
        size_t comma = list.find(',', p);
        if (comma == std::string::npos)
            break;
        std::string entry = list.substr(p, comma - p);
        p = comma + 1;
        if (entry == user)
            return true;
        for (const std::string& g : groupNames)
            if (entry == "@" + g)
                return true;
    }
    return false;
}

bool CheckUserAccess(const std::string& list, const std::string& user, const std::string& access)
{
    std::string l = Trim(list);
    if (l.empty() || l.back() != ',')
        l += ",";
    return IsUserAllowed(l, user, access);
}

// ---------------------------------------------------------------------------
// Device procedures

bool CheckDeviceDisks(const LoginCopy& login)
{
    CSnmpEngine engine = DeviceEngine(login);
    std::string value;
    std::string oid = NasCell(nasmib::kDiskStatus, "1");
    int64_t start = platform::TickMs();
    int rc = engine.SimpleGet(oid, value);
    if (rc != 0 && rc != -5 && platform::TickMs() - start < 15000)
        rc = engine.SimpleGet(oid, value);
    if (rc == 0 && Trim(value) == "2")
        return true;
    if (rc == 0)
        MessageBox("NAS harddisk is not ready for use!", MB_OK);
    else if (rc == -5)
        MessageBox("NAS timeout.", MB_OK);
    else if (rc == 2)
        MessageBox("NAS busy.", MB_OK);
    else {
        char text[64];
        std::snprintf(text, sizeof text, "NAS has error(%d) ! ", rc);
        MessageBox(text, MB_OK);
    }
    return false;
}

namespace {

// The logged-in user's groups, into the job's login and kept in the context;
// false after its box.
bool LoadUserAccess(LoginCopy& login)
{
    std::string userRow;
    if (SnmpFindIndex(login, nasmib::kUserName, login.user, userRow) != 0) {
        MessageBox("Timeout", MB_OK);
        return false;
    }
    std::string access;
    if (SnmpGetWithRetry(login, NasCell(nasmib::kUserGroupMember, userRow), access) != 0) {
        MessageBox("Timeout", MB_OK);
        return false;
    }
    login.access = access;
    KeepUserAccess(login, access);
    return true;
}

// The USB disks' rows; false after its box.
bool ListUsbDisks(const platform::JobControl& job, CSnmpEngine& engine, std::vector<FolderRow>& rows)
{
    int rc = SnmpWalkColumn(engine, nasmib::kUsbIndex, 1, [&](const std::string&, const std::string& value) {
        FolderRow r;
        r.text = "USB" + value;
        r.location = r.text;
        r.type = "Samba";
        r.image = kFolderImageUsb;
        rows.push_back(r);
        return !job.Stopped();
    });
    if (rc == 2 || rc == -5) {
        MessageBox(rc == 2 ? "NAS busy." : "NAS timeout.", MB_OK);
        return false;
    }
    return true;
}

// Where the folder walk stands: the last name found, and the rows it expects
// to follow. Where the rows that follow are there, their names and cells come
// in the same request, several rows at a time; a missing row falls back to
// the walk.
struct FolderWalk {
    std::string oid = nasmib::kFolderShareName;
    int span = 1;                        // rows asked for ahead, grows while they are there
    int maxSpan = kFolderRowsPerRequest; // lowered when a device finds an answer too big
    bool guessing = false;               // the next row is expected at `guess`
    unsigned long guess = 0;
    int failedSpan = 0;
};

// The next rows, names and cells, in one request. False when a row is missing
// (or the end is reached, or the answer was too big): the walk is then to
// find the next row.
template <class Keep> bool ReadRowsAhead(CSnmpEngine& engine, FolderWalk& walk, Keep& keep)
{
    std::vector<std::string> oids;
    for (int k = 0; k < walk.span; ++k) {
        std::string r = std::to_string(walk.guess + static_cast<unsigned long>(k));
        oids.push_back(NasCell(nasmib::kFolderShareName, r));
        for (const char* column : kRowColumns)
            oids.push_back(NasCell(column, r));
    }
    std::vector<Vb> answer;
    if (engine.MultiGet(oids, answer) != 0) {
        walk.failedSpan = walk.span;
        walk.span = 1;
        return false;
    }
    for (int k = 0; k < walk.span; ++k) {
        size_t base = static_cast<size_t>(k) * 7;
        std::string cells[6];
        for (size_t i = 0; i < 6; ++i)
            cells[i] = answer[base + 1 + i].GetPrintable();
        keep(MakeFolderRow(std::to_string(walk.guess + static_cast<unsigned long>(k)), answer[base].GetPrintable(),
                           cells));
    }
    walk.guess += static_cast<unsigned long>(walk.span);
    walk.oid = NasCell(nasmib::kFolderShareName, std::to_string(walk.guess - 1));
    walk.span = std::min(walk.span * 2, walk.maxSpan);
    return true;
}

// The cells of the row the walk found (its name), and what the walk expects
// next; false after its box.
template <class Keep> bool ReadWalkedRow(CSnmpEngine& engine, FolderWalk& walk, const std::string& name, Keep& keep)
{
    std::string row = NasRowOf(walk.oid);
    char* end = nullptr;
    unsigned long number = std::strtoul(row.c_str(), &end, 10);
    bool numeric = !row.empty() && end && *end == '\0';
    // The rows asked for were all there: it was the answer's size.
    if (walk.failedSpan > 1 && walk.guessing && numeric && number == walk.guess)
        walk.maxSpan = std::max(1, walk.failedSpan / 2);
    walk.failedSpan = 0;
    std::string cells[6];
    int status = ReadRowCells(engine, row, cells);
    if (status != 0) {
        MessageBox(status == 2 ? "NAS busy." : "NAS Timeout.", MB_OK);
        return false;
    }
    keep(MakeFolderRow(row, name, cells));
    walk.guessing = numeric;
    walk.guess = number + 1;
    walk.span = std::min(std::max(walk.span * 2, 2), walk.maxSpan);
    return true;
}

// Folders: each name found by the walk, then its cells, handed to keep; false
// when stopped or after its box.
template <class Keep> bool WalkFolders(const platform::JobControl& job, CSnmpEngine& engine, Keep keep)
{
    FolderWalk walk;
    int rc = 0;
    for (;;) {
        if (job.Stopped())
            return false;
        if (walk.guessing && walk.span > 1 && ReadRowsAhead(engine, walk, keep))
            continue;
        std::string name;
        rc = SnmpWalkStep(engine, nasmib::kFolderShareName, walk.oid, 1, walk.oid, name);
        if (rc != 0)
            break;
        if (!ReadWalkedRow(engine, walk, name, keep))
            return false;
    }
    if (rc == 2 || rc == -5) {
        MessageBox(rc == 2 ? "NAS busy." : "NAS Timeout.", MB_OK);
        return false;
    }
    return true;
}

} // namespace

FolderListing RefreshFolderList(const platform::JobControl& job, const LoginCopy& jobLogin)
{
    FolderListing out;
    out.refreshed = true;
    if (jobLogin.address.empty()) {
        MessageBox("No NAS ip, Discovery again!", MB_OK);
        return out;
    }
    if (!CheckDeviceDisks(jobLogin))
        return out;
    LoginCopy login = jobLogin;
    if (!LoadUserAccess(login))
        return out;
    const bool admin = login.IsAdministrator();

    CSnmpEngine engine = DeviceEngine(login);
    std::vector<FolderRow> rows;
    if (!ListUsbDisks(job, engine, rows))
        return out;
    auto keep = [&](FolderRow&& r) {
        if (!admin && !r.allow.empty() && !IsUserAllowed(r.allow + ",", login.user, login.access))
            return;
        rows.push_back(std::move(r));
    };
    if (!WalkFolders(job, engine, keep))
        return out;
    MarkDuplicateNames(rows);
    MarkMappedRows(rows, login.address);
    out.rows = std::move(rows);
    out.ok = true;
    return out;
}

bool GetFolderInfo(const LoginCopy& login, const std::string& nameIn, const std::string& location, FolderInfo& info)
{
    CSnmpEngine engine = DeviceEngine(login);
    int status = 0;
    const std::string found = FindFolderRow(engine, BareFolderName(nameIn), location, &status);
    // A folder whose disk does not answer is taken as gone without a word.
    if (status == kFolderDiskUnread)
        return false;
    if (found.empty()) {
        MessageBox(status == kFolderRowMissing ? "Folder no exist!" : "NAS no response!", MB_OK);
        return false;
    }
    FolderCells cells;
    if (!ReadFolderCells(engine, found, cells))
        return false;
    info.location = location;
    info.type = SupportTypeText(cells.cifs, cells.ftp, cells.nfs);
    info.status = cells.type == "1" ? "Public" : cells.type == "2" ? "Private" : "";
    info.allowList = Trim(cells.writeList) + Trim(cells.readList);
    return true;
}

bool CompareFolderInfo(const FolderRow& row, const FolderInfo& info)
{
    std::string allow = info.allowList;
    if (!allow.empty())
        allow.pop_back();
    if (info.location != row.location)
        return false;
    if (info.type != row.type)
        return false;
    return allow == row.allow;
}

FolderListing DeleteFolder(const platform::JobControl& job, const LoginCopy& login, const FolderRow& selected)
{
    std::string text = selected.text;
    if (text == "share" || text == "share(Disk1)" || text == "share(Disk2)") {
        MessageBox(" \"share\" is system folder , can not be deleted.", MB_OK);
        return {};
    }
    if (!CheckDeviceDisks(login))
        return {};
    if (login.address.empty()) {
        MessageBox("No NAS connected!", MB_OK);
        return {};
    }
    // A "(DiskN)" row names its disk: the folder is the one of that name on
    // that disk (two folders may share a name, one on each disk).
    std::string name = BareFolderName(text);
    std::string disk = DiskSuffixOf(text);
    if (disk.empty())
        disk = selected.location;

    CSnmpEngine engine = DeviceEngine(login);
    std::string found;
    for (int pass = 0; pass < 2 && found.empty(); ++pass)
        found = FindFolderRow(engine, name, disk);
    if (found.empty()) {
        MessageBox("No exist!", MB_OK);
        return {};
    }
    int rc = engine.SetTyped(sNMP_SYNTAX_INT, NasCell(nasmib::kFolderRowStatus, found).c_str(), "6");
    if (rc == -5 || rc == 2) {
        MessageBox("Delete timeout.", MB_OK);
        job.Say("Refreshing...");
    } else if (rc == 0) {
        job.Say("Delete success.Refreshing...");
    } else {
        MessageBox("Delete failed.", MB_OK);
        job.Say("Refreshing...");
    }
    return RefreshFolderList(job, login);
}

UsbEject EjectUsbDisk(const LoginCopy& login, const std::string& rowText)
{
    std::string text = rowText;
    size_t lt = text.find('<');
    if (lt != std::string::npos)
        text = Trim(text.substr(0, lt));
    std::string number = text.size() > 3 ? text.substr(3) : std::string();
    CSnmpEngine engine = DeviceEngine(login);
    std::string found;
    int rc = SnmpWalkColumn(engine, nasmib::kUsbIndex, 1, [&](const std::string& oid, const std::string& value) {
        if (value == number) {
            found = oid;
            return false;
        }
        return true;
    });
    if (found.empty()) {
        if (rc == 2)
            MessageBox("NAS is busy , try again later!", MB_OK);
        else if (rc == -5)
            MessageBox("NAS timeout.", MB_OK);
        else if (rc == 0)
            MessageBox("USB no found.", MB_OK);
        else
            MessageBox("Failed!", MB_OK);
        return rc == 0 ? UsbEject::NotFound : UsbEject::Failed;
    }
    std::string index = NasRowOf(found);
    if (engine.SimpleSet(NasCell(nasmib::kUsbRemove, index).c_str(), "2") != 0) {
        MessageBox("Failed!", MB_OK);
        return UsbEject::Failed;
    }
    MessageBox("Remove success. you can unplug the USB.", MB_OK);
    return UsbEject::Removed;
}

// ---------------------------------------------------------------------------
// Connections

std::string UncPathOf(const std::string& address, const std::string& name) { return "\\\\" + address + "\\" + name; }

int CheckConnection(const LoginCopy& login, const std::string& acceptedUsers)
{
    std::string accepted = acceptedUsers;
    if (accepted.empty() || accepted.back() != ',')
        accepted += ",";
    std::vector<platform::NetResource> connections;
    if (platform::NetConnections(connections) != platform::NO_ERROR) {
        MessageBox("Network error.", MB_OK);
        return -1;
    }
    std::string prefix = login.address + "\\";
    bool connected = false, same = false;
    for (const auto& c : connections) {
        if (c.remoteName.find(prefix) == std::string::npos)
            continue;
        connected = true;
        std::string user;
        if (platform::WNetGetUser(c.localName.empty() ? c.remoteName : c.localName, user) != platform::NO_ERROR) {
            MessageBox("Get user ID error.", MB_OK);
            return -1;
        }
        size_t slash = user.rfind('\\');
        if (slash != std::string::npos)
            user = user.substr(slash + 1);
        for (const std::string& entry : ListEntries(accepted))
            if (entry == user)
                same = true;
    }
    if (!connected)
        return kNotConnected;
    return same ? kConnectedSameUser : kConnectedOtherUser;
}

int DisconnectDevice(const LoginCopy& login, std::vector<std::string>* droppedLetters)
{
    std::string deviceName;
    DeviceEngine(login).SimpleGet(nasmib::kDeviceName, deviceName);
    platform::WNetCancelConnection2(UncPathOf(login.address, "IPC$"), true, true);
    if (!deviceName.empty())
        platform::WNetCancelConnection2(UncPathOf(deviceName, "IPC$"), true, true);
    std::vector<platform::NetResource> connections;
    if (platform::NetConnections(connections) != platform::NO_ERROR)
        return -1;
    std::string byAddress = "\\\\" + login.address + "\\";
    std::string byName = deviceName.empty() ? std::string() : "\\\\" + deviceName + "\\";
    for (const auto& c : connections) {
        bool ours = c.remoteName.find(byAddress) != std::string::npos ||
                    (!byName.empty() && c.remoteName.find(byName) != std::string::npos);
        if (!ours)
            continue;
        const std::string& name = c.localName.empty() ? c.remoteName : c.localName;
        int rc = platform::WNetCancelConnection2(name, true, true);
        if (rc != platform::NO_ERROR && rc != platform::ERROR_NOT_CONNECTED)
            return 0;
        if (!c.localName.empty() && droppedLetters)
            droppedLetters->push_back(c.localName);
    }
    return 1;
}

int ConnectAsLoginUser(const LoginCopy& login, const std::string& unc, const std::string& localName)
{
    if (login.IsAdministrator())
        return platform::WNetUseConnection(unc, "", "", localName);
    return platform::WNetUseConnection(unc, login.user, login.password, localName);
}

std::string ShellExecuteErrorMessage(int code)
{
    switch (code) {
    case 2: return "\tThe operating system is out of memory or resources. ";
    case 3: return "The specified path was not found.   ";
    case 5: return "The operating system denied access to the specified folder.";
    case 8: return " There was not enough memory to complete the operation.  ";
    case 11: return "The .exe file is invalid (non-Win32R .exe or error in .exe image).";
    case 26: return " A sharing violation occurred.";
    case 27: return "The file name association is incomplete or invalid. ";
    case 28: return "The DDE transaction could not be completed because the request timed out.";
    case 29: return "The DDE transaction failed.";
    case 30: return "The DDE transaction could not be completed because other DDE transactions were being processed. ";
    case 31: return "There is no application associated with the given file name extension.  ";
    case 32: return "The specified dynamic-link library was not found. ";
    default: return "Access error.";
    }
}

void ShellExecuteErrorText(int code, const std::string& target)
{
    // The path concerned and the system's reason follow the message.
    std::string text = ShellExecuteErrorMessage(code);
    if (!target.empty()) {
        text += "\n" + target;
        const std::string reason = platform::ShellExecuteFailure();
        if (!reason.empty())
            text += ": " + reason + ".";
    }
    MessageBox(text, MB_OK);
}

namespace {

const char kOneUserText[] =
    "The samba shared folder can only be accessed by one user at any time.\nThe current user must ensure that they "
    "close the folder after use, otherwise the subsequent user will not be able to gain access";

void Open(const std::string& target)
{
    int rc = platform::ShellExecute("open", target);
    if (rc < 33)
        ShellExecuteErrorText(rc, target);
}

OpenOutcome OpenUsbFolder(const LoginCopy& login, const FolderRow& row)
{
    OpenOutcome out;
    std::string unc = UncPathOf(login.address, StripDriveMarker(row.text));
    ConnectAsLoginUser(login, unc);
    int rc = platform::ShellExecute("open", unc);
    if (rc >= 33)
        return out;
    CSnmpEngine engine = DeviceEngine(login);
    bool found = false;
    int walk = SnmpWalkColumn(engine, nasmib::kUsbIndex, 1, [&](const std::string&, const std::string& value) {
        found = "USB" + value == StripDriveMarker(row.text);
        return !found;
    });
    if (!found && walk == 2)
        MessageBox("NAS busy.", MB_OK);
    else if (!found && walk == -5)
        MessageBox("NAS timeout.", MB_OK);
    else if (!found) {
        MessageBox(StripDriveMarker(row.text) + " not found.", MB_OK);
        out.refresh = true;
    } else
        ShellExecuteErrorText(rc, unc);
    return out;
}

enum class Recheck { Same, Changed, Gone };

// Reads the row's folder again before it is opened or mapped. Changed: now
// is the row as the device holds it. Gone also when the folder no longer
// lets the user in (its box shown).
Recheck RecheckFolder(const LoginCopy& login, const FolderRow& row, FolderRow& now)
{
    FolderInfo info;
    if (!GetFolderInfo(login, BareFolderName(row.text), row.location, info))
        return Recheck::Gone;
    if (CompareFolderInfo(row, info))
        return Recheck::Same;
    if (!login.IsAdministrator() && !info.allowList.empty() &&
        !CheckUserAccess(info.allowList, login.user, login.access)) {
        MessageBox("Folder property had been modified no longer allow the user:" + login.user, MB_OK);
        return Recheck::Gone;
    }
    now = row;
    now.location = info.location;
    now.type = info.type;
    now.allow = info.allowList;
    if (!now.allow.empty() && now.allow.back() == ',')
        now.allow.pop_back();
    return Recheck::Changed;
}

} // namespace

OpenOutcome OpenFolder(const LoginCopy& login, const FolderRow& row)
{
    if (IsUsbRowText(StripDriveMarker(row.text)))
        return OpenUsbFolder(login, row);
    OpenOutcome out;
    const bool admin = login.IsAdministrator();
    std::string name = BareFolderName(row.text);
    std::string unc = UncPathOf(login.address, name);
    FolderRow shown = row;
    switch (RecheckFolder(login, row, shown)) {
    case Recheck::Gone: out.refresh = true; return out;
    case Recheck::Changed:
        out.updated = true;
        out.row = shown;
        break;
    case Recheck::Same: break;
    }
    std::string allow = Trim(shown.allow);
    if (shown.type.rfind("FTP", 0) == 0) {
        // The opener's command line is readable by every local user: it gets
        // the user name only, and the file manager asks for the password.
        std::string url = allow.empty() ? platform::MakeFtpUrl(login.address, name)
                                        : platform::MakeFtpUrl(login.address, name, login.user);
        Open(url);
        return out;
    }
    if (allow.empty()) {
        if (!admin && shown.type.rfind("Samba", 0) == 0)
            ConnectAsLoginUser(login, unc);
        Open(unc);
        return out;
    }
    int state = CheckConnection(login, admin ? allow : login.user);
    if (state == kConnectedSameUser) {
        out.focusList = true;
        Open(unc);
        return out;
    }
    if (state != kConnectedOtherUser && state != kNotConnected)
        return out;
    if (MessageBox(kOneUserText, platform::MB_OKCANCEL) != platform::IDOK)
        return out;
    // The letters dropped go from their rows, also when a later one stays.
    if (state == kConnectedOtherUser && DisconnectDevice(login, &out.droppedLetters) != 1) {
        MessageBox("Unmout fail, make sure the mounted folders are not using.", MB_OK);
        return out;
    }
    if (!admin && ConnectAsLoginUser(login, unc) != platform::NO_ERROR) {
        MessageBox("It will be failed without close the connected folders!", MB_OK);
        return out;
    }
    out.focusList = true;
    Open(unc);
    return out;
}

MountPreparation PrepareMount(const LoginCopy& login, const FolderRow& selected)
{
    MountPreparation out;
    const bool admin = login.IsAdministrator();
    const std::string& address = login.address;
    out.row = selected;
    out.unc = UncPathOf(address, BareFolderName(selected.text));
    FolderRow now;
    switch (RecheckFolder(login, selected, now)) {
    case Recheck::Gone: out.refresh = true; return out;
    case Recheck::Changed:
        if (now.type.rfind("Samba", 0) != 0) {
            MessageBox("Folder property had been modified, try again after refresh.", MB_OK);
            out.refresh = true;
            return out;
        }
        out.updated = true;
        out.row = now;
        break;
    case Recheck::Same: break;
    }
    const std::string allow = Trim(out.row.allow);
    if (!allow.empty()) {
        out.state = CheckConnection(login, admin ? allow : login.user);
        if (out.state == kConnectedOtherUser || out.state == kNotConnected) {
            if (MessageBox(kOneUserText, platform::MB_OKCANCEL) != platform::IDOK)
                return out;
            // The letters dropped go from their rows, also when a later one stays.
            if (DisconnectDevice(login, &out.droppedLetters) != 1) {
                MessageBox("Remove connect fail.", MB_OK);
                return out;
            }
        } else if (out.state != kConnectedSameUser) {
            MessageBox("Return fail!", MB_OK);
            return out;
        }
    }
    if (!admin) {
        int rc = ConnectAsLoginUser(login, out.unc);
        DebugTrace("connect %s: %d\n", out.unc.c_str(), rc);
    }
    if (address.empty()) {
        MessageBox("No NAS IP detect, discover again!", MB_OK);
        return out;
    }
    out.proceed = true;
    return out;
}

bool UnmapFolder(const LoginCopy& login, const FolderRow& row)
{
    const std::string& address = login.address;
    std::string unc = UncPathOf(address, BareFolderName(row.text));
    if (IsUsbRowText(StripDriveMarker(row.text)))
        unc = UncPathOf(address, StripDriveMarker(row.text));
    std::vector<platform::NetResource> connections;
    platform::NetConnections(connections);
    std::vector<std::string> letters;
    for (const auto& c : connections)
        if (c.remoteName == unc && !c.localName.empty() && letters.size() < 50)
            letters.push_back(c.localName);
    bool dropped = false;
    for (const std::string& letter : letters) {
        int rc = platform::WNetCancelConnection2(letter, true, true);
        if (rc != 0 && rc != -1) {
            char text[64];
            std::snprintf(text, sizeof text, "Error = %d.", rc);
            MessageBox(std::string(text) + "\nCould not unmap " + letter + " (" + platform::NetErrorText(rc) + ").",
                       MB_OK);
        } else {
            dropped = true;
        }
    }
    return dropped;
}
