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
//                                                           defaults 2 and 2
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
//   ignore_network 1: a set-network request is answered but changes nothing (the
//                  device stays where it is)
//   answer_groups  comma-separated multicast groups whose requests are answered
//                  (unicast requests are always answered)  default "224.0.0.1"
//   progress       answers to progress requests, "status:done:total" separated by
//                  ","; each request takes the next, the last one repeats
//                  default "0:0:0"
//   install_status answers to status requests, "status" separated by ","; each
//                  request takes the next, the last one repeats  default "0"
//
// Once the state is attached to the device's management objects
// (AttachStore), the device name, firmware version, disk states and user
// accounts live in those objects only: the SNMP agent serves them, the web
// forms and SNMP SETs change them, and the UDP service reads them from there.
// These keys then also write the tables:
//   user           name:password:level[:groups]  (the user table row; new users take
//                  the next free index)
//   disk1_size, disk2_size   TOTAL_MB[:USED_MB[:FS]]  the disk table's sizes and
//                  file-system number as text ("1" FAT32, "2" ext2, "3" ext3)
//   folder         INDEX:SHARE[:LOCATION[:TYPE[:READLIST[:WRITELIST]]]]  TYPE 1 open to all,
//                  2 only to the lists' entries ("user," or "@group,")
//   usb            INDEX:TOTAL:USED[:FS]
//   group          INDEX:NAME[:USERLIST]
//   quota          INDEX:NAME:DISK:SIZE_MB:TYPE  (TYPE 0 a user's, 1 a group's)
//                  folder, usb, group and quota are repeatable; the first line of a
//                  kind replaces that table's default rows, "none" empties it
//   disk_mode      21.9.0: 0 individual disks, 1 RAID 1, 2 RAID 1 broken, 3 RAID 0, 4 JBOD
//   format_state   21.11.0  (0 free choice, 1 individual disks fixed, 2 RAID 1 fixed)
//   no_quota_disk2 21.13.0
//   web_port       20.11.0, the web server's port (the device serves on it; default 80)
//   package_version, boot_time, device_state   20.46.0, 20.40.0, 20.2.0 texts
//   mib            OID i|s VALUE: any object, INTEGER or OCTET STRING
// Any other key is kept as it stands and can be read with Setting(), so the
// services take their own settings from the same file (see EmulatedDevice.h).
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace testbed {

class MibStore;

struct UserAccount {
    std::string name;
    std::string password;
    int level = 0;
    std::string groups; // "staff," (the user table's group column)
};

// Faults of the UDP service (control command "fault").
struct UdpFaults {
    bool silent = false;   // answer nothing
    bool otherMac = false; // replies carry mac below
    unsigned char mac[6] = {};
    bool otherInterface = false;   // replies carry interfaceAddress in bytes 7-10
    uint32_t interfaceAddress = 0; // network order
    int shortLength = -1;          // >= 0: replies are cut to this many bytes
    int status = -1;               // >= 0: status byte of every reply that has one
    int delayMs = 0;               // wait this long before answering
    bool rawLoginText = false;     // login replies carry loginText as it stands
    std::string loginText;         //   instead of the community's Base64
    int padBytes = 0;              // zero bytes appended to every reply
};

struct ProgressAnswer {
    int status = 0;
    uint32_t done = 0;
    uint32_t total = 0;
};

// One request the UDP service received (and answered or not).
struct RequestRecord {
    int op = -1;
    uint32_t source = 0;                    // network order
    uint32_t destination = 0;               // network order
    unsigned char mac[6] = {};              // bytes 1-6 (zero when the request is shorter)
    std::string payload;                    // Base64 payload text as received (opcodes 2, 4, 10)
    uint32_t ip = 0, mask = 0, gateway = 0; // opcode 2
    bool answered = false;
};

struct DeviceData {
    std::string name = "TOLVANE-NAS";
    unsigned char mac[6] = {0x02, 0x00, 0x5E, 0x10, 0x00, 0x01};
    int disk1 = 2;
    int disk2 = 2;
    std::string community = "public";
    std::string firmware = "2.00.00";
    std::vector<UserAccount> users{{"admin", "admin", 15, "staff,"}};
    uint32_t address = 0, mask = 0, gateway = 0;
    uint32_t dhcpAddress = 0, dhcpMask = 0, dhcpGateway = 0;
    bool applyNetwork = false;
    std::vector<uint32_t> answerGroups;
    std::deque<ProgressAnswer> progress;
    ProgressAnswer lastProgress;
    std::deque<int> installStatus;
    int lastInstallStatus = 0;
    UdpFaults faults;
    bool rebooting = false; // no service answers
    std::vector<RequestRecord> requests;
    std::map<std::string, std::string> settings; // every key as last given

    const UserAccount* FindUser(const std::string& name) const;
};

class DeviceState {
public:
    // Answers of a running job to progress or status requests; false when no
    // job has an answer (the scripted answers are used then).
    using ProgressSource = std::function<bool(ProgressAnswer& answer)>;
    using StatusSource = std::function<bool(int& status)>;
    // Told the key after every successful Set (the state's lock released).
    using ChangeListener = std::function<void(const std::string& key)>;

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
    // A setting read as an integer within [low, high]; fallback when unset or bad.
    long long IntSetting(const std::string& key, long long fallback, long long low, long long high) const;

    // Fills the store with the device's tables (the defaults of
    // NasDescription, the name, firmware, disks and users held so far) and
    // from then on keeps those values there only. Call once, before the
    // services start; the store must outlive this object.
    void AttachStore(MibStore& store);
    MibStore* Store() const { return m_store; }

    // The account of a user, from the store once attached.
    std::optional<UserAccount> FindUser(const std::string& name) const;
    // Disk state of disk 1 or 2 (0 when the disk has no row).
    int DiskState(int disk) const;
    void SetDiskState(int disk, int state);
    // The device's network settings changed (set-network); also updates the
    // LAN interface text the device reports.
    void SetNetwork(uint32_t address, uint32_t mask, uint32_t gateway);

    // Runs f with the state locked and returns its result. Once a store is
    // attached, the name, firmware, disk and user fields of DeviceData are
    // not used: read them through Snapshot, FindUser or DiskState.
    template <class F> auto With(F f)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return f(m_data);
    }
    template <class F> auto With(F f) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return f(m_data);
    }
    // A copy of the state, with the store's name, firmware, disks and users.
    DeviceData Snapshot() const;

    // The next progress / install status answer: a job's when it has one,
    // else the next scripted one (the last one repeats).
    ProgressAnswer NextProgress();
    int NextInstallStatus();
    void SetJobSources(ProgressSource progress, StatusSource status);
    void SetChangeListener(ChangeListener listener);

private:
    bool SetLocked(const std::string& key, const std::string& value, std::string* error);
    bool SetStored(const std::string& key, const std::string& value, std::string* error);
    void Overlay(DeviceData& d) const;

    mutable std::mutex m_mutex;
    DeviceData m_data;
    MibStore* m_store = nullptr;
    std::set<std::string> m_tablesGiven; // tables whose default rows a setting replaced
    ProgressSource m_progressSource;
    StatusSource m_statusSource;
    ChangeListener m_listener;
};

// Helpers shared by the emulator's pieces.
std::string Trim(const std::string& s);
bool ParseInt(const std::string& text, long long low, long long high, long long& value);

} // namespace testbed
