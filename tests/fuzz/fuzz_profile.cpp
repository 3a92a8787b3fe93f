// The profile (INI) file reader and writer on arbitrary file contents. The
// input is the file's bytes, then, each after a NUL byte, a section, a key,
// a value and another section and key. A snapshot of the file reads both
// names as reads of their own do; a write that is taken reads back as
// written, byte for byte, and leaves the value under the other name as it
// was.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "Profile.h"

namespace {

std::string g_dir;

void RemoveDir() { std::filesystem::remove_all(g_dir); }

// The file every input is written to, in a folder removed at exit.
std::string FilePath()
{
    if (g_dir.empty()) {
        g_dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm/fuzz-profile-XXXXXX" : "/tmp/fuzz-profile-XXXXXX";
        if (!mkdtemp(g_dir.data()))
            std::abort();
        std::atexit(RemoveDir);
    }
    return g_dir + "/f.ini";
}

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Names match without surrounding blanks and without regard to case.
bool SameName(std::string a, std::string b)
{
    for (std::string* s : {&a, &b}) {
        while (!s->empty() && Blank(s->back()))
            s->pop_back();
        size_t first = 0;
        while (first < s->size() && Blank((*s)[first]))
            ++first;
        s->erase(0, first);
        for (char& c : *s)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
    }
    return a == b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && parts.size() < 6)
            parts.emplace_back();
        else
            parts.back() += static_cast<char>(data[i]);
    }
    parts.resize(6);
    for (size_t i = 1; i < parts.size(); ++i)
        parts[i] = parts[i].c_str(); // names and values end at a NUL
    const std::string& content = parts[0];
    const std::string &section = parts[1], &key = parts[2], &value = parts[3];
    const std::string &otherSection = parts[4], &otherKey = parts[5];

    const std::string file = FilePath();
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << content;
    }
    const std::string other = platform::GetPrivateProfileString(otherSection.c_str(), otherKey.c_str(), "\x01", file);
    const std::string before = platform::GetPrivateProfileString(section.c_str(), key.c_str(), "\x01", file);
    // One reading of the file answers each look-up as a read of its own.
    {
        const platform::ProfileSnapshot snapshot(file);
        if (snapshot.Get(otherSection, otherKey, "\x01") != other || snapshot.Get(section, key, "\x01") != before)
            std::abort();
    }

    if (platform::WritePrivateProfileString(section.c_str(), key.c_str(), value.c_str(), file)) {
        if (platform::GetPrivateProfileString(section.c_str(), key.c_str(), "\x01", file) != value)
            std::abort();
        if (!(SameName(section, otherSection) && SameName(key, otherKey)) &&
            platform::GetPrivateProfileString(otherSection.c_str(), otherKey.c_str(), "\x01", file) != other)
            std::abort();
    }
    return 0;
}
