#include "Profile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

// One lock for every profile file of the process: reads wait for a write in
// progress and two writers never interleave their read-modify-write. Other
// processes are kept out by an flock on the file itself (FileLock).
std::mutex g_profileLock;

const char kBom[] = "\xEF\xBB\xBF";

std::atomic<ProfileWriteObserver> g_writeObserver{nullptr};

// An flock on a profile file: shared for reading, exclusive for a
// read-modify-write. A writer that replaced the file while we waited for
// the lock has left us holding the old one, so the lock is taken again on
// whatever the name then leads to.
class FileLock {
public:
    FileLock() = default;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // lets go of the lock
    }

    // Shared: false when the file is missing or cannot be opened.
    // Exclusive: creates a missing file (0600); false when it cannot.
    bool Take(const std::string& file, bool exclusive)
    {
        for (;;) {
            m_writable = exclusive;
            m_fd = exclusive ? ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600) : -1;
            if (m_fd < 0) {
                // A file that cannot be written is still locked for reading.
                m_writable = false;
                m_fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            }
            if (m_fd < 0)
                return false;
            int rc;
            while ((rc = ::flock(m_fd, exclusive ? LOCK_EX : LOCK_SH)) != 0 && errno == EINTR) {
            }
            if (rc != 0)
                return false;
            if (!exclusive)
                return true; // an old copy is still a whole one
            struct stat held {
            }, named{};
            if (::fstat(m_fd, &held) == 0 && ::stat(file.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
                held.st_ino == named.st_ino)
                return true;
            ::close(m_fd);
            m_fd = -1;
        }
    }

    int Fd() const { return m_fd; }
    bool Writable() const { return m_writable; }

private:
    int m_fd = -1;
    bool m_writable = false;
};

std::string_view Trim(std::string_view s)
{
    const char* blanks = " \t\r\n";
    size_t b = s.find_first_not_of(blanks);
    if (b == std::string_view::npos)
        return {};
    size_t e = s.find_last_not_of(blanks);
    return s.substr(b, e - b + 1);
}

} // namespace

bool SameProfileName(std::string_view a, std::string_view b)
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

namespace {

struct IniFile {
    std::vector<std::string> lines; // without their line ends
    bool crlf = false;              // keep the file's own line ends
    bool bom = false;               // and its UTF-8 byte-order mark
};

// The whole file from its start; false on a read error.
bool ReadAll(int fd, std::string& bytes)
{
    char buf[8192];
    off_t at = 0;
    for (;;) {
        ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        bytes.append(buf, static_cast<size_t>(n));
        at += n;
    }
}

IniFile Parse(std::string bytes)
{
    IniFile ini;
    if (bytes.compare(0, 3, kBom) == 0) {
        ini.bom = true;
        bytes.erase(0, 3);
    }
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
        if (SameProfileName(*name, section))
            header = i;
    }
}

