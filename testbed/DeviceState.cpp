#include "DeviceState.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "MibStore.h"
#include "NasMib.h"
#include "NasMibSeed.h"
#include "stdafx.h"

namespace testbed {

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool ParseInt(const std::string& text, long long low, long long high, long long& value)
{
    std::string t = Trim(text);
    if (t.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(t.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < low || v > high)
        return false;
    value = v;
    return true;
}

namespace {

std::vector<std::string> Split(const std::string& text, char sep)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, sep))
        parts.push_back(Trim(part));
    return parts;
}

bool Fail(std::string* error, const std::string& why)
{
    if (error)
        *error = why;
    return false;
}

bool ParseProgress(const std::string& text, std::deque<ProgressAnswer>& out)
{
    out.clear();
    for (const std::string& item : Split(text, ',')) {
        std::vector<std::string> f = Split(item, ':');
        long long s, d = 0, t = 0;
        if (f.empty() || f.size() > 3 || !ParseInt(f[0], 0, 255, s) ||
            (f.size() > 1 && !ParseInt(f[1], 0, 0xFFFFFFFFLL, d)) ||
            (f.size() > 2 && !ParseInt(f[2], 0, 0xFFFFFFFFLL, t)))
            return false;
        out.push_back({static_cast<int>(s), static_cast<uint32_t>(d), static_cast<uint32_t>(t)});
    }
    return !out.empty();
}

// ---- The device's objects in the store ------------------------------------

std::optional<std::string> UserRow(const MibStore& store, const std::string& name)
{
    Oid column = ToOid(nasmib::kUserName);
    for (const auto& [oid, value] : store.Subtree(column))
        if (value.syntax == sNMP_SYNTAX_OCTETS && value.bytes == name)
            return OidToText(Oid(oid.begin() + static_cast<long>(column.size()), oid.end()));
    return std::nullopt;
}

std::string CellText(const MibStore& store, const char* column, const std::string& row)
{
    auto v = store.Get(NasCell(column, row));
    return v ? (v->syntax == sNMP_SYNTAX_OCTETS ? v->bytes : v->Text()) : std::string();
}

int CellInt(const MibStore& store, const std::string& oid, int fallback)
{
    auto v = store.Get(oid);
    return v && v->syntax == sNMP_SYNTAX_INT ? static_cast<int>(v->number) : fallback;
}

std::optional<UserAccount> StoredUser(const MibStore& store, const std::string& row)
{
    auto name = store.Get(NasCell(nasmib::kUserName, row));
    if (!name)
        return std::nullopt;
    UserAccount u;
    u.name = name->bytes;
    u.password = CellText(store, nasmib::kUserPassword, row);
    u.level = CellInt(store, NasCell(nasmib::kUserLevel, row), 0);
    u.groups = CellText(store, nasmib::kUserGroupMember, row);
    return u;
}

std::vector<UserAccount> StoredUsers(const MibStore& store)
{
    std::vector<UserAccount> users;
    for (const std::string& row : store.Rows(nasmib::kUserName))
        if (auto u = StoredUser(store, row))
            users.push_back(*u);
    return users;
}

// The largest single-number row of a column + 1 (1 for an empty column).
int NextRow(const MibStore& store, const char* column)
{
    long long last = 0, n = 0;
    for (const std::string& row : store.Rows(column))
        if (ParseInt(row, 1, 0x7FFFFFFF, n) && n > last)
            last = n;
    return static_cast<int>(last + 1);
}

// A row index text ("3", or "1.2") as sub-identifiers.
Oid RowOid(const std::string& row)
{
    Oid oid = ToOid("0.0." + row);
    return Oid(oid.begin() + 2, oid.end());
}

void EraseTable(MibStore& store, const char* entry, const char* indexColumn)
{
    for (const std::string& row : store.Rows(indexColumn))
        store.EraseRow(ToOid(entry), RowOid(row));
}

void PutDiskState(MibStore& store, int disk, int state)
{
    std::string cell = NasCell(nasmib::kDiskStatus, std::to_string(disk));
    if (!store.Get(cell))
        AddDiskRow(store, {disk, 0, 0, "3", state});
    else
        store.Set(cell, MibValue::Integer(state));
}

bool ParseIntField(const std::vector<std::string>& f, size_t i, long long low, long long high, int& out)
{
    long long v = 0;
    if (i >= f.size() || !ParseInt(f[i], low, high, v))
        return false;
    out = static_cast<int>(v);
    return true;
}

