#pragma once
// Fills a MibStore with the device's management tables from a short
// description of the device, and teaches an agent the device's row removals.
#include <string>
#include <vector>

#include "MibStore.h"

namespace testbed {

class SnmpAgent;

struct NasDescription {
    struct Disk {
        int number = 1; // row: 1 or 2
        int totalMb = 0;
        int usedMb = 0;
        std::string fsType = "3"; // file-system number as text: "1" FAT32, "2" ext2, "3" ext3
        int status = 2;           // 2 ready, -2 not formatted, -1 formatting, 1 not installed, 0 none
    };
    struct Folder {
        int index = 1;
        std::string location = "HDD1"; // MountName: the disk the folder lives on
        std::string shareName;
        std::string readList; // "user,@group,"
        std::string writeList;
        int cifs = 1;
        int ftp = 0;
        int nfs = 0;
        int folderType = 1; // 1 open to everybody, 2 only to the listed ones
    };
    struct UsbDisk {
        int index = 1;
        int totalSize = 0;
        int usedSize = 0;
        std::string fsType = "1";
    };
    struct User {
        int index = 1;
        std::string name;
        std::string fullName;
        std::string password;
        std::string groups; // UserGroupMember
        int level = 1;      // 15 administrator
        int cifs = 1;
        int ftp = 1;
    };
    struct Group {
        int index = 1;
        std::string name;
        std::string userList; // "a,b,"
        int cifs = 1;
        int ftp = 1;
        int enable = 1;
    };
    struct Quota {
        int index = 1;
        std::string name;
        int disk = 1;
        int sizeMb = 0;
        int type = 0; // 0 a user's, 1 a group's
    };

    std::string deviceName = "TOLVANE-NAS";
    std::string state = "ready"; // non-empty: usable
    int webPort = 80;
    std::string lanInfo = "198.18.0.2/255.254.0.0";
    std::string firmwareVersion = "2.00.05";
    std::string bootTime = "2024/01/01 00:00:00";
    std::string packageVersion = "1.0.3";
    int formatFs = 1;
    int initDisk = 0;
    int diskMode = 0; // 0 Individual Disk, 1 Raid1, 2 Raid1 (Broken), 3 Raid0, 4 JBOD
    int formatType = 0;
    int noQuotaDisk2 = 0;
    std::vector<Disk> disks;
    std::vector<Folder> folders;
    std::vector<UsbDisk> usbDisks;
    std::vector<User> users;
    std::vector<Group> groups;
    std::vector<Quota> quotas;

    // Two ready disks, folders "public" and "admin" (the latter private to
    // admin), one USB disk, the "admin" user (level 15, the given password)
    // and a user "guest", a group "staff", one user and one group quota.
    static NasDescription Default(const std::string& adminPassword = "admin");
};

// OID of the object that lies after every table, so that a walk of the last
// table's last column, or of an empty last table, ends cleanly.
inline constexpr char kMibEndMarker[] = "1.3.6.1.2.1.26.99.0";

// Replaces the store's contents with the scalars and tables of the
// description (plus kMibEndMarker).
void SeedNasMib(MibStore& store, const NasDescription& nas);

// One row each, as the web CGI creates them (existing cells are replaced).
void AddDiskRow(MibStore& store, const NasDescription::Disk& disk);
void AddFolderRow(MibStore& store, const NasDescription::Folder& folder);
void AddUsbRow(MibStore& store, const NasDescription::UsbDisk& usb);
void AddUserRow(MibStore& store, const NasDescription::User& user);
void AddGroupRow(MibStore& store, const NasDescription::Group& group);
void AddQuotaRow(MibStore& store, const NasDescription::Quota& quota);

// Row status 6 removes a folder, user, group or quota row; 2 on the USB
// remove request removes the USB disk's row.
void AddNasRowRemovals(SnmpAgent& agent);

} // namespace testbed
