#include "NasBackupFolders.h"

#include <optional>

#include "NasMib.h"
#include "SnmpHelpers.h"
#include "y_snmp.h"

namespace {

// A failed GET reads as "".
std::string Get(CSnmpEngine& engine, const std::string& oid)
{
    std::string value;
    if (engine.SimpleGet(oid, value) != 0)
        value.clear();
    return value;
}

// The row of a share the user may back up to, or none.
std::optional<NasFolderRow> ReadBackupFolder(CSnmpEngine& engine, const std::string& oid, const std::string& name,
                                             const std::string& user)
{
    const std::string suffix = oid.substr(oid.rfind('.'));
    NasFolderRow row;
    row.shareName = name;
    if (Get(engine, nasmib::kFolderCifs + suffix) == "1")
        row.supportType += "Samba ";
    if (Get(engine, nasmib::kFolderFtp + suffix) == "1")
        row.supportType += "FTP ";
    if (Get(engine, nasmib::kFolderNfs + suffix) == "1")
        row.supportType += "NFS ";
    row.location = Get(engine, nasmib::kFolderLocation + suffix);

    const std::string status = Get(engine, nasmib::kFolderType + suffix);
    if (status == "1") {
        row.shareStatus = "Public";
        return row;
    }
    if (status != "2")
        return std::nullopt;
    row.shareStatus = "Private";
    const std::string writeList = Get(engine, nasmib::kFolderWriteList + suffix);
    if (!WriteListAllowsUser(writeList, user))
        return std::nullopt;
    row.userList = writeList;
    return row;
}

} // namespace

bool IsNonEnglishName(const std::string& name)
{
    for (unsigned char b : name) {
        if ((b & 0xF0) == 0xE0)
            return true;
    }
    return false;
}

bool WriteListAllowsUser(const std::string& writeList, const std::string& user)
{
    if (writeList.empty())
        return false;
    if (user == "admin")
        return true;
    size_t start = 0;
    while (start <= writeList.size()) {
        size_t comma = writeList.find(',', start);
        if (comma == std::string::npos)
            comma = writeList.size();
        if (comma > start && writeList.compare(start, comma - start, user) == 0)
            return true;
        start = comma + 1;
    }
    return false;
}

NasDiskCheck CheckNasDisk(const std::string& address, const std::string& community)
{
    CSnmpEngine engine = DeviceEngine(address, community);
    const std::string oid = std::string(nasmib::kDiskStatus) + ".1";
    std::string value;
    int rc = engine.SimpleGet(oid, value);
    if (rc != 0 && rc != SNMP_ENGINE_TIMEOUT) {
        value.clear();
        rc = engine.SimpleGet(oid, value);
    }
    NasDiskCheck check;
    check.status = rc;
    if (rc == 0) {
        check.ready = value == "2";
        if (!check.ready)
            check.message = "NAS HardDisk is not ready for use!";
    } else if (rc == SNMP_ENGINE_TIMEOUT) {
        check.message = "Timeout ,NAS is busy or not connected!";
    } else {
        check.message = "err:" + std::to_string(rc) + " NAS has error!";
    }
    return check;
}

std::vector<NasFolderRow> ReadBackupFolders(const std::string& address, const std::string& community,
                                            const std::string& user, const platform::JobControl& job)
{
    std::vector<NasFolderRow> rows;
    if (job.Stopped())
        return rows;
    CSnmpEngine engine = DeviceEngine(address, community);
    SnmpWalkColumn(engine, nasmib::kFolderShareName, 1, [&](const std::string& oid, const std::string& name) {
        if (!IsNonEnglishName(name))
            if (std::optional<NasFolderRow> row = ReadBackupFolder(engine, oid, name, user))
                rows.push_back(std::move(*row));
        return !job.Stopped();
    });
    return rows;
}