struct ScalarKey {
    const char* key;
    const char* oid;
    bool integer;
};

const ScalarKey kScalarKeys[] = {
    {"disk_mode", nasmib::kDiskMode, true},
    {"format_state", nasmib::kFormatType, true},
    {"no_quota_disk2", nasmib::kNoQuotaDisk2, true},
    {"web_port", nasmib::kWebPort, true},
    {"package_version", nasmib::kPackageVersion, false},
    {"boot_time", nasmib::kBootTime, false},
    {"device_state", nasmib::kDeviceState, false},
};

bool IsStoredKey(const std::string& key)
{
    static const std::set<std::string> keys = {"name",        "firmware",   "disk1",      "disk2",  "user",
                                               "remove_user", "disk1_size", "disk2_size", "folder", "usb",
                                               "group",       "quota",      "mib"};
    if (keys.count(key))
        return true;
    for (const ScalarKey& k : kScalarKeys)
        if (key == k.key)
            return true;
    return false;
}

std::string LanText(uint32_t address, uint32_t mask) { return IpToString(address) + "/" + IpToString(mask); }

} // namespace

const UserAccount* DeviceData::FindUser(const std::string& name) const
{
    for (const UserAccount& u : users)
        if (u.name == name)
            return &u;
    return nullptr;
}

DeviceState::DeviceState()
{
    uint32_t group = 0;
    StringToIp("224.0.0.1", group);
    m_data.answerGroups.push_back(group);
}

bool DeviceState::Set(const std::string& rawKey, const std::string& rawValue, std::string* error)
{
    std::string key = Trim(rawKey), value = Trim(rawValue);
    bool ok;
    ChangeListener listener;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ok = m_store && IsStoredKey(key) ? SetStored(key, value, error) : SetLocked(key, value, error);
        if (ok)
            m_data.settings[key] = value;
        listener = m_listener;
    }
    if (ok && listener)
        listener(key);
    return ok;
}

bool DeviceState::SetLocked(const std::string& key, const std::string& value, std::string* error)
{
    DeviceData& d = m_data;
    long long n = 0;
    uint32_t ip = 0;
    if (key == "name") {
        if (value.size() > 255)
            return Fail(error, "name longer than 255 bytes");
        d.name = value;
    } else if (key == "mac") {
        if (!StringToMac(value, d.mac))
            return Fail(error, "bad MAC");
    } else if (key == "disk1" || key == "disk2") {
        if (!ParseInt(value, -128, 127, n))
            return Fail(error, "bad disk state");
        (key == "disk1" ? d.disk1 : d.disk2) = static_cast<int>(n);
    } else if (key == "community") {
        d.community = value;
    } else if (key == "firmware") {
        d.firmware = value;
    } else if (key == "user") {
        std::vector<std::string> f = Split(value, ':');
        if (f.size() < 3 || f.size() > 4 || f[0].empty() || !ParseInt(f[2], 0, 255, n))
            return Fail(error, "user needs name:password:level[:groups]");
        UserAccount account{f[0], f[1], static_cast<int>(n), f.size() > 3 ? f[3] : ""};
        bool replaced = false;
        for (UserAccount& u : d.users)
            if (u.name == account.name) {
                if (f.size() < 4)
                    account.groups = u.groups;
                u = account;
                replaced = true;
            }
        if (!replaced)
            d.users.push_back(account);
    } else if (key == "remove_user") {
        std::erase_if(d.users, [&](const UserAccount& u) { return u.name == value; });
    } else if (key == "address" || key == "mask" || key == "gateway" || key == "dhcp_address" || key == "dhcp_mask" ||
               key == "dhcp_gateway") {
        if (!StringToIp(value, ip))
            return Fail(error, "bad address");
        uint32_t* field = key == "address"        ? &d.address
                          : key == "mask"         ? &d.mask
                          : key == "gateway"      ? &d.gateway
                          : key == "dhcp_address" ? &d.dhcpAddress
                          : key == "dhcp_mask"    ? &d.dhcpMask
                                                  : &d.dhcpGateway;
        *field = ip;
    } else if (key == "apply_network") {
        if (!ParseInt(value, 0, 1, n))
            return Fail(error, "apply_network is 0 or 1");
        d.applyNetwork = n != 0;
    } else if (key == "answer_groups") {
        std::vector<uint32_t> groups;
        for (const std::string& g : Split(value, ',')) {
            if (g.empty())
                continue;
            if (!StringToIp(g, ip))
                return Fail(error, "bad group");
            groups.push_back(ip);
        }
        d.answerGroups = groups;
    } else if (key == "progress") {
        std::deque<ProgressAnswer> answers;
        if (!ParseProgress(value, answers))
            return Fail(error, "progress needs status:done:total[,...]");
        d.progress = answers;
    } else if (key == "install_status") {
        std::deque<int> answers;
        for (const std::string& s : Split(value, ',')) {
            if (!ParseInt(s, 0, 255, n))
                return Fail(error, "install_status needs numbers 0-255");
            answers.push_back(static_cast<int>(n));
        }
        if (answers.empty())
            return Fail(error, "install_status needs numbers 0-255");
        d.installStatus = answers;
    }
    return true;
}

