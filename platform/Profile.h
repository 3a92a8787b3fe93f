#pragma once
// Profile (INI) files, with the behaviour of the Windows profile-string
// functions the program was written against: section and key names match
// without regard to case, values lose surrounding blanks and one pair of
// quotes on read, a missing file reads as the default, a write creates the
// file and the section and keeps every other line in its place. A value that
// the read would change is written inside a pair of double quotes, so every
// value written reads back byte for byte.
//
// Unlike the originals, every read-modify-write is serialised across
// threads and processes (an flock on the file) and lands atomically (a
// temporary file renamed into place; in a folder that takes no new file, the
// file is rewritten in place under the lock). A writer killed half-way
// leaves no temporary file behind for long: the next write removes it. A
// UTF-8 byte-order mark is skipped and kept. Reads return whole values:
// cutting a value to a buffer is the caller's choice.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

namespace platform {

// The value of key in section, or def when the file, section or key is
// missing. def may be null (read as "").
std::string GetPrivateProfileString(const char* section, const char* key, const char* def, const std::string& file);

// Buffer form for callers that keep a fixed buffer: copies at most size - 1
// bytes and a NUL, returns the number of bytes copied.
unsigned GetPrivateProfileString(const char* section, const char* key, const char* def, char* out, unsigned size,
                                 const std::string& file);

// Sets key in section to value. A null value deletes the key; a null key
// deletes the whole section. Returns false when the file cannot be written,
// and refuses (false, nothing written) what could never be read back: a key
// holding "=" or starting with "[" or ";", a section name holding "]", and
// line breaks anywhere.
bool WritePrivateProfileString(const char* section, const char* key, const char* value, const std::string& file);

// A profile file read once, for a reader that takes many values in one go:
// each look-up answers as GetPrivateProfileString would have answered on the
// file as it was read, without reading it again. Writes go through
// WritePrivateProfileString as ever; the snapshot does not see them.
class ProfileSnapshot {
public:
    // The file as it is now; a missing or unreadable file reads as empty.
    explicit ProfileSnapshot(const std::string& file);

    // The value of key in section, or def when the section or key is
    // missing. def may be null (read as "").
    std::string Get(std::string_view section, std::string_view key, const char* def) const;
    // Whether the file has a section of that name.
    bool HasSection(std::string_view section) const;

private:
    // Names folded to lower case, as they match; the first of several
    // sections or keys of one name is the one read.
    using Values = std::unordered_map<std::string, std::string>;
    std::unordered_map<std::string, Values> m_sections;
};

// Called after every write that landed, with the file's path, while the
// write still holds the file (null: nobody). Lets a test end a process
// between two writes, as a crash would.
using ProfileWriteObserver = void (*)(const std::string& file);
void SetProfileWriteObserver(ProfileWriteObserver observer);

// Whether two section or key names match as the functions above match them:
// equal but for the case of ASCII letters.
bool SameProfileName(std::string_view a, std::string_view b);

} // namespace platform
