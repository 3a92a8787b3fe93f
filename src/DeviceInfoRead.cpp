#include "DeviceInfoRead.h"

#include <cctype>
#include <cstdlib>
#include <mutex>

#include "NasMib.h"
#include "SnmpHelpers.h"
#include "y_snmp.h"

namespace {

// Length of every value a read gets.
constexpr unsigned kValueSize = 64;

std::mutex g_hookLock;
DeviceInfoEngineHook g_engineHook;

int ToInt(const std::string& text) { return static_cast<int>(std::strtol(text.c_str(), nullptr, 10)); }

} // namespace

DeviceInfoEngineHook SetDeviceInfoEngineHook(DeviceInfoEngineHook hook)
{
    std::lock_guard<std::mutex> guard(g_hookLock);
    DeviceInfoEngineHook old = std::move(g_engineHook);
    g_engineHook = std::move(hook);
    return old;
}

int ParseFileSystemType(const std::string& text)
{
    size_t b = text.find_first_not_of(" \t");
    if (b == std::string::npos)
        return 0;
    if (std::isdigit(static_cast<unsigned char>(text[b])) || text[b] == '-' || text[b] == '+')
        return ToInt(text);
    std::string name;
    for (size_t i = b; i < text.size() && !std::isspace(static_cast<unsigned char>(text[i])); ++i)
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    if (name == "vfat" || name == "fat32" || name == "fat")
        return 1;
    if (name == "ext2")
        return 2;
    if (name == "ext3")
        return 3;
    return 0;
}

int ReadDeviceInfo(const std::string& address, const std::string& community, DeviceInfoValues& values,
                   const platform::JobControl& job)
{
    CSnmpEngine engine = DeviceEngine(address, community);
    DeviceInfoEngineHook hook;
    {
        std::lock_guard<std::mutex> guard(g_hookLock);
        hook = g_engineHook;
    }
    if (hook)
        hook(engine);

    // One GET of several values. A device that is busy answers noSuchName;
    // the request is made again a few times, not without end.
    auto get = [&](const std::vector<std::string>& oids, std::vector<std::string>& answer, bool retryBusy) -> int {
        const int count = static_cast<int>(oids.size());
        std::vector<const char*> names;
        names.reserve(oids.size());
        for (const std::string& oid : oids)
            names.push_back(oid.c_str());
        std::vector<std::vector<char>> buffers(oids.size(), std::vector<char>(kValueSize, '\0'));
        std::vector<char*> targets;
        targets.reserve(buffers.size());
        for (auto& buffer : buffers)
            targets.push_back(buffer.data());
        for (int attempt = 1;; ++attempt) {
            if (job.Stopped())
                return SNMP_ENGINE_FAILURE;
            int result = engine.MultiGet(count, names.data(), targets.data(), kValueSize);
            if (result == 0) {
                answer.clear();
                for (auto& buffer : buffers)
                    answer.emplace_back(buffer.data());
                return 0;
            }
            if (result != SNMP_ENGINE_NO_SUCH_NAME || !retryBusy || attempt >= kDeviceInfoBusyTries)
                return result;
            if (!job.Pause(kDeviceInfoBusyPauseMs))
                return SNMP_ENGINE_FAILURE;
        }
    };

    std::vector<std::string> v;
    int result = get({nasmib::kDeviceName, nasmib::kFirmwareVersion, nasmib::kBootTime, nasmib::kLanInfo,
                      nasmib::kDiskMode, nasmib::kPackageVersion},
                     v, true);
    if (result != 0)
        return result;
    values.name = v[0];
    values.firmwareVersion = v[1];
    values.bootTime = v[2];
    values.lanInterface = v[3];
    values.diskMode = ToInt(v[4]);
    values.packageVersion = v[5];

    auto readDisk = [&](int disk) -> int {
        const std::string row = std::to_string(disk);
        int r = get({NasCell(nasmib::kDiskStatus, row), NasCell(nasmib::kDiskFsType, row),
                     NasCell(nasmib::kDiskTotalSize, row), NasCell(nasmib::kDiskUsedSize, row)},
                    v, true);
        if (r != 0)
            return r;
        if (ToInt(v[0]) != 0)
            values.rows.push_back({"Disk" + row, ParseFileSystemType(v[1]), ToInt(v[2]), ToInt(v[3])});
        return 0;
    };
    if ((result = readDisk(1)) != 0)
        return result;
    // In a RAID or JBOD mode the two disks are one volume, shown as Disk1.
    if (values.diskMode == 0 && (result = readDisk(2)) != 0)
        return result;

    for (int n = 1; n <= kDeviceInfoMaxUsbRows; ++n) {
        const std::string row = std::to_string(n);
        result = get({NasCell(nasmib::kUsbFsType, row), NasCell(nasmib::kUsbTotalSize, row),
                      NasCell(nasmib::kUsbUsedSize, row), NasCell(nasmib::kUsbIndex, row)},
                     v, false);
        if (result == SNMP_ENGINE_NO_SUCH_NAME)
            break; // past the table's last row
        if (result != 0)
            return result;
        values.rows.push_back(
            {"USB" + std::to_string(ToInt(v[3])), ParseFileSystemType(v[0]), ToInt(v[1]), ToInt(v[2])});
    }
    return job.Stopped() ? SNMP_ENGINE_FAILURE : 0;
}
