#pragma once
// The program-wide context and the small helpers every part of the program uses.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "NasInfo.h"
#include "NasMib.h"

// ---------------------------------------------------------------------------
// Small helpers

// Base64 (RFC 4648, "=" padding) of len bytes of in; len 0 takes in as a
// NUL-terminated text. Writes the characters and a NUL into out and returns
// their number, or -1 (out untouched) when outSize cannot hold them.
int Base64Encode(char* out, size_t outSize, const char* in, int len = 0);
std::string Base64Encode(const std::string& bytes);

// Decodes text into out followed by a NUL and returns the number of decoded
// bytes. Returns -1 and leaves out untouched when the text is empty, not a
// multiple of 4 long, holds a character outside the alphabet, holds "="
// anywhere but as the last one or two characters, or when the decoded bytes,
// their NUL and one spare byte do not fit in outSize.
int Base64Decode(char* out, int outSize, const char* text);
// Decoded bytes of text, or "" when it does not decode.
std::string Base64Decode(const std::string& text);

// "%02X:%02X:%02X:%02X:%02X:%02X"
std::string MacToString(const unsigned char mac[6]);
// Six ":"-separated hexadecimal numbers, each kept as its low byte. Returns
// false and leaves mac untouched when the text does not hold exactly that.
bool StringToMac(const std::string& text, unsigned char mac[6]);

// Dotted text of an IPv4 address in network order.
std::string IpToString(uint32_t ip);
// Network-order address of dotted text; false when it is not one.
bool StringToIp(const std::string& text, uint32_t& ip);

// s without its leading and trailing blanks (space, tab, CR, LF).
std::string Trim(const std::string& s);

// The entries of a list such as the device's user, group and folder lists:
// each ends with the separator; a last entry without it counts as well.
// Entries are kept as they stand, empty ones too.
std::vector<std::string> ListEntries(const std::string& list, char separator = ',');

// A size in megabytes as "500 MB", "1.07 GB", "2 TB".
std::string FormatDiskSize(unsigned megabytes);

// The operating system's version as the program recorded it at start-up.
struct OsVersionInfo {
    unsigned size;
    unsigned majorVersion;
    unsigned minorVersion;
    unsigned buildNumber;
    char release[128];
};
const OsVersionInfo* GetOsVersionInfo();
// Fills the record GetOsVersionInfo returns; start-up calls it once.
void InitOsVersionInfo();
// Whether the system keeps per-user application data folders: always here.
// The result files of backup and restore runs do not go there even so: they
// are kept in LOG/ in the program folder, beside the program's INI files, on
// purpose, so that everything the program writes stays in one folder.
bool IsVistaOrLater();

// printf-style text, cut to 511 bytes.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// printf-style trace line for developers: written to standard error when the
// environment variable TOLVANE_DEBUG is set, else dropped.
void DebugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// ---------------------------------------------------------------------------
// The one program-wide context

class CNasContext {
public:
    CNasContext();
    // Test seam: a context whose login memory lives in the given file.
    explicit CNasContext(const std::string& iniPath);
    CNasContext(const CNasContext&) = delete;
    CNasContext& operator=(const CNasContext&) = delete;

    void Lock() { m_lock.lock(); }
    void Unlock() { m_lock.unlock(); }

    // Empties the login (device, user, level, password, community), clears
    // the remember flag, resets the UDP time-out and zeroes the device record.
    void Reset();

    // Loads the remembered login of the device with that MAC, or of the last
    // login when mac is null. Creates the INI file when it is missing.
    void LoadLogin(const unsigned char* mac);
    // The remembered user and password of a device; false (both emptied)
    // when none is remembered.
    bool GetSavedLogin(const unsigned char* mac, std::string& user, std::string& password) const;
    // Stores the current login; writeLastLogin also makes it the last login.
    // A file that cannot be written shows the system's error text in a box
    // and gives false.
    bool SaveLogin(bool writeLastLogin);

    // Running backup or restore task.
    bool IsTaskRunning() const;
    std::string GetRunningTaskName() const;
    void SetTaskRunning(int running);
    void SetRunningTaskName(const std::string& name);
    void ClearRunningTaskName();
    // Makes name the running task unless a task runs already: the test and
    // the set are one step under the lock. False when another task runs.
    bool TryStartTask(const std::string& name);
    // The running task ends: its name cleared, then the flag.
    void EndTask();

    const std::string& IniPath() const { return m_iniPath; }
    // Test seam: moves the login memory of this context to another file.
    void SetIniPath(const std::string& iniPath) { m_iniPath = iniPath; }

    // Login fields, written under the lock: by the login road on the GUI
    // thread, and the user's groups by a refresh (KeepUserAccess). Other
    // threads read them only through CopyLogin.
    std::string m_deviceAddress;
    std::string m_macText;
    std::string m_user;
    std::string m_userLevel;  // "15" is an administrator
    std::string m_userAccess; // group membership text of the user
    std::string m_password;
    std::string m_community;
    uint32_t m_udpTimeout = 2000; // milliseconds
    bool m_rememberPassword = false;
    NasInfo m_nasInfo{};

    bool IsAdministrator() const { return m_userLevel == nasmib::kAdministratorLevel; }

private:
    // Creates an empty INI file (mode 0600: it holds a reversible password);
    // shows the system's error text when it cannot.
    bool CreateIniFile() const;
    bool IniExists() const;

    std::string m_iniPath;
    bool m_taskRunning = false;
    std::string m_runningTaskName;
    mutable std::recursive_mutex m_lock;
};

CNasContext* GetNasContext();

// The login fields of the program-wide context, copied under its lock. A job
// takes one copy when it starts and uses only that, so a new login made
// meanwhile never mixes into it.
struct LoginCopy {
    std::string address;
    std::string user;
    std::string level;  // nasmib::kAdministratorLevel is an administrator
    std::string access; // group membership text of the user
    std::string password;
    std::string community;
    std::string mac;
    NasInfo device{};
    uint32_t udpTimeout = 0;

    bool IsAdministrator() const { return level == nasmib::kAdministratorLevel; }
};
LoginCopy CopyLogin();
// Keeps the user's group membership text, read by a job, in the context,
// unless the login changed since the job copied it.
void KeepUserAccess(const LoginCopy& login, const std::string& access);
