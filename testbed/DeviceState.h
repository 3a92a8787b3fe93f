#pragma once
// The emulated device's state: what it reports, who may log in, and the
// faults a test has switched on. One object per emulator process, shared by
// its services (UDP responder, SNMP agent, web CGI, rsync); every access goes
// through the object's mutex.
//
// Settings (config file lines "key = value", "#" starts a comment line;
// options --set key=value; control command "set key value"):
//   name           device name                              default "TOLVANE-NAS"
//   mac            XX:XX:XX:XX:XX:XX                        default 02:00:5E:10:00:01
//   disk1, disk2   disk states as the device reports them: -10 not ready, -2 unformatted,
//                  -1 formatting, 0 no disk, 1 package not installed, 2 ready
//                                                           defaults 2 and 0
//   community      SNMP community handed out at login       default "public"
//   firmware       firmware version text                    default "2.00.00"
//   user           name:password:level; repeatable, adds or replaces that user.
//                  "admin" is the administrator (opcodes 2 and 4 check its password).
//                  default: admin:admin:15
//   remove_user    name
//   address, mask, gateway   reported network settings (dotted); the set-network
//                  opcode updates them
//   dhcp_address, dhcp_mask, dhcp_gateway   what a DHCP request would obtain;
//                  dhcp_address 0.0.0.0 (default) means DHCP gets nothing
//   apply_network  1: a set-network request really re-addresses the interface it
//                  came in on (only sensible inside a private network namespace)
//   answer_groups  comma-separated multicast groups whose requests are answered
//                  (unicast requests are always answered)  default "224.0.0.1"
//   progress       answers to progress requests, "status:done:total" separated by
//                  ","; each request takes the next, the last one repeats
//                  default "0:0:0"
//   install_status answers to status requests, "status" separated by ","; each
//                  request takes the next, the last one repeats  default "0"
// Any other key is kept as it stands and can be read with Setting(), so later
// services can take their own settings from the same file.
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace testbed {

struct UserAccount {
    std::string name;
    std::string password;
    int level = 0;
};

// Faults of the UDP service (control command "fault").
struct UdpFaults {
    bool silent = false;              // answer nothing
    bool otherMac = false;            // replies carry mac below
    unsigned char mac[6] = {};
    bool otherInterface = false;      // replies carry interfaceAddress in bytes 7-10
    uint32_t interfaceAddress = 0;    // network order
    int shortLength = -1;             // >= 0: replies are cut to this many bytes
    int status = -1;                  // >= 0: status byte of every reply that has one
    int delayMs = 0;                  // wait this long before answering
};

struct ProgressAnswer {
    int status = 0;
    uint32_t done = 0;
    uint32_t total = 0;
};

// One request the UDP service received (and answered or not).
struct RequestRecord {
    int op = -1;
    uint32_t source = 0;          // network order
    uint32_t destination = 0;     // network order
    unsigned char mac[6] = {};    // bytes 1-6 (zero when the request is shorter)
    std::string payload;          // Base64 payload text as received (opcodes 2, 4, 10)
    uint32_t ip = 0, mask = 0, gateway = 0; // opcode 2
    bool answered = false;
};

struct DeviceData {
    std::string name = "TOLVANE-NAS";
    unsigned char mac[6] = {0x02, 0x00, 0x5E, 0x10, 0x00, 0x01};
    int disk1 = 2;
    int disk2 = 0;
    std::string community = "public";
    std::string firmware = "2.00.00";
    std::vector<UserAccount> users{{"admin", "admin", 15}};
    uint32_t address = 0, mask = 0, gateway = 0;
    uint32_t dhcpAddress = 0, dhcpMask = 0, dhcpGateway = 0;
    bool applyNetwork = false;
    std::vector<uint32_t> answerGroups;
    std::deque<ProgressAnswer> progress;
    ProgressAnswer lastProgress;
    std::deque<int> installStatus;
    int lastInstallStatus = 0;
    UdpFaults faults;
    std::vector<RequestRecord> requests;
    std::map<std::string, std::string> settings; // every key as last given

    const UserAccount* FindUser(const std::string& name) const;
};

class DeviceState {
public:
    DeviceState();
    DeviceState(const DeviceState&) = delete;
    DeviceState& operator=(const DeviceState&) = delete;

    // Applies one setting; false with a reason for a bad value.
    bool Set(const std::string& key, const std::string& value, std::string* error = nullptr);
    // The current value of a setting in the form Set takes; "" when unknown.
    std::string Get(const std::string& key) const;
    // Reads "key = value" lines; false with the line's reason on the first bad one.
    bool LoadFile(const std::string& path, std::string* error = nullptr);
    // A raw setting (for settings this class does not know itself).
    std::string Setting(const std::string& key, const std::string& fallback = "") const;

    // Runs f with the state locked and returns its result.
    template <class F>
    auto With(F f)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return f(m_data);
    }
    template <class F>
    auto With(F f) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return f(m_data);
    }
    DeviceData Snapshot() const;

    // Pops the next progress / install status answer (the last one repeats).
    ProgressAnswer NextProgress();
    int NextInstallStatus();

private:
    mutable std::mutex m_mutex;
    DeviceData m_data;
};

// Helpers shared by the emulator's pieces.
std::string Trim(const std::string& s);
bool ParseInt(const std::string& text, long long low, long long high, long long& value);

} // namespace testbed
