#pragma once
// The device's management objects: every OID the program (and the emulator)
// uses is named here once. Scalars carry their ".0"; table columns are given
// without a row, a cell is the column + "." + the row index (NasCell).
#include <string>

namespace nasmib {

// ---- Scalars ---------------------------------------------------------------
inline constexpr char kDeviceName[] = "1.3.6.1.2.1.19.1.0";       // str
inline constexpr char kDeviceState[] = "1.3.6.1.2.1.20.2.0";      // str, non-empty: usable
inline constexpr char kWebPort[] = "1.3.6.1.2.1.20.11.0";         // int
inline constexpr char kLanInfo[] = "1.3.6.1.2.1.20.37.0";         // str
inline constexpr char kFirmwareVersion[] = "1.3.6.1.2.1.20.39.0"; // str
inline constexpr char kBootTime[] = "1.3.6.1.2.1.20.40.0";        // str
inline constexpr char kPackageVersion[] = "1.3.6.1.2.1.20.46.0";  // str
inline constexpr char kFormatFs[] = "1.3.6.1.2.1.21.6.0";         // int, form field FormatFS
inline constexpr char kInitDisk[] = "1.3.6.1.2.1.21.8.0";         // int, form field InitDisk
inline constexpr char kDiskMode[] = "1.3.6.1.2.1.21.9.0";         // int, form field DiskMode
inline constexpr char kFormatType[] = "1.3.6.1.2.1.21.11.0";      // int
inline constexpr char kNoQuotaDisk2[] = "1.3.6.1.2.1.21.13.0";    // int, non-zero: no quota on disk 2

// ---- Disk table (row = disk 1 or 2) ----------------------------------------
inline constexpr char kDiskEntry[] = "1.3.6.1.2.1.21.1.1";
inline constexpr char kDiskTotalSize[] = "1.3.6.1.2.1.21.1.1.3"; // int, MB
inline constexpr char kDiskUsedSize[] = "1.3.6.1.2.1.21.1.1.4";  // int, MB
inline constexpr char kDiskFsType[] = "1.3.6.1.2.1.21.1.1.9";    // str
inline constexpr char kDiskStatus[] = "1.3.6.1.2.1.21.1.1.10";   // int, kDiskState*

// ---- Share-folder table ----------------------------------------------------
inline constexpr char kFolderEntry[] = "1.3.6.1.2.1.21.5.1";
inline constexpr char kFolderIndex[] = "1.3.6.1.2.1.21.5.1.1";        // int  MountIndex
inline constexpr char kFolderLocation[] = "1.3.6.1.2.1.21.5.1.2";     // str  MountName
inline constexpr char kFolderPartition[] = "1.3.6.1.2.1.21.5.1.3";    // str  MountPartition
inline constexpr char kFolderFileSystem[] = "1.3.6.1.2.1.21.5.1.4";   // int  MountFileSystem
inline constexpr char kFolderShareName[] = "1.3.6.1.2.1.21.5.1.5";    // str  MountShareName
inline constexpr char kFolderOldShareName[] = "1.3.6.1.2.1.21.5.1.6"; // str  MountOldShareName
inline constexpr char kFolderDescription[] = "1.3.6.1.2.1.21.5.1.7";  // str  MountDescription
inline constexpr char kFolderStatus[] = "1.3.6.1.2.1.21.5.1.8";       // int  MountStatus
inline constexpr char kFolderEnableList[] = "1.3.6.1.2.1.21.5.1.9";   // str  MountEnableList
inline constexpr char kFolderReadList[] = "1.3.6.1.2.1.21.5.1.10";    // str  MonuntReadList
inline constexpr char kFolderWriteList[] = "1.3.6.1.2.1.21.5.1.11";   // str  MountWriteList
inline constexpr char kFolderCifs[] = "1.3.6.1.2.1.21.5.1.12";        // int  MountCIFS
inline constexpr char kFolderFtp[] = "1.3.6.1.2.1.21.5.1.13";         // int  MountFTP
inline constexpr char kFolderNfs[] = "1.3.6.1.2.1.21.5.1.14";         // int  MountNFS
inline constexpr char kFolderType[] = "1.3.6.1.2.1.21.5.1.15";        // int  MountFolderType
inline constexpr char kFolderRowFlag[] = "1.3.6.1.2.1.21.5.1.16";     // int  rowflag
inline constexpr char kFolderRowStatus[] = "1.3.6.1.2.1.21.5.1.17";   // int  rowstart / rowend

// ---- USB disk table --------------------------------------------------------
inline constexpr char kUsbEntry[] = "1.3.6.1.2.1.21.7.1";
inline constexpr char kUsbIndex[] = "1.3.6.1.2.1.21.7.1.1";     // int
inline constexpr char kUsbTotalSize[] = "1.3.6.1.2.1.21.7.1.3"; // int
inline constexpr char kUsbUsedSize[] = "1.3.6.1.2.1.21.7.1.4";  // int
inline constexpr char kUsbFsType[] = "1.3.6.1.2.1.21.7.1.9";    // str
inline constexpr char kUsbRemove[] = "1.3.6.1.2.1.21.7.1.10";   // int, SET kUsbEject ejects

// ---- User table ------------------------------------------------------------
inline constexpr char kUserEntry[] = "1.3.6.1.2.1.26.1.1";
inline constexpr char kUserIndex[] = "1.3.6.1.2.1.26.1.1.1";       // int  UserIndex
inline constexpr char kUserName[] = "1.3.6.1.2.1.26.1.1.2";        // str  UserName
inline constexpr char kUserFullName[] = "1.3.6.1.2.1.26.1.1.3";    // str  UserFullName
inline constexpr char kUserPassword[] = "1.3.6.1.2.1.26.1.1.4";    // str  UserPassword
inline constexpr char kUserGroupMember[] = "1.3.6.1.2.1.26.1.1.5"; // str  UserGroupMember
inline constexpr char kUserServiceCifs[] = "1.3.6.1.2.1.26.1.1.6"; // int  ServiceCIFS
inline constexpr char kUserServiceFtp[] = "1.3.6.1.2.1.26.1.1.7";  // int  ServiceFTP
inline constexpr char kUserLevel[] = "1.3.6.1.2.1.26.1.1.8";       // int  UserLevel, 15 administrator
inline constexpr char kUserRowFlag[] = "1.3.6.1.2.1.26.1.1.9";     // int  rowflag
inline constexpr char kUserRowStatus[] = "1.3.6.1.2.1.26.1.1.10";  // int  rowstart / rowend

// ---- Group table -----------------------------------------------------------
inline constexpr char kGroupEntry[] = "1.3.6.1.2.1.26.2.1";
inline constexpr char kGroupIndex[] = "1.3.6.1.2.1.26.2.1.1";       // int  GroupIndex
inline constexpr char kGroupName[] = "1.3.6.1.2.1.26.2.1.2";        // str  GroupName
inline constexpr char kGroupUserList[] = "1.3.6.1.2.1.26.2.1.3";    // str  GroupUserlist
inline constexpr char kGroupServiceCifs[] = "1.3.6.1.2.1.26.2.1.4"; // int  ServiceCIFS
inline constexpr char kGroupServiceFtp[] = "1.3.6.1.2.1.26.2.1.5";  // int  ServiceFTP
inline constexpr char kGroupEnable[] = "1.3.6.1.2.1.26.2.1.6";      // int  GroupEnable
inline constexpr char kGroupRowFlag[] = "1.3.6.1.2.1.26.2.1.7";     // int  rowflag
inline constexpr char kGroupRowStatus[] = "1.3.6.1.2.1.26.2.1.8";   // int  rowstart / rowend

// ---- Quota table -----------------------------------------------------------
inline constexpr char kQuotaEntry[] = "1.3.6.1.2.1.26.3.1";
inline constexpr char kQuotaIndex[] = "1.3.6.1.2.1.26.3.1.1";     // int  QuotaIndex
inline constexpr char kQuotaName[] = "1.3.6.1.2.1.26.3.1.2";      // str  QuotaName
inline constexpr char kQuotaDisk[] = "1.3.6.1.2.1.26.3.1.3";      // int  QuotaDisk, 1 or 2
inline constexpr char kQuotaSize[] = "1.3.6.1.2.1.26.3.1.4";      // int  QuotaSize, MB
inline constexpr char kQuotaType[] = "1.3.6.1.2.1.26.3.1.5";      // int  QuotaType, 0 user, 1 group
inline constexpr char kQuotaRowFlag[] = "1.3.6.1.2.1.26.3.1.6";   //      QuotaRowFlag (form only)
inline constexpr char kQuotaRowStatus[] = "1.3.6.1.2.1.26.3.1.7"; // int  QuotaStart / QuotaEnd

// ---- Values ----------------------------------------------------------------
inline constexpr int kRowStatusActive = 1;  // row end
inline constexpr int kRowStatusOpen = 5;    // row start
inline constexpr int kRowStatusDestroy = 6; // SET deletes the row
inline constexpr int kUsbEject = 2;         // SET on kUsbRemove ejects the disk

inline constexpr int kDiskStateNone = 0;
inline constexpr int kDiskStateNotInstalled = 1;
inline constexpr int kDiskStateReady = 2;
inline constexpr int kDiskStateFormatting = -1;
inline constexpr int kDiskStateUnformatted = -2;

inline constexpr char kAdministratorLevel[] = "15";

} // namespace nasmib

// The cell of a column in a row: "1.3.6.1.2.1.21.5.1.10" + "." + "12".
inline std::string NasCell(const char* column, const std::string& row) { return std::string(column) + "." + row; }

// The row index of a walked OID: the text after its last ".".
inline std::string NasRowOf(const std::string& oid)
{
    size_t dot = oid.rfind('.');
    return dot == std::string::npos ? std::string() : oid.substr(dot + 1);
}