size_t FindKey(const IniFile& ini, size_t header, size_t end, std::string_view key)
{
    for (size_t i = header + 1; i < end; ++i) {
        std::string_view k, v;
        if (KeyOf(ini.lines[i], k, v) && SameProfileName(k, key))
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

// The stored form of a value: one that a read would change (surrounding
// blanks, or one pair of quotes around it) goes inside a pair of double
// quotes, which the read takes off again; every other value is stored as it
// is, so files stay as other readers of them expect.
std::string Quote(std::string_view v)
{
    if (Trim(v).size() != v.size() || Unquote(v).size() != v.size())
        return "\"" + std::string(v) + "\"";
    return std::string(v);
}

bool WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Temporary files of a profile file are named ".~<name>.XXXXXX" beside it;
// folder gets the file's folder with its slash ("" for the current one).
std::string TempPrefix(const std::string& file, std::string& folder)
{
    size_t slash = file.rfind('/');
    folder = slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
    return ".~" + file.substr(slash == std::string::npos ? 0 : slash + 1) + ".";
}

std::string FolderPath(const std::string& folder) { return folder.empty() ? "." : folder; }

// Removes what a writer killed between naming and renaming its temporary
// file left behind; the caller holds the exclusive lock, so no living
// writer of this file owns one.
void RemoveStaleTemps(const std::string& file)
{
    std::string folder;
    std::string prefix = TempPrefix(file, folder);
    DIR* dir = ::opendir(FolderPath(folder).c_str());
    if (!dir)
        return;
    while (dirent* e = ::readdir(dir)) {
        std::string_view name = e->d_name;
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0)
            ::unlinkat(::dirfd(dir), e->d_name, 0);
    }
    ::closedir(dir);
}

// Gives the unnamed file fd a free name of the pattern; false when it
// cannot (no /proc, or a file system that refuses).
bool LinkUnnamed(int fd, const std::string& pattern, std::string& name)
{
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        // A free name as mkstemp picks it; the lock keeps other writers of
        // this file away until the rename.
        name = pattern;
        int probe = ::mkstemp(name.data());
        if (probe < 0)
            return false;
        ::close(probe);
        ::unlink(name.c_str());
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// A new file with these bytes and mode under a temporary name beside file.
// It is written unnamed where the file system allows, so a writer killed on
// the way leaves nothing, and it stays private to the user until it is
// complete. False (errno set) when the folder takes no new file.
bool WriteTemp(const std::string& file, const std::string& bytes, mode_t mode, std::string& tmp)
{
    std::string folder;
    std::string prefix = TempPrefix(file, folder);
    const std::string pattern = folder + prefix + "XXXXXX";

    int fd = ::open(FolderPath(folder).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS))
        return false;
    if (fd >= 0) {
        bool ok = WriteAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0 && LinkUnnamed(fd, pattern, tmp);
        int err = errno;
        ::close(fd);
        if (ok)
            return true;
        errno = err;
        if (err == EACCES || err == EPERM || err == EROFS || err == ENOSPC || err == EIO)
            return false;
        // Otherwise the unnamed file could not be linked: write a named one.
    }
    tmp = pattern;
    fd = ::mkstemp(tmp.data());
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    int err = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(tmp.c_str());
        errno = err;
    }
    return ok;
}

// Writes the lines to file. The new content lands whole by a rename; in a
// folder that takes no new file but whose file is writable it is rewritten
// in place under the lock instead.
bool Store(const std::string& file, const IniFile& ini, const FileLock& lock)
{
    const char* eol = ini.crlf ? "\r\n" : "\n";
    std::string bytes = ini.bom ? kBom : "";
    for (const auto& line : ini.lines) {
        bytes += line;
        bytes += eol;
    }

    // Keep the mode of the file (a new one was made private to the user, as
    // these files hold logins and device communities).
    mode_t mode = 0600;
    struct stat st {};
    if (::fstat(lock.Fd(), &st) == 0)
        mode = st.st_mode & 07777;

    RemoveStaleTemps(file);
    std::string tmp;
    bool stored = false;
    if (WriteTemp(file, bytes, mode, tmp)) {
        stored = ::rename(tmp.c_str(), file.c_str()) == 0;
        if (!stored)
            ::unlink(tmp.c_str());
    } else if ((errno == EACCES || errno == EPERM) && lock.Writable()) {
        stored = WriteAll(lock.Fd(), bytes) && ::ftruncate(lock.Fd(), static_cast<off_t>(bytes.size())) == 0 &&
                 ::fsync(lock.Fd()) == 0;
    }
    if (stored) {
        if (ProfileWriteObserver observer = g_writeObserver.load())
            observer(file);
    }
    return stored;
}

// The file locked (for writing or reading), read and parsed, and the lines
// of the section found (header is npos when there is none); false when the
// file could not be locked or read.
bool LoadSection(const std::string& file, bool write, FileLock& lock, IniFile& ini, std::string_view section,
                 size_t& header, size_t& end)
{
    std::string bytes;
    if (!lock.Take(file, write) || !ReadAll(lock.Fd(), bytes))
        return false;
    ini = Parse(std::move(bytes));
    FindSection(ini, section, header, end);
    return true;
}

} // namespace

void SetProfileWriteObserver(ProfileWriteObserver observer) { g_writeObserver.store(observer); }

