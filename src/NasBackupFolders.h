#pragma once
// The device folders a user may back up into: the share-folder table walked
// over SNMP, each folder's services, disk and status read, and only the
// folders the user may write to kept. Blocking; for worker threads.
#include <string>
#include <vector>

#include "Job.h"

struct NasFolderRow {
    std::string shareName;
    std::string location;    // the disk that holds it
    std::string supportType; // "Samba FTP NFS " as far as each is on
    std::string shareStatus; // "Public" or "Private"
    std::string userList;    // the write list of a Private folder
};

// True when the name holds a lead byte of a three-byte UTF-8 sequence
// (0xE0-0xEF: the CJK scripts among others); such folders cannot take backups.
bool IsNonEnglishName(const std::string& name);

// Whether a folder's write list ("alice,bob,@staff,") names the user as one
// of its items; "admin" may write to every Private folder with a list.
bool WriteListAllowsUser(const std::string& writeList, const std::string& user);

// Disk 1's readiness: ready, or the text to show.
struct NasDiskCheck {
    bool ready = false;
    std::string message;
    int status = 0; // the engine's result of the read (0: the device answered)
};
NasDiskCheck CheckNasDisk(const std::string& address, const std::string& community);

// The walk of the share names with the columns of each offered folder, in
// table order. A failed step ends the walk with the rows found so far.
std::vector<NasFolderRow> ReadBackupFolders(const std::string& address, const std::string& community,
                                            const std::string& user, const platform::JobControl& job);
