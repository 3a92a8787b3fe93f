#pragma once
// One emulated device in a private test network, seen from the PC: the
// emulator in its own host on 198.18.1.0/24 (SNMP on UDP 161, the web server
// on its port, the UDP service), and the PC's ways to reach it through the
// program's own code (discovery and logins over UDP, CSnmpEngine, the
// program-wide context the SNMP helpers and form posts read).
//
//   TOLVANE_PRIVATE_NETWORK();   // once per test program
//   testsupport::EmulatedNas nas("user = admin:pw:15\n");
//   std::string community;
//   ASSERT_EQ(nas.Login("admin", "pw", &community), 0);
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "NasInfo.h"
#include "TestNetwork.h"
#include "y_snmp.h"

namespace testsupport {

// The config lines that keep the device's disks in dir/disk1 and dir/disk2
// (the emulator makes the folders).
std::string DiskRoots(const std::filesystem::path& dir);

class EmulatedNas {
public:
    static constexpr const char* kPcAddress = "198.18.1.1";
    static constexpr const char* kAddress = "198.18.1.10";

    // Starts the emulator with the config text (and options); a fatal test
    // failure when it does not start (check Started()).
    explicit EmulatedNas(const std::string& config, const std::vector<std::string>& options = {});
    ~EmulatedNas();

    bool Started() const { return dev != nullptr; }

    // Discovery of this device (all devices asked, short wait): false when
    // it did not answer.
    bool Discover(NasInfo& out, int timeoutMs = 400);
    // Discover, failing the test when the device does not answer.
    NasInfo Find();
    // Op 4 for "admin", op 10 for anybody else, as the program logs in. The
    // requests of Login, Progress and Status go to the record the last
    // discovery found (one is made when there is none yet).
    int Login(const std::string& user, const std::string& password, std::string* community = nullptr);
    // Op 6 and op 8.
    int Progress(unsigned* done, unsigned* total, int timeoutMs = 1000);
    int Status(int timeoutMs = 1000);

    // Logs in and points the program-wide context at the device as the
    // program does after a login (address, MAC, user, password, community).
    void LogInContext(const std::string& user, const std::string& password);
    // An engine aimed at the device: 0.5 s per try, no retry.
    CSnmpEngine Engine(const std::string& community) const;
    // Runs a net-snmp tool (snmpget, snmpwalk, snmpset) at the device:
    // "-v1 -c COMMUNITY -On -t 1 -r 1 198.18.1.10 ARGS"; its output, 2>&1.
    std::string Tool(const std::string& tool, const std::string& community, const std::string& args,
                     int* status = nullptr, const std::string& timing = "-t 1 -r 1") const;

    // The options of Tool, for requests that are meant to time out.
    static constexpr const char* kQuickTool = "-t 0.3 -r 0";

    TestNetwork net;
    int link = -1;
    int host = -1;
    Emulator* dev = nullptr;

private:
    bool Known(NasInfo& info);
    // Runs one request at the known record with the finder's table open
    // (on the real clock); a time-out when the device is not known.
    int Ask(const std::function<int(NasInfo*)>& request);
    bool m_known = false;
    NasInfo m_info{};
};

} // namespace testsupport