namespace {

std::string Folded(std::string_view name)
{
    std::string folded(Trim(name));
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

// A name as the functions above take it: up to its first NUL.
std::string_view AsCString(std::string_view name) { return name.substr(0, name.find('\0')); }

} // namespace

ProfileSnapshot::ProfileSnapshot(const std::string& file)
{
    std::string bytes;
    {
        std::lock_guard<std::mutex> guard(g_profileLock);
        FileLock lock;
        if (!lock.Take(file, false) || !ReadAll(lock.Fd(), bytes))
            return;
    }
    const IniFile ini = Parse(std::move(bytes));
    // Lines of a section read a second time, and lines before the first
    // section, belong to no section that a read finds.
    Values* current = nullptr;
    for (const std::string& line : ini.lines) {
        if (auto name = SectionOf(line)) {
            auto [at, added] = m_sections.try_emplace(Folded(*name));
            current = added ? &at->second : nullptr;
            continue;
        }
        std::string_view k, v;
        if (current && KeyOf(line, k, v))
            current->try_emplace(Folded(k), Unquote(v));
    }
}

std::string ProfileSnapshot::Get(std::string_view section, std::string_view key, const char* def) const
{
    auto s = m_sections.find(Folded(AsCString(section)));
    if (s != m_sections.end()) {
        auto k = s->second.find(Folded(AsCString(key)));
        if (k != s->second.end())
            return k->second;
    }
    return def ? def : "";
}

bool ProfileSnapshot::HasSection(std::string_view section) const
{
    return m_sections.count(Folded(AsCString(section))) != 0;
}

std::string GetPrivateProfileString(const char* section, const char* key, const char* def, const std::string& file)
{
    std::string fallback = def ? def : "";
    if (!section || !key)
        return fallback;
    std::lock_guard<std::mutex> guard(g_profileLock);
    FileLock lock;
    IniFile ini;
    size_t header, end;
    // Stored names lose their surrounding blanks, so the asked ones do too.
    if (!LoadSection(file, false, lock, ini, Trim(section), header, end))
        return fallback;
    if (header == std::string::npos)
        return fallback;
    size_t at = FindKey(ini, header, end, Trim(key));
    if (at == std::string::npos)
        return fallback;
    std::string_view k, v;
    KeyOf(ini.lines[at], k, v);
    return Unquote(v);
}

unsigned GetPrivateProfileString(const char* section, const char* key, const char* def, char* out, unsigned size,
                                 const std::string& file)
{
    if (!out || size == 0)
        return 0;
    std::string value = GetPrivateProfileString(section, key, def, file);
    size_t n = std::min<size_t>(value.size(), size - 1);
    std::memcpy(out, value.data(), n);
    out[n] = '\0';
    return static_cast<unsigned>(n);
}

bool WritePrivateProfileString(const char* section, const char* key, const char* value, const std::string& file)
{
    if (!section)
        return false;
    // Names that could never be read back, and line breaks, which would split
    // the entry and corrupt the file.
    if (std::strpbrk(section, "]\r\n"))
        return false;
    if (key) {
        std::string_view k = Trim(key);
        if ((!k.empty() && (k.front() == '[' || k.front() == ';')) || std::strpbrk(key, "=\r\n"))
            return false;
    }
    if (value && std::strpbrk(value, "\r\n"))
        return false;
    // Names are stored and looked up without surrounding blanks.
    const std::string sectionName(Trim(section));
    const std::string keyName(key ? Trim(key) : std::string_view());

    std::lock_guard<std::mutex> guard(g_profileLock);
    struct stat st {};
    if (!value && ::stat(file.c_str(), &st) != 0 && errno == ENOENT)
        return true; // nothing to delete, and no file to create for it
    FileLock lock;
    IniFile ini;
    size_t header, end;
    if (!LoadSection(file, true, lock, ini, sectionName, header, end))
        return false;

    if (!key) { // delete the section
        if (header == std::string::npos)
            return true;
        ini.lines.erase(ini.lines.begin() + static_cast<long>(header), ini.lines.begin() + static_cast<long>(end));
        return Store(file, ini, lock);
    }

    size_t at = header == std::string::npos ? std::string::npos : FindKey(ini, header, end, keyName);
    if (!value) { // delete the key
        if (at == std::string::npos)
            return true;
        ini.lines.erase(ini.lines.begin() + static_cast<long>(at));
        return Store(file, ini, lock);
    }

    const std::string stored = Quote(value);
    std::string line = keyName + "=" + stored;
    if (at != std::string::npos) {
        std::string_view k, v;
        KeyOf(ini.lines[at], k, v);
        ini.lines[at] = std::string(k) + "=" + stored; // the key keeps its stored spelling
    } else if (header != std::string::npos) {
        // After the section's last non-blank line, so blank separators stay
        // between sections.
        size_t insert = end;
        while (insert > header + 1 && Trim(ini.lines[insert - 1]).empty())
            --insert;
        ini.lines.insert(ini.lines.begin() + static_cast<long>(insert), line);
    } else {
        ini.lines.push_back("[" + sectionName + "]");
        ini.lines.push_back(line);
    }
    return Store(file, ini, lock);
}

} // namespace platform