std::string DeviceState::Get(const std::string& rawKey) const
{
    std::string key = Trim(rawKey);
    DeviceData d = Snapshot();
    if (key == "name")
        return d.name;
    if (key == "mac")
        return MacToString(d.mac);
    if (key == "disk1")
        return std::to_string(d.disk1);
    if (key == "disk2")
        return std::to_string(d.disk2);
    if (key == "community")
        return d.community;
    if (key == "firmware")
        return d.firmware;
    if (key == "address")
        return IpToString(d.address);
    if (key == "mask")
        return IpToString(d.mask);
    if (key == "gateway")
        return IpToString(d.gateway);
    if (key == "users") {
        std::string out;
        for (const UserAccount& u : d.users)
            out += (out.empty() ? "" : ",") + u.name + ":" + std::to_string(u.level);
        return out;
    }
    auto it = d.settings.find(key);
    return it == d.settings.end() ? "" : it->second;
}

bool DeviceState::LoadFile(const std::string& path, std::string* error)
{
    std::ifstream in(path);
    if (!in)
        return Fail(error, "cannot read " + path);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string t = Trim(line);
        if (t.empty() || t[0] == '#')
            continue;
        size_t eq = t.find('=');
        if (eq == std::string::npos)
            return Fail(error, path + ":" + std::to_string(number) + ": no \"=\"");
        std::string why;
        if (!Set(t.substr(0, eq), t.substr(eq + 1), &why))
            return Fail(error, path + ":" + std::to_string(number) + ": " + why);
    }
    return true;
}

std::string DeviceState::Setting(const std::string& key, const std::string& fallback) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_data.settings.find(key);
    return it == m_data.settings.end() ? fallback : it->second;
}

DeviceData DeviceState::Snapshot() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    DeviceData d = m_data;
    Overlay(d);
    return d;
}

namespace {

// The next answer of a sequence: what the test's source gives, else the
// queue's front, else the last one given again. The source is called
// without the lock held.
template <typename Answer, typename Source>
Answer NextAnswer(std::mutex& mutex, const Source& source, std::deque<Answer>& queue, Answer& last)
{
    Source ask;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ask = source;
    }
    Answer answer{};
    if (ask && ask(answer))
        return answer;
    std::lock_guard<std::mutex> lock(mutex);
    if (!queue.empty()) {
        last = queue.front();
        queue.pop_front();
    }
    return last;
}

} // namespace

ProgressAnswer DeviceState::NextProgress()
{
    return NextAnswer(m_mutex, m_progressSource, m_data.progress, m_data.lastProgress);
}

int DeviceState::NextInstallStatus()
{
    return NextAnswer(m_mutex, m_statusSource, m_data.installStatus, m_data.lastInstallStatus);
}

void DeviceState::SetJobSources(ProgressSource progress, StatusSource status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progressSource = std::move(progress);
    m_statusSource = std::move(status);
}

void DeviceState::SetChangeListener(ChangeListener listener)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listener = std::move(listener);
}

long long DeviceState::IntSetting(const std::string& key, long long fallback, long long low, long long high) const
{
    long long v = 0;
    return ParseInt(Setting(key), low, high, v) ? v : fallback;
}

// ---------------------------------------------------------------------------
// The device's objects

void DeviceState::AttachStore(MibStore& store)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const DeviceData& d = m_data;
    NasDescription nas = NasDescription::Default();
    nas.deviceName = d.name;
    nas.firmwareVersion = d.firmware;
    for (NasDescription::Disk& disk : nas.disks) {
        disk.status = disk.number == 1 ? d.disk1 : d.disk2;
        if (disk.status == 0)
            disk.totalMb = disk.usedMb = 0;
    }
    nas.users.clear();
    int index = 0;
    for (const UserAccount& u : d.users)
        nas.users.push_back(
            {++index, u.name, u.name == "admin" ? "Administrator" : u.name, u.password, u.groups, u.level, 1, 1});
    nas.quotas = {{1, "admin", 1, 1000, 0}, {2, "staff", 2, 5000, 1}};
    if (d.address)
        nas.lanInfo = LanText(d.address, d.mask);
    SeedNasMib(store, nas);
    m_store = &store;
    m_data.users.clear(); // the store holds them now
    m_tablesGiven.clear();
}

