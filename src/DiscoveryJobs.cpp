#include "DiscoveryJobs.h"

#include <cstring>
#include <utility>

#include "MessageBox.h"
#include "NasDiscovery.h"
#include "NasFinder.h"
#include "NasMib.h"
#include "SnmpHelpers.h"
#include "stdafx.h"

namespace {

const char kLowestFirmware[] = "2.00.00";

// Rediscovers the device until it reports a disk-1 state other than -10:
// kDiscoveryOk with the record, else a negative protocol code.
int WaitUntilReady(const unsigned char mac[6], NasInfo& record, const platform::JobControl& job)
{
    CNasDiscovery discovery;
    discovery.m_timeout = kDiscoveryScanMs;
    for (;;) {
        if (job.Stopped())
            return FINDER_ERR_TIMEOUT;
        int found = discovery.DiscoverByMac(mac);
        if (found < 0)
            return found;
        if (found == 0)
            return FINDER_ERR_TIMEOUT;
        const NasInfo* rec = discovery.FindByMac(mac);
        if (rec != nullptr && rec->disk1State != -10) {
            record = *rec;
            return kDiscoveryOk;
        }
    }
}

// A record of a device that is still starting (disk-1 state -10) replaced
// by its record once it is ready; false when it did not get ready.
bool ReadyRecord(NasInfo& record, const platform::JobControl& job)
{
    if (record.disk1State != -10)
        return true;
    NasInfo ready{};
    if (WaitUntilReady(record.mac, ready, job) != kDiscoveryOk)
        return false;
    record = ready;
    return true;
}

// A job's result once it ends with the device as record.
DiscoveryResult Succeeded(DiscoveryResult out, const NasInfo& record)
{
    out.record = record;
    out.recordValid = true;
    out.code = kDiscoveryOk;
    return out;
}

} // namespace

int DiscoveryScan(CNasDiscovery& discovery, const std::string& macText, bool oneDevice, const platform::JobControl&)
{
    discovery.m_timeout = kDiscoveryScanMs;
    if (!oneDevice) {
        discovery.DiscoverAll();
        return kDiscoveryOk;
    }
    unsigned char mac[6];
    if (!StringToMac(macText, mac)) {
        discovery.Clear();
        return FINDER_ERR_TIMEOUT;
    }
    int found = discovery.DiscoverByMac(mac);
    if (found < 0)
        return found;
    return found > 0 ? kDiscoveryOk : FINDER_ERR_TIMEOUT;
}

DiscoveryResult DiscoveryWaitReady(const NasInfo& record, const platform::JobControl& job)
{
    DiscoveryResult out;
    out.code = WaitUntilReady(record.mac, out.record, job);
    out.recordValid = out.code == kDiscoveryOk;
    return out;
}

DiscoveryResult DiscoveryLogin(NasInfo record, const std::string& user, const std::string& password,
                               const platform::JobControl& job)
{
    DiscoveryResult out;
    int rc = FinderInit();
    if (rc != 0) {
        out.code = rc;
        return out;
    }
    char community[256] = {};
    if (user == "admin")
        rc = FinderQuery(&record, password.c_str(), kDiscoveryLoginMs, community);
    else
        rc = FinderQuery2(&record, user.c_str(), password.c_str(), kDiscoveryLoginMs, community);
    FinderCleanup();
    if (rc != 0) {
        out.code = rc;
        return out;
    }
    community[sizeof community - 1] = '\0';
    out.community = community;

    if (!record.IsSameSubnet()) {
        out.code = kDiscoveryOtherSubnet;
        return out;
    }

    if (!ReadyRecord(record, job)) {
        out.code = FINDER_ERR_TIMEOUT;
        return out;
    }

    // The firmware is checked against the new login before anything of it
    // reaches the context: a refused device leaves the current login alone.
    LoginCopy candidate;
    candidate.address = IpToString(record.deviceAddress);
    candidate.community = out.community;
    std::string version;
    SnmpGetWithRetry(candidate, nasmib::kFirmwareVersion, version);
    if (version.empty()) {
        platform::MessageBox("NAS is not ready, try again later.", platform::MB_ICONEXCLAMATION);
        out.code = kDiscoveryBackToList;
        return out;
    }
    if (std::strcmp(version.c_str(), kLowestFirmware) < 0) {
        platform::MessageBox("Please upgrade NAS firmware, this is old version.", platform::MB_ICONEXCLAMATION);
        out.code = kDiscoveryBackToList;
        return out;
    }
    return Succeeded(std::move(out), record);
}

DiscoveryResult DiscoveryConfigureNetwork(NasInfo record, bool automatic, uint32_t ip, uint32_t mask, uint32_t gateway,
                                          const std::string& password, const platform::JobControl& job)
{
    DiscoveryResult out;
    if (automatic)
        ip = mask = gateway = 0; // the device asks DHCP
    int rc = FinderInit();
    if (rc != 0) {
        out.code = rc;
        return out;
    }
    rc = FinderSetNetwork(&record, ip, mask, gateway, password.c_str(), kDiscoverySetNetworkMs);
    FinderCleanup();
    if (rc != 0) {
        out.code = rc;
        return out;
    }

    if (automatic) {
        // Looks for the device in the PC's subnet while it obtains its address.
        bool seen = false;
        bool arrived = false;
        for (int round = 0; round < kDiscoveryDhcpRounds && !arrived; ++round) {
            if (!job.Pause(kDiscoveryDhcpWaitMs))
                break;
            CNasDiscovery discovery;
            discovery.m_timeout = kDiscoveryScanMs;
            if (discovery.DiscoverByMac(record.mac) <= 0)
                continue;
            const NasInfo* rec = discovery.FindByMac(record.mac);
            if (rec == nullptr)
                continue;
            seen = true;
            if (rec->IsSameSubnet()) {
                record = *rec;
                arrived = true;
            }
        }
        if (!arrived) {
            out.code = seen ? kDiscoveryNoDhcpAddress : FINDER_ERR_TIMEOUT;
            return out;
        }
    } else {
        record.deviceAddress = ip;
    }

    if (!ReadyRecord(record, job)) {
        out.code = FINDER_ERR_TIMEOUT;
        return out;
    }
    return Succeeded(std::move(out), record);
}
