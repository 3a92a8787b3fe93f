#include "Profile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

// One lock for every profile file of the process: reads wait for a write in
// progress and two writers never interleave their read-modify-write.
std::mutex g_profileLock;

std::string_view Trim(std::string_view s)
{
    const char* blanks = " \t\r\n";
    size_t b = s.find_first_not_of(blanks);
    if (b == std::string_view::npos)
        return {};
    size_t e = s.find_last_not_of(blanks);
    return s.substr(b, e - b + 1);
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

struct IniFile {
    std::vector<std::string> lines; // without their line ends
    bool crlf = false;              // keep the file's own line ends
    bool exists = false;
};

bool ReadAll(const std::string& file, std::string& bytes)
{
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f)
        return false;
    char buf[8192];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.append(buf, n);
    std::fclose(f);
    return true;
}

IniFile Load(const std::string& file)
{
    IniFile ini;
    std::string bytes;
    if (!ReadAll(file, bytes))
        return ini;
    ini.exists = true;
    ini.crlf = bytes.find("\r\n") != std::string::npos;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t nl = bytes.find('\n', pos);
        std::string line = bytes.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        ini.lines.push_back(std::move(line));
        if (nl == std::string::npos)
            break;
        pos = nl + 1;
    }
    return ini;
}

// The section name of a "[name]" line, or nothing for other lines.
std::optional<std::string_view> SectionOf(std::string_view line)
{
    std::string_view t = Trim(line);
    if (t.size() < 2 || t.front() != '[')
        return std::nullopt;
    size_t close = t.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return Trim(t.substr(1, close - 1));
}

// Splits "key = value"; comment lines and lines without "=" are not keys.
bool KeyOf(std::string_view line, std::string_view& key, std::string_view& value)
{
    std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';')
        return false;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return true;
}

// Lines [begin, end) of the section's body; begin is npos when absent.
void FindSection(const IniFile& ini, std::string_view section, size_t& header, size_t& end)
{
    header = std::string::npos;
    end = ini.lines.size();
    for (size_t i = 0; i < ini.lines.size(); ++i) {
        auto name = SectionOf(ini.lines[i]);
        if (!name)
            continue;
        if (header != std::string::npos) {
            end = i;
            return;
        }
        if (SameName(*name, section))
            header = i;
    }
}

size_t FindKey(const IniFile& ini, size_t header, size_t end, std::string_view key)
{
    for (size_t i = header + 1; i < end; ++i) {
        std::string_view k, v;
        if (KeyOf(ini.lines[i], k, v) && SameName(k, key))
            return i;
    }
    return std::string::npos;
}

std::string Unquote(std::string_view v)
{
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

bool Store(const std::string& file, const IniFile& ini)
{
    const char* eol = ini.crlf ? "\r\n" : "\n";
    std::string bytes;
    for (const auto& line : ini.lines) {
        bytes += line;
        bytes += eol;
    }

    // Keep the mode of a file that is already there; a new one is private to
    // the user, as these files hold logins and device communities.
    mode_t mode = 0600;
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0)
        mode = st.st_mode & 07777;

    std::string tmp = file + ".XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, mode) == 0;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tmp.c_str(), file.c_str()) == 0;
    if (!ok)
        ::unlink(tmp.c_str());
    return ok;
}

} // namespace

std::string GetPrivateProfileString(const char* section, const char* key, const char* def,
                                    const std::string& file)
{
    std::string fallback = def ? def : "";
    if (!section || !key)
        return fallback;
    std::lock_guard<std::mutex> guard(g_profileLock);
    IniFile ini = Load(file);
    size_t header, end;
    FindSection(ini, section, header, end);
    if (header == std::string::npos)
        return fallback;
    size_t at = FindKey(ini, header, end, key);
    if (at == std::string::npos)
        return fallback;
    std::string_view k, v;
    KeyOf(ini.lines[at], k, v);
    return Unquote(v);
}

unsigned GetPrivateProfileString(const char* section, const char* key, const char* def,
                                 char* out, unsigned size, const std::string& file)
{
    if (!out || size == 0)
        return 0;
    std::string value = GetPrivateProfileString(section, key, def, file);
    size_t n = std::min<size_t>(value.size(), size - 1);
    std::memcpy(out, value.data(), n);
    out[n] = '\0';
    return static_cast<unsigned>(n);
}

bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const std::string& file)
{
    if (!section)
        return false;
    std::lock_guard<std::mutex> guard(g_profileLock);
    IniFile ini = Load(file);
    size_t header, end;
    FindSection(ini, section, header, end);

    if (!key) { // delete the section
        if (header == std::string::npos)
            return true;
        ini.lines.erase(ini.lines.begin() + static_cast<long>(header), ini.lines.begin() + static_cast<long>(end));
        return Store(file, ini);
    }

    size_t at = header == std::string::npos ? std::string::npos : FindKey(ini, header, end, key);
    if (!value) { // delete the key
        if (at == std::string::npos)
            return true;
        ini.lines.erase(ini.lines.begin() + static_cast<long>(at));
        return Store(file, ini);
    }

    // A line break would split the entry and corrupt the file.
    if (std::strpbrk(value, "\r\n") || std::strpbrk(key, "\r\n") || std::strpbrk(section, "\r\n"))
        return false;
    std::string line = std::string(key) + "=" + value;
    if (at != std::string::npos) {
        std::string_view k, v;
        KeyOf(ini.lines[at], k, v);
        ini.lines[at] = std::string(k) + "=" + value; // the key keeps its stored spelling
    } else if (header != std::string::npos) {
        // After the section's last non-blank line, so blank separators stay
        // between sections.
        size_t insert = end;
        while (insert > header + 1 && Trim(ini.lines[insert - 1]).empty())
            --insert;
        ini.lines.insert(ini.lines.begin() + static_cast<long>(insert), line);
    } else {
        ini.lines.push_back("[" + std::string(section) + "]");
        ini.lines.push_back(line);
    }
    return Store(file, ini);
}

} // namespace platform
