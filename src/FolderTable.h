#pragma once
// The device's share folders and USB disks as the share-folder page lists
// them, and the device procedures behind the page: the refresh, the re-read
// of one folder before it is opened or mapped, delete, USB eject, and the
// connection checks of this PC towards the device. Procedures block, run on
// worker threads and show their own message boxes; they return values that
// the page shows. Each works with the login its job copied when it started.
#include <string>
#include <vector>

#include "Job.h"
#include "stdafx.h"

class CSnmpEngine;

// List images.
enum : int {
    kFolderImageOpen = 0,       // allow-list empty
    kFolderImagePrivate = 1,    // allow-list given
    kFolderImageMapped = 2,     // mapped to a drive letter
    kFolderImageNfsOpen = 4,    // NFS only, allow-list empty
    kFolderImageNfsPrivate = 5, // NFS only, allow-list given
    kFolderImageUsb = 5,
};

// Results of CheckConnection.
enum : int {
    kConnectedSameUser = 30001,
    kConnectedOtherUser = 30002,
    kNotConnected = 30003,
};

// One row of the page's list.
struct FolderRow {
    std::string text;     // column 0: "music", "music(Disk1)", "music <Z:>", "USB1"
    std::string location; // column 1
    std::string type;     // column 2: "Samba FTP "
    std::string allow;    // column 3: the allow-list without its last ","
    int image = kFolderImageOpen;
    std::string row; // the folder's row index on the device ("" for USB disks)
    bool operator==(const FolderRow&) const = default;
};

struct FolderListing {
    bool ok = false;        // false: the refresh stopped (its box was shown)
    bool refreshed = false; // the rows are a refresh's (else the list keeps its rows)
    std::vector<FolderRow> rows;
};

// What the device holds for one folder now.
struct FolderInfo {
    std::string location;
    std::string type;      // "Samba FTP NFS " as the page shows it
    std::string status;    // "Public" / "Private"
    std::string allowList; // write list then read list, trimmed, with the last ","
};

// ---- Texts and rules of the list -------------------------------------------

std::string SupportTypeText(const std::string& cifs, const std::string& ftp, const std::string& nfs);
int FolderImage(const std::string& type, const std::string& allowList);
// Write list (trimmed) then read list (trimmed), the whole trimmed.
std::string AllowListOf(const std::string& writeList, const std::string& readList);
// "USB1" to "USB10" exactly.
bool IsUsbRowText(const std::string& text);
// The text without a " <Z:>" drive marker.
std::string StripDriveMarker(const std::string& text);
// The share name of a row text: drive marker and "(Disk1)"/"(Disk2)" cut off.
std::string BareFolderName(const std::string& text);
// "Disk1"/"Disk2" of a "(DiskN)" suffix, "" when there is none.
std::string DiskSuffixOf(const std::string& text);
// Rows with the same name get "name(location)".
void MarkDuplicateNames(std::vector<FolderRow>& rows);
// Rows whose "\\address\text" is a connected remote name get "text <Z:>" and
// the mapped image. At most 30 (remote, local) pairs are taken.
void MarkMappedRows(std::vector<FolderRow>& rows, const std::string& address);
// The row's own values again (after an unmount).
void UnmarkRow(FolderRow& row);

// Whether list names user or one of the groups in access ("staff,admins,").
bool IsUserAllowed(const std::string& list, const std::string& user, const std::string& access);
// The same for a list that may lack its last "," (before open and mount).
bool CheckUserAccess(const std::string& list, const std::string& user, const std::string& access);

// ---- Device procedures (worker threads) ------------------------------------

// One cell read again until it answers (with a non-empty value when asked);
// false once 10 s passed (the folder is taken as gone).
bool GetCellBounded(CSnmpEngine& engine, const std::string& oid, std::string& value, bool nonEmpty);

// Results of FindFolderRow besides a failed step's code.
enum : int {
    kFolderRowFound = 0,
    kFolderRowMissing = 1,     // the column ended without it
    kFolderDiskUnread = -1000, // not found, and the disk of a row of that name could not be read
};
// The row of a share name on a disk (on any disk when location is ""), ""
// when none; *status says why.
std::string FindFolderRow(CSnmpEngine& engine, const std::string& name, const std::string& location,
                          int* status = nullptr);

