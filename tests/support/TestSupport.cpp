#include "TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <sched.h>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/wait.h>

namespace testsupport {

std::filesystem::path BinDir() { return TOLVANE_BIN_DIR; }
std::filesystem::path SourceDir() { return TOLVANE_SOURCE_DIR; }

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tolvane-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::filesystem::path MakeLongFolder(const std::filesystem::path& base, size_t length)
{
    std::string path = base.string();
    while (path.size() < length) {
        // Each step adds "/" and a name; a name of one byte at least is left
        // for the last step.
        size_t name = std::min<size_t>(200, length - path.size() - 1);
        if (length - path.size() - 1 - name == 1)
            --name;
        path += "/" + std::string(name, 'd');
    }
    std::filesystem::create_directories(path);
    return path;
}

std::string ReadFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::filesystem::path& file, const std::string& bytes)
{
    std::error_code ec;
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), ec);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(gen() & 0xFF);
    return bytes;
}

std::map<std::string, std::string> Tree(const std::filesystem::path& root)
{
    // Entries under their own names (relative() would follow links); a
    // link by its target, never by what it points to.
    std::map<std::string, std::string> out;
    for (auto it = std::filesystem::recursive_directory_iterator(root);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        const std::filesystem::file_status st = it->symlink_status();
        out[it->path().lexically_relative(root).string()] =
            std::filesystem::is_symlink(st)     ? "l:" + std::filesystem::read_symlink(it->path()).string()
            : std::filesystem::is_directory(st) ? "d"
                                                : "f:" + ReadFile(it->path());
    }
    return out;
}

ReadOnlyFile::ReadOnlyFile(const std::filesystem::path& file) : m_file(file)
{
    static thread_local bool ownNamespace = false;
    if (!ownNamespace)
        ownNamespace = ::unshare(CLONE_NEWNS) == 0;
    m_ok = ownNamespace && ::mount(file.c_str(), file.c_str(), nullptr, MS_BIND, nullptr) == 0;
    if (m_ok && ::mount(nullptr, file.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        ::umount2(file.c_str(), MNT_DETACH);
        m_ok = false;
    }
}

ReadOnlyFile::~ReadOnlyFile()
{
    if (m_ok)
        ::umount2(m_file.c_str(), MNT_DETACH);
}

std::string RunCommand(const std::string& command, int* status)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        if (status)
            *status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int rc = pclose(p);
    if (status)
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

} // namespace testsupport
