#include "NasMibSeed.h"

#include "NasMib.h"
#include "SnmpAgent.h"

namespace testbed {

namespace {

std::string Cell(const char* column, int row) { return NasCell(column, std::to_string(row)); }

void Int(MibStore& s, const char* column, int row, int value) { s.Set(Cell(column, row), MibValue::Integer(value)); }

void Str(MibStore& s, const char* column, int row, const std::string& value)
{
    s.Set(Cell(column, row), MibValue::String(value));
}

} // namespace

NasDescription NasDescription::Default(const std::string& adminPassword)
{
    NasDescription nas;
    nas.disks = {{1, 238475, 1024, "3", 2}, {2, 238475, 512, "3", 2}};
    nas.folders = {
        {1, "HDD1", "public", "", "", 1, 1, 0, 1},
        {2, "HDD1", "admin", "admin,", "admin,", 1, 0, 0, 2},
    };
    nas.usbDisks = {{1, 7634, 120, "1"}};
    nas.users = {
        {1, "admin", "Administrator", adminPassword, "staff,", 15, 1, 1},
        {2, "guest", "Guest", "guest", "", 1, 1, 0},
    };
    nas.groups = {{1, "staff", "admin,", 1, 1, 1}};
    nas.quotas = {{1, "guest", 1, 1000, 0}, {2, "staff", 2, 5000, 1}};
    return nas;
}

void AddDiskRow(MibStore& s, const NasDescription::Disk& d)
{
    Int(s, nasmib::kDiskTotalSize, d.number, d.totalMb);
    Int(s, nasmib::kDiskUsedSize, d.number, d.usedMb);
    Str(s, nasmib::kDiskFsType, d.number, d.fsType);
    Int(s, nasmib::kDiskStatus, d.number, d.status);
}

void AddFolderRow(MibStore& s, const NasDescription::Folder& f)
{
    int r = f.index;
    Int(s, nasmib::kFolderIndex, r, r);
    Str(s, nasmib::kFolderLocation, r, f.location);
    Str(s, nasmib::kFolderPartition, r, "");
    Int(s, nasmib::kFolderFileSystem, r, 1);
    Str(s, nasmib::kFolderShareName, r, f.shareName);
    Str(s, nasmib::kFolderOldShareName, r, f.shareName);
    Str(s, nasmib::kFolderDescription, r, "");
    Int(s, nasmib::kFolderStatus, r, 1);
    Str(s, nasmib::kFolderEnableList, r, "");
    Str(s, nasmib::kFolderReadList, r, f.readList);
    Str(s, nasmib::kFolderWriteList, r, f.writeList);
    Int(s, nasmib::kFolderCifs, r, f.cifs);
    Int(s, nasmib::kFolderFtp, r, f.ftp);
    Int(s, nasmib::kFolderNfs, r, f.nfs);
    Int(s, nasmib::kFolderType, r, f.folderType);
    Int(s, nasmib::kFolderRowFlag, r, 1);
    Int(s, nasmib::kFolderRowStatus, r, nasmib::kRowStatusActive);
}

void AddUsbRow(MibStore& s, const NasDescription::UsbDisk& u)
{
    Int(s, nasmib::kUsbIndex, u.index, u.index);
    Int(s, nasmib::kUsbTotalSize, u.index, u.totalSize);
    Int(s, nasmib::kUsbUsedSize, u.index, u.usedSize);
    Str(s, nasmib::kUsbFsType, u.index, u.fsType);
    Int(s, nasmib::kUsbRemove, u.index, 0);
}

void AddUserRow(MibStore& s, const NasDescription::User& u)
{
    int r = u.index;
    Int(s, nasmib::kUserIndex, r, r);
    Str(s, nasmib::kUserName, r, u.name);
    Str(s, nasmib::kUserFullName, r, u.fullName);
    Str(s, nasmib::kUserPassword, r, u.password);
    Str(s, nasmib::kUserGroupMember, r, u.groups);
    Int(s, nasmib::kUserServiceCifs, r, u.cifs);
    Int(s, nasmib::kUserServiceFtp, r, u.ftp);
    Int(s, nasmib::kUserLevel, r, u.level);
    Int(s, nasmib::kUserRowFlag, r, 0);
    Int(s, nasmib::kUserRowStatus, r, nasmib::kRowStatusActive);
}

void AddGroupRow(MibStore& s, const NasDescription::Group& g)
{
    int r = g.index;
    Int(s, nasmib::kGroupIndex, r, r);
    Str(s, nasmib::kGroupName, r, g.name);
    Str(s, nasmib::kGroupUserList, r, g.userList);
    Int(s, nasmib::kGroupServiceCifs, r, g.cifs);
    Int(s, nasmib::kGroupServiceFtp, r, g.ftp);
    Int(s, nasmib::kGroupEnable, r, g.enable);
    Int(s, nasmib::kGroupRowFlag, r, 0);
    Int(s, nasmib::kGroupRowStatus, r, nasmib::kRowStatusActive);
}

void AddQuotaRow(MibStore& s, const NasDescription::Quota& q)
{
    int r = q.index;
    Int(s, nasmib::kQuotaIndex, r, r);
    Str(s, nasmib::kQuotaName, r, q.name);
    Int(s, nasmib::kQuotaDisk, r, q.disk);
    Int(s, nasmib::kQuotaSize, r, q.sizeMb);
    Int(s, nasmib::kQuotaType, r, q.type);
    Int(s, nasmib::kQuotaRowStatus, r, nasmib::kRowStatusActive);
}

void SeedNasMib(MibStore& s, const NasDescription& nas)
{
    s.Clear();
    s.Set(nasmib::kDeviceName, MibValue::String(nas.deviceName));
    s.Set(nasmib::kDeviceState, MibValue::String(nas.state));
    s.Set(nasmib::kWebPort, MibValue::Integer(nas.webPort));
    s.Set(nasmib::kLanInfo, MibValue::String(nas.lanInfo));
    s.Set(nasmib::kFirmwareVersion, MibValue::String(nas.firmwareVersion));
    s.Set(nasmib::kBootTime, MibValue::String(nas.bootTime));
    s.Set(nasmib::kPackageVersion, MibValue::String(nas.packageVersion));
    s.Set(nasmib::kFormatFs, MibValue::Integer(nas.formatFs));
    s.Set(nasmib::kInitDisk, MibValue::Integer(nas.initDisk));
    s.Set(nasmib::kDiskMode, MibValue::Integer(nas.diskMode));
    s.Set(nasmib::kFormatType, MibValue::Integer(nas.formatType));
    s.Set(nasmib::kNoQuotaDisk2, MibValue::Integer(nas.noQuotaDisk2));
    for (const auto& d : nas.disks)
        AddDiskRow(s, d);
    for (const auto& f : nas.folders)
        AddFolderRow(s, f);
    for (const auto& u : nas.usbDisks)
        AddUsbRow(s, u);
    for (const auto& u : nas.users)
        AddUserRow(s, u);
    for (const auto& g : nas.groups)
        AddGroupRow(s, g);
    for (const auto& q : nas.quotas)
        AddQuotaRow(s, q);
    s.Set(kMibEndMarker, MibValue::Integer(0));
}

void AddNasRowRemovals(SnmpAgent& agent)
{
    agent.AddRowRemoval(nasmib::kFolderRowStatus, nasmib::kRowStatusDestroy);
    agent.AddRowRemoval(nasmib::kUserRowStatus, nasmib::kRowStatusDestroy);
    agent.AddRowRemoval(nasmib::kGroupRowStatus, nasmib::kRowStatusDestroy);
    agent.AddRowRemoval(nasmib::kQuotaRowStatus, nasmib::kRowStatusDestroy);
    agent.AddRowRemoval(nasmib::kUsbRemove, nasmib::kUsbEject);
}

} // namespace testbed
