#include "stdafx.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "MessageBox.h"
#include "Paths.h"
#include "Profile.h"

// ---------------------------------------------------------------------------
// Base64

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

void EncodeInto(char* out, const unsigned char* in, size_t len)
{
    size_t o = 0;
    for (size_t i = 0; i < len; i += 3) {
        unsigned v = static_cast<unsigned>(in[i]) << 16;
        if (i + 1 < len)
            v |= static_cast<unsigned>(in[i + 1]) << 8;
        if (i + 2 < len)
            v |= in[i + 2];
        out[o++] = kAlphabet[(v >> 18) & 63];
        out[o++] = kAlphabet[(v >> 12) & 63];
        out[o++] = i + 1 < len ? kAlphabet[(v >> 6) & 63] : '=';
        out[o++] = i + 2 < len ? kAlphabet[v & 63] : '=';
    }
    out[o] = '\0';
}

// Checks text and returns its decoded length, or -1.
int DecodedLength(const char* text, size_t n)
{
    if (n == 0 || n % 4 != 0)
        return -1;
    size_t pad = 0;
    if (text[n - 1] == '=')
        pad = text[n - 2] == '=' ? 2 : 1;
    for (size_t i = 0; i < n - pad; ++i)
        if (Base64Value(static_cast<unsigned char>(text[i])) < 0)
            return -1;
    return static_cast<int>(n / 4 * 3 - pad);
}

void DecodeInto(char* out, const char* text, size_t n, size_t decoded)
{
    size_t o = 0;
    for (size_t i = 0; i < n && o < decoded; i += 4) {
        unsigned v = 0;
        for (size_t k = 0; k < 4; ++k) {
            int d = text[i + k] == '=' ? 0 : Base64Value(static_cast<unsigned char>(text[i + k]));
            v = (v << 6) | static_cast<unsigned>(d);
        }
        for (int shift = 16; shift >= 0 && o < decoded; shift -= 8)
            out[o++] = static_cast<char>((v >> shift) & 0xFF);
    }
}

} // namespace

int Base64Encode(char* out, size_t outSize, const char* in, int len)
{
    if (!out || !in || len < 0)
        return -1;
    size_t n = len == 0 ? std::strlen(in) : static_cast<size_t>(len);
    size_t need = (n + 2) / 3 * 4;
    if (need + 1 > outSize)
        return -1;
    EncodeInto(out, reinterpret_cast<const unsigned char*>(in), n);
    return static_cast<int>(need);
}

std::string Base64Encode(const std::string& bytes)
{
    std::string out((bytes.size() + 2) / 3 * 4 + 1, '\0');
    EncodeInto(out.data(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    out.pop_back();
    return out;
}

int Base64Decode(char* out, int outSize, const char* text)
{
    if (!out || !text || outSize <= 0)
        return -1;
    size_t n = std::strlen(text);
    int decoded = DecodedLength(text, n);
    if (decoded < 0 || decoded + 1 >= outSize)
        return -1;
    DecodeInto(out, text, n, static_cast<size_t>(decoded));
    out[decoded] = '\0';
    return decoded;
}

std::string Base64Decode(const std::string& text)
{
    if (text.find('\0') != std::string::npos)
        return {};
    int decoded = DecodedLength(text.c_str(), text.size());
    if (decoded < 0)
        return {};
    std::string out(static_cast<size_t>(decoded), '\0');
    DecodeInto(out.data(), text.c_str(), text.size(), out.size());
    return out;
}

// ---------------------------------------------------------------------------
// Addresses

std::string MacToString(const unsigned char mac[6])
{
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return buf;
}

bool StringToMac(const std::string& text, unsigned char mac[6])
{
    unsigned char bytes[6];
    size_t pos = 0;
    for (int i = 0; i < 6; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != ':')
                return false;
            ++pos;
        }
        size_t start = pos;
        unsigned long value = 0;
        while (pos < text.size() && std::isxdigit(static_cast<unsigned char>(text[pos]))) {
            char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[pos])));
            value = value * 16 + static_cast<unsigned long>(c <= '9' ? c - '0' : c - 'a' + 10);
            if (value > 0xFFFFFFFFul)
                return false;
            ++pos;
        }
        if (pos == start)
            return false;
        bytes[i] = static_cast<unsigned char>(value & 0xFF);
    }
    if (pos != text.size())
        return false;
    std::memcpy(mac, bytes, 6);
    return true;
}

