#pragma once
// Creating and changing a share folder on the device: what the folder dialog
// reads from the device (users, groups, disks, the folder being edited), the
// checks of its input, the "PrivateFolder.shtml" form and the save that posts
// it and reads the row back. Blocking; run on worker threads; the boxes are
// shown here.
#include <string>
#include <vector>

#include "Job.h"
#include "stdafx.h"

// Dialog actions and results.
enum : int {
    kFolderActionAdd = 20001,
    kFolderActionEdit = 20002,
    kFolderSaved = 30001,
    kFolderNotSaved = 30002,
};

// At most this many folders on the device.
inline constexpr int kMaxFolders = 1024;

// One allowed user or group ("@staff"); write = may write.
struct AllowedEntry {
    std::string name;
    bool write = false;
    bool operator==(const AllowedEntry&) const = default;
};

// What the dialog holds.
struct FolderSettings {
    std::string name;
    std::string disk; // "Disk1" / "Disk2"
    bool samba = true;
    bool ftp = false;
    bool nfs = false;
    bool privateFolder = false; // false: Anonymous
    std::vector<AllowedEntry> allowed;
};

// Users ("alice") and groups ("@staff") of the device, disks that can take a
// folder; a box was shown for what could not be read.
struct FolderDialogData {
    std::vector<std::string> accounts;
    std::vector<std::string> disks;
};
FolderDialogData LoadFolderDialogData(const LoginCopy& login);
// Users and groups only (after the user management dialog); false when the
// walk failed.
bool LoadAccounts(const LoginCopy& login, std::vector<std::string>& accounts);

// The folder as the device holds it (edit). location narrows the search to
// one disk when given. False after "This folder is not exist." (or when the
// device stopped answering; "NAS timeout.").
bool LoadFolder(const LoginCopy& login, const std::string& name, const std::string& location, FolderSettings& out);

// 0 valid, 1 refused (its box shown).
int CheckFolderName(const std::string& name);
// Refusal text of a name, "" when valid.
std::string FolderNameRefusal(const std::string& name);

// Results of CheckFolderExists.
enum : int {
    kFolderNameFree = 0,
    kFolderTableFull = -1,
    kFolderNameTaken = -2,
    kFolderWalkFailed = -3,
};
// Walks the share names: kFolderNameTaken when another row (not ownRow)
// holds the name (case-insensitive), kFolderTableFull when ownRow is empty
// (an add) and the device holds kMaxFolders folders, kFolderWalkFailed when
// the walk did not reach the end.
int CheckFolderExists(const LoginCopy& login, const std::string& name, const std::string& ownRow = {});

// 1 when every allowed entry is a device user or group, else 0 (box shown).
int CheckUsers(const LoginCopy& login, const std::vector<AllowedEntry>& allowed);

// The lists as the form carries them (before escaping): "a,@g,".
void BuildAllowLists(const FolderSettings& s, std::string& readList, std::string& writeList);
// The form body for row i.
std::string BuildFolderBody(const FolderSettings& s, int action, const std::string& row);
// The whole request.
std::string BuildFolderRequest(const FolderSettings& s, int action, const std::string& row, const std::string& host,
                               const std::string& authorization);

// Where the dialog should put the focus after a refusal.
enum class FolderFocus { None, Disk, Name };

struct FolderSaveResult {
    int code = -1;                // -1 stopped before or during the post, 1 saved, -2 not verified
    int result = kFolderNotSaved; // the dialog's result field
    FolderFocus focus = FolderFocus::None;
};

// The whole save: checks, row index, post, read-back.
FolderSaveResult AddOrEditFolder(const platform::JobControl& job, const LoginCopy& login, const FolderSettings& s,
                                 int action, const std::string& oldName, const std::string& oldLocation = {});
