#pragma once
// The device work of the discovery dialog, widget-free, for a worker: a scan,
// waiting for a device that is starting up, the login (with its firmware
// check) and a new network configuration. Each returns a code: kDiscoveryOk,
// kDiscoveryOtherSubnet, kDiscoveryBackToList, kDiscoveryNoDhcpAddress, or a
// negative protocol code (FINDER_ERR_*); 0 when nothing happened.
#include <cstdint>
#include <string>

#include "Job.h"
#include "NasInfo.h"

class CNasDiscovery;

// Waits and time-outs of the device exchanges, on the program's clock.
inline constexpr int kDiscoveryScanMs = 3000;       // one discovery scan
inline constexpr int kDiscoveryLoginMs = 3000;      // login request
inline constexpr int kDiscoverySetNetworkMs = 6000; // set-network request
inline constexpr int kDiscoveryDhcpWaitMs = 4000;   // pause before each look for a re-addressed device
inline constexpr int kDiscoveryDhcpRounds = 4;

inline constexpr int kDiscoveryOk = 1;
inline constexpr int kDiscoveryOtherSubnet = 2;
inline constexpr int kDiscoveryBackToList = 100;
inline constexpr int kDiscoveryNoDhcpAddress = 717;

// What a job learnt besides its code.
struct DiscoveryResult {
    int code = 0;
    NasInfo record{}; // the device as the job last saw it
    bool recordValid = false;
    std::string community; // of a login
};

// A scan for every device (macText empty) or for the device with that MAC,
// into discovery.
int DiscoveryScan(CNasDiscovery& discovery, const std::string& macText, bool oneDevice,
                  const platform::JobControl& job);
// Rediscovers the device until it reports a disk-1 state other than -10.
DiscoveryResult DiscoveryWaitReady(const NasInfo& record, const platform::JobControl& job);
// Logs in as user; "admin" uses the administrator's request. A device in the
// PC's subnet is waited for and its firmware checked (a box tells a refusal).
DiscoveryResult DiscoveryLogin(NasInfo record, const std::string& user, const std::string& password,
                               const platform::JobControl& job);
// Gives the device a static address, or (automatic) lets it ask DHCP and
// looks for it in the PC's subnet.
DiscoveryResult DiscoveryConfigureNetwork(NasInfo record, bool automatic, uint32_t ip, uint32_t mask, uint32_t gateway,
                                          const std::string& password, const platform::JobControl& job);