std::string IpToString(uint32_t ip)
{
    in_addr a{};
    a.s_addr = ip;
    char buf[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &a, buf, sizeof buf))
        return {};
    return buf;
}

bool StringToIp(const std::string& text, uint32_t& ip)
{
    in_addr a{};
    if (text.find('\0') != std::string::npos || inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    ip = a.s_addr;
    return true;
}

// ---------------------------------------------------------------------------
// Sizes, system, traces

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string FormatDiskSize(unsigned megabytes)
{
    char buf[64];
    if (megabytes < 1024) {
        std::snprintf(buf, sizeof buf, "%u MB", megabytes);
        return buf;
    }
    unsigned unit = megabytes < 1048576u ? 1024u : 1048576u;
    const char* name = unit == 1024u ? "GB" : "TB";
    unsigned whole = megabytes / unit;
    // The first two decimals, truncated; integer arithmetic keeps them exact.
    unsigned h = static_cast<unsigned>(static_cast<uint64_t>(megabytes % unit) * 100u / unit);
    if (unit == 1024u)
        DebugTrace("%u", h);
    if (h == 0)
        std::snprintf(buf, sizeof buf, "%u %s", whole, name);
    else if (h % 10 != 0)
        std::snprintf(buf, sizeof buf, "%u.%02u %s", whole, h, name);
    else
        std::snprintf(buf, sizeof buf, "%u.%u %s", whole, h / 10, name);
    return buf;
}

namespace {
OsVersionInfo g_osVersion{};
std::once_flag g_osVersionOnce;
} // namespace

void InitOsVersionInfo()
{
    std::call_once(g_osVersionOnce, [] {
        std::memset(&g_osVersion, 0, sizeof g_osVersion);
        g_osVersion.size = sizeof g_osVersion;
        utsname u{};
        if (uname(&u) == 0) {
            std::snprintf(g_osVersion.release, sizeof g_osVersion.release, "%s", u.release);
            std::sscanf(u.release, "%u.%u.%u", &g_osVersion.majorVersion, &g_osVersion.minorVersion,
                        &g_osVersion.buildNumber);
        }
    });
}

const OsVersionInfo* GetOsVersionInfo()
{
    InitOsVersionInfo();
    return &g_osVersion;
}

bool IsVistaOrLater()
{
    // Every Linux desktop keeps per-user data folders (XDG).
    return true;
}

std::string Format(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

void DebugTrace(const char* format, ...)
{
    static const bool enabled = std::getenv("TOLVANE_DEBUG") != nullptr;
    if (!enabled)
        return;
    char buf[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    std::fprintf(stderr, "%s\n", buf);
}

// ---------------------------------------------------------------------------
// CNasContext

CNasContext::CNasContext() : CNasContext(platform::ProgramFolder() + "quom.ini") {}

CNasContext::CNasContext(const std::string& iniPath) : m_iniPath(iniPath) { Reset(); }

void CNasContext::Reset()
{
    m_deviceAddress.clear();
    m_macText.clear();
    m_user.clear();
    m_userLevel.clear();
    m_password.clear();
    m_community.clear();
    m_rememberPassword = false;
    m_udpTimeout = 2000;
    std::memset(&m_nasInfo, 0, sizeof m_nasInfo);
}

bool CNasContext::IniExists() const
{
    struct stat st {};
    return ::stat(m_iniPath.c_str(), &st) == 0;
}

bool CNasContext::CreateIniFile() const
{
    int fd = ::open(m_iniPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        platform::MessageBox(std::strerror(errno), platform::MB_OK | platform::MB_ICONERROR);
        return false;
    }
    ::close(fd);
    return true;
}

namespace {
// The remembered password is Base64; a stored value that does not decode
// gives an empty password rather than garbage.
std::string DecodeStoredPassword(const std::string& stored)
{
    return stored.empty() ? std::string() : Base64Decode(stored);
}
} // namespace

void CNasContext::LoadLogin(const unsigned char* mac)
{
    if (!IniExists()) {
        Reset();
        CreateIniFile();
        return;
    }
    if (mac) {
        m_macText = MacToString(mac);
    } else {
        std::string last = platform::GetPrivateProfileString("last_login", "mac", "", m_iniPath);
        if (last.empty()) {
            Reset();
            return;
        }
        m_macText = last;
    }
    m_user = platform::GetPrivateProfileString(m_macText.c_str(), "user", "", m_iniPath);
    m_password = DecodeStoredPassword(platform::GetPrivateProfileString(m_macText.c_str(), "password", "", m_iniPath));
}

bool CNasContext::GetSavedLogin(const unsigned char* mac, std::string& user, std::string& password) const
{
    std::string section = MacToString(mac);
    std::string stored = platform::GetPrivateProfileString(section.c_str(), "user", "", m_iniPath);
    if (stored.empty()) {
        user.clear();
        password.clear();
        return false;
    }
    user = stored;
    password = DecodeStoredPassword(platform::GetPrivateProfileString(section.c_str(), "password", "", m_iniPath));
    return true;
}

bool CNasContext::SaveLogin(bool writeLastLogin)
{
    if (!IniExists() && !CreateIniFile())
        return false;
    // The file holds a reversible password: private to the user, even when it
    // was made readable to others before.
    ::chmod(m_iniPath.c_str(), 0600);
    std::string stored = m_rememberPassword ? Base64Encode(m_password) : std::string();
    auto write = [&](const char* section, const char* key, const std::string& value) {
        errno = 0;
        return platform::WritePrivateProfileString(section, key, value.c_str(), m_iniPath);
    };
    bool ok = (!writeLastLogin || write("last_login", "mac", m_macText)) && write(m_macText.c_str(), "user", m_user) &&
              write(m_macText.c_str(), "password", stored);
    if (!ok) {
        int err = errno;
        platform::MessageBox(err ? std::strerror(err) : "The login could not be remembered.",
                             platform::MB_OK | platform::MB_ICONERROR);
    }
    return ok;
}

bool CNasContext::IsTaskRunning() const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_taskRunning;
}

std::string CNasContext::GetRunningTaskName() const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_taskRunning ? m_runningTaskName : std::string();
}

void CNasContext::SetTaskRunning(int running)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_taskRunning = running != 0;
}