bool DeviceState::SetStored(const std::string& key, const std::string& value, std::string* error)
{
    MibStore& store = *m_store;
    long long n = 0;
    std::vector<std::string> f = Split(value, ':');
    if (key == "name") {
        if (value.size() > 255)
            return Fail(error, "name longer than 255 bytes");
        store.Set(nasmib::kDeviceName, MibValue::String(value));
    } else if (key == "firmware") {
        store.Set(nasmib::kFirmwareVersion, MibValue::String(value));
    } else if (key == "disk1" || key == "disk2") {
        if (!ParseInt(value, -128, 127, n))
            return Fail(error, "bad disk state");
        PutDiskState(store, key == "disk1" ? 1 : 2, static_cast<int>(n));
    } else if (key == "disk1_size" || key == "disk2_size") {
        int total = 0, used = 0;
        if (f.empty() || f.size() > 3 || !ParseIntField(f, 0, 0, 0x7FFFFFFF, total) ||
            (f.size() > 1 && !ParseIntField(f, 1, 0, 0x7FFFFFFF, used)))
            return Fail(error, key + " needs TOTAL[:USED[:FS]]");
        std::string row = key == "disk1_size" ? "1" : "2";
        if (!store.Get(NasCell(nasmib::kDiskStatus, row)))
            PutDiskState(store, row == "1" ? 1 : 2, 0);
        store.Set(NasCell(nasmib::kDiskTotalSize, row), MibValue::Integer(total));
        store.Set(NasCell(nasmib::kDiskUsedSize, row), MibValue::Integer(used));
        if (f.size() > 2)
            store.Set(NasCell(nasmib::kDiskFsType, row), MibValue::String(f[2]));
    } else if (key == "user") {
        if (f.size() < 3 || f.size() > 4 || f[0].empty() || !ParseInt(f[2], 0, 255, n))
            return Fail(error, "user needs name:password:level[:groups]");
        std::optional<std::string> row = UserRow(store, f[0]);
        if (row) {
            store.Set(NasCell(nasmib::kUserPassword, *row), MibValue::String(f[1]));
            store.Set(NasCell(nasmib::kUserLevel, *row), MibValue::Integer(static_cast<int32_t>(n)));
            if (f.size() > 3)
                store.Set(NasCell(nasmib::kUserGroupMember, *row), MibValue::String(f[3]));
        } else {
            AddUserRow(store, {NextRow(store, nasmib::kUserName), f[0], f[0], f[1], f.size() > 3 ? f[3] : "",
                               static_cast<int>(n), 1, 1});
        }
    } else if (key == "remove_user") {
        if (std::optional<std::string> row = UserRow(store, value))
            store.EraseRow(ToOid(nasmib::kUserEntry), RowOid(*row));
    } else if (key == "folder" || key == "usb" || key == "group" || key == "quota") {
        struct Table {
            const char* entry;
            const char* index;
        };
        Table t = key == "folder"  ? Table{nasmib::kFolderEntry, nasmib::kFolderIndex}
                  : key == "usb"   ? Table{nasmib::kUsbEntry, nasmib::kUsbIndex}
                  : key == "group" ? Table{nasmib::kGroupEntry, nasmib::kGroupIndex}
                                   : Table{nasmib::kQuotaEntry, nasmib::kQuotaIndex};
        int index = 0;
        bool none = value == "none";
        bool ok = none || ParseIntField(f, 0, 1, 0x7FFFFFFF, index);
        NasDescription::Folder folder;
        NasDescription::UsbDisk usb;
        NasDescription::Group group;
        NasDescription::Quota quota;
        if (ok && !none && key == "folder") {
            folder.index = index;
            ok = f.size() >= 2 && f.size() <= 6 && !f[1].empty() &&
                 (f.size() < 4 || ParseIntField(f, 3, 1, 2, folder.folderType));
            if (ok) {
                folder.shareName = f[1];
                if (f.size() > 2 && !f[2].empty())
                    folder.location = f[2];
                folder.readList = f.size() > 4 ? f[4] : "";
                folder.writeList = f.size() > 5 ? f[5] : "";
            }
        } else if (ok && !none && key == "usb") {
            usb.index = index;
            ok = f.size() >= 3 && f.size() <= 4 && ParseIntField(f, 1, 0, 0x7FFFFFFF, usb.totalSize) &&
                 ParseIntField(f, 2, 0, 0x7FFFFFFF, usb.usedSize);
            if (ok && f.size() > 3)
                usb.fsType = f[3];
        } else if (ok && !none && key == "group") {
            group.index = index;
            ok = f.size() >= 2 && f.size() <= 3 && !f[1].empty();
            if (ok) {
                group.name = f[1];
                group.userList = f.size() > 2 ? f[2] : "";
            }
        } else if (ok && !none) {
            quota.index = index;
            ok = f.size() == 5 && !f[1].empty() && ParseIntField(f, 2, 1, 2, quota.disk) &&
                 ParseIntField(f, 3, 0, 0x7FFFFFFF, quota.sizeMb) && ParseIntField(f, 4, 0, 1, quota.type);
            if (ok)
                quota.name = f[1];
        }
        if (!ok)
            return Fail(error, "bad " + key + " row: " + value);
        if (m_tablesGiven.insert(key).second || none)
            EraseTable(store, t.entry, t.index);
        if (key == "folder" && !none)
            AddFolderRow(store, folder);
        else if (key == "usb" && !none)
            AddUsbRow(store, usb);
        else if (key == "group" && !none)
            AddGroupRow(store, group);
        else if (!none)
            AddQuotaRow(store, quota);
    } else if (key == "mib") {
        std::istringstream in(value);
        std::string oid, type, text;
        in >> oid >> type;
        std::getline(in, text);
        text = Trim(text);
        std::vector<uint32_t> parsed;
        if (!ParseOidText(oid, parsed) || (type != "i" && type != "s") ||
            (type == "i" && !ParseInt(text, INT32_MIN, INT32_MAX, n)))
            return Fail(error, "mib needs OID i|s VALUE");
        store.Set(parsed, type == "i" ? MibValue::Integer(static_cast<int32_t>(n)) : MibValue::String(text));
    } else {
        for (const ScalarKey& k : kScalarKeys) {
            if (key != k.key)
                continue;
            if (k.integer) {
                long long high = key == "web_port" ? 65535 : INT32_MAX;
                long long low = key == "web_port" ? 0 : INT32_MIN;
                if (!ParseInt(value, low, high, n))
                    return Fail(error, "bad " + key);
                store.Set(k.oid, MibValue::Integer(static_cast<int32_t>(n)));
            } else {
                store.Set(k.oid, MibValue::String(value));
            }
        }
    }
    return true;
}

