#include "DeviceState.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

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
    std::lock_guard<std::mutex> lock(m_mutex);
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
        if (f.size() != 3 || f[0].empty() || !ParseInt(f[2], 0, 255, n))
            return Fail(error, "user needs name:password:level");
        UserAccount account{f[0], f[1], static_cast<int>(n)};
        bool replaced = false;
        for (UserAccount& u : d.users)
            if (u.name == account.name) {
                u = account;
                replaced = true;
            }
        if (!replaced)
            d.users.push_back(account);
    } else if (key == "remove_user") {
        std::erase_if(d.users, [&](const UserAccount& u) { return u.name == value; });
    } else if (key == "address" || key == "mask" || key == "gateway" || key == "dhcp_address" ||
               key == "dhcp_mask" || key == "dhcp_gateway") {
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
    d.settings[key] = value;
    return true;
}

std::string DeviceState::Get(const std::string& rawKey) const
{
    std::string key = Trim(rawKey);
    std::lock_guard<std::mutex> lock(m_mutex);
    const DeviceData& d = m_data;
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
    return m_data;
}

ProgressAnswer DeviceState::NextProgress()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_data.progress.empty()) {
        m_data.lastProgress = m_data.progress.front();
        m_data.progress.pop_front();
    }
    return m_data.lastProgress;
}

int DeviceState::NextInstallStatus()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_data.installStatus.empty()) {
        m_data.lastInstallStatus = m_data.installStatus.front();
        m_data.installStatus.pop_front();
    }
    return m_data.lastInstallStatus;
}

} // namespace testbed