// The cells of a folder row that the page and the folder dialog show, each
// read within the bound of GetCellBounded; false when one is not.
struct FolderCells {
    std::string cifs, ftp, nfs, type, writeList, readList;
};
bool ReadFolderCells(CSnmpEngine& engine, const std::string& row, FolderCells& cells);

// Whether disk 1 is ready; otherwise its box was shown.
bool CheckDeviceDisks(const LoginCopy& login);

// Rows carried per request while the folder table is read.
inline constexpr int kFolderRowsPerRequest = 16;

// The whole list: USB disks, folders (filtered for a user who is not an
// administrator), duplicates and mapped drives marked.
FolderListing RefreshFolderList(const platform::JobControl& job, const LoginCopy& login);

// Re-reads a folder by name and location; false when it is gone (or cannot
// be read within a bound; then it is treated as gone).
bool GetFolderInfo(const LoginCopy& login, const std::string& name, const std::string& location, FolderInfo& info);
// Whether the row still shows what the device holds.
bool CompareFolderInfo(const FolderRow& row, const FolderInfo& info);

// Deletes the selected row's folder (job texts for the busy popup), then
// refreshes. The listing is the refresh's.
FolderListing DeleteFolder(const platform::JobControl& job, const LoginCopy& login, const FolderRow& selected);

// Ejects a USB disk (each outcome's box shown): Removed when the device took
// it, NotFound when the device no longer lists it, Failed otherwise.
enum class UsbEject { Removed, NotFound, Failed };
UsbEject EjectUsbDisk(const LoginCopy& login, const std::string& rowText);

// ---- Connections of this PC to the device -----------------------------------

std::string UncPathOf(const std::string& address, const std::string& name);
// kConnectedSameUser / kConnectedOtherUser / kNotConnected; -1 after the
// box of a failed enumeration or user read.
int CheckConnection(const LoginCopy& login, const std::string& acceptedUsers);
// Drops every connection to the device (IPC$ ones included). 1 all dropped,
// 0 one could not be dropped, -1 the enumeration failed. Drive letters that
// were dropped are added to droppedLetters.
int DisconnectDevice(const LoginCopy& login, std::vector<std::string>* droppedLetters = nullptr);
// The credentials rule: an administrator connects with the default ones.
// localName ("Z:") also maps the share to that drive letter.
int ConnectAsLoginUser(const LoginCopy& login, const std::string& unc, const std::string& localName = {});

// What opening a row asks of the page afterwards.
struct OpenOutcome {
    bool refresh = false; // the list is to be refreshed
    bool updated = false; // the row is to show `row`
    FolderRow row;
    bool focusList = false;
    std::vector<std::string> droppedLetters; // drive letters dropped on the way ("Z:")
};
// Opens a share folder (Samba or FTP) or a USB disk of the device.
OpenOutcome OpenFolder(const LoginCopy& login, const FolderRow& row);

// What the checks before a share folder is mapped leave to the page.
struct MountPreparation {
    bool proceed = false; // ask for a drive letter and map `unc`
    bool refresh = false; // the list is to be refreshed
    bool updated = false; // the row is to show `row`
    FolderRow row;        // the row as the device holds it now
    std::string unc;
    int state = 0;                           // CheckConnection's answer; 0 for a folder open to all
    std::vector<std::string> droppedLetters; // drive letters dropped on the way
};
// The checks and connections before a row's share is mapped: the folder
// re-read, the user's rights, the one-user question (every other connection
// to the device dropped), the login user's own connection. Their boxes are
// shown on the way.
MountPreparation PrepareMount(const LoginCopy& login, const FolderRow& row);
// Drops the drive letters mapped to the row's share, with a box for each
// that cannot be dropped; true when one was dropped.
bool UnmapFolder(const LoginCopy& login, const FolderRow& row);

// The text of a ShellExecute result below 33, with the target and why it
// failed when the target is given (its box is shown).
void ShellExecuteErrorText(int code, const std::string& target = {});
std::string ShellExecuteErrorMessage(int code);