void CNasContext::SetRunningTaskName(const std::string& name)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_runningTaskName = name;
}

void CNasContext::ClearRunningTaskName()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_runningTaskName.clear();
}

bool CNasContext::TryStartTask(const std::string& name)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (m_taskRunning)
        return false;
    m_taskRunning = true;
    m_runningTaskName = name;
    return true;
}

void CNasContext::EndTask()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_runningTaskName.clear();
    m_taskRunning = false;
}

LoginCopy CopyLogin()
{
    LoginCopy copy;
    CNasContext* context = GetNasContext();
    context->Lock();
    copy.address = context->m_deviceAddress;
    copy.user = context->m_user;
    copy.level = context->m_userLevel;
    copy.access = context->m_userAccess;
    copy.password = context->m_password;
    copy.community = context->m_community;
    copy.mac = context->m_macText;
    copy.device = context->m_nasInfo;
    copy.udpTimeout = context->m_udpTimeout;
    context->Unlock();
    return copy;
}

void KeepUserAccess(const LoginCopy& login, const std::string& access)
{
    CNasContext* context = GetNasContext();
    context->Lock();
    if (context->m_deviceAddress == login.address && context->m_user == login.user)
        context->m_userAccess = access;
    context->Unlock();
}

CNasContext* GetNasContext()
{
    static CNasContext context;
    return &context;
}