void DeviceState::Overlay(DeviceData& d) const
{
    if (!m_store)
        return;
    const MibStore& store = *m_store;
    auto name = store.Get(nasmib::kDeviceName);
    d.name = name ? name->bytes : "";
    auto firmware = store.Get(nasmib::kFirmwareVersion);
    d.firmware = firmware ? firmware->bytes : "";
    d.disk1 = CellInt(store, NasCell(nasmib::kDiskStatus, "1"), 0);
    d.disk2 = CellInt(store, NasCell(nasmib::kDiskStatus, "2"), 0);
    d.users = StoredUsers(store);
}

std::optional<UserAccount> DeviceState::FindUser(const std::string& name) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_store) {
        const UserAccount* u = m_data.FindUser(name);
        return u ? std::optional<UserAccount>(*u) : std::nullopt;
    }
    std::optional<std::string> row = UserRow(*m_store, name);
    return row ? StoredUser(*m_store, *row) : std::nullopt;
}

int DeviceState::DiskState(int disk) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_store)
        return disk == 1 ? m_data.disk1 : m_data.disk2;
    return CellInt(*m_store, NasCell(nasmib::kDiskStatus, std::to_string(disk)), 0);
}

void DeviceState::SetDiskState(int disk, int state)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_store)
        PutDiskState(*m_store, disk, state);
    else
        (disk == 1 ? m_data.disk1 : m_data.disk2) = state;
}

void DeviceState::SetNetwork(uint32_t address, uint32_t mask, uint32_t gateway)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data.address = address;
    m_data.mask = mask;
    m_data.gateway = gateway;
    if (m_store)
        m_store->Set(nasmib::kLanInfo, MibValue::String(LanText(address, mask)));
}

} // namespace testbed
