#pragma once
// The whole emulated device: its management objects (MibStore), served by
// the SNMP agent and changed by the web CGI's forms, the web server, and the
// device's two long jobs, disk formatting and package installation, with the
// reboot that follows an install. The UDP service (UdpResponder) runs beside
// it over the same DeviceState, which keeps the name, firmware, disk states
// and users in the store, so every service sees one device.
//
// Settings read from the DeviceState (config file, --set, control "set"):
//   snmp_port         UDP port of the SNMP agent                 default 161
//   web_port          TCP port of the web server, reported as 20.11.0 (0: any free one)
//                                                                default 80
//   format_ms         how long a disk initialisation takes       default 10000
//   after_format      the state formatted disks end in: 2 ready, 1 package not
//                     installed (then an install makes them ready) default 2
//   package_file      the package the device accepts: an upload must hold exactly
//                     these bytes
//   package_size      without package_file: the size an upload must have; with
//                     neither, any non-empty upload is accepted
//   install_check_ms  how long checking an uploaded package takes default 2000
//   reboot_ms         how long the device is silent while it reboots after an
//                     install (UDP, SNMP and web answer nothing) default 15000
//   reboot_wait_ms    the reboot starts once a status request has been answered
//                     "installed" (0), or this long after the check at the latest
//                                                                default 10000
//
// The jobs, as the UDP protocol reports them:
//   progress (op 6)  while formatting: status 1 (disk 1) or 3 (disk 2) in individual
//                    mode, 5 for a RAID or JBOD set, with done and total counters in
//                    MB; 0 once every disk is done. Before any format the scripted
//                    answers of the "progress" setting.
//   status (op 8)    1 while checking a package, 0 installed, 2 the bytes are not
//                    the expected package, 3 busy (a format or a check is running).
//                    Before any upload the scripted "install_status" answers.
//   Formatting disks read -1 in discovery and in the SNMP disk table; each disk
//   ends in after_format when its part is done. A reboot turns disks in state 1
//   into 2 and sets a new boot time.
//
// Control commands (RegisterCommands), besides those of DeviceCommands.h:
//   snmp silent on|off           drop every request
//   snmp drop N                  drop the next N requests
//   snmp nosuchname PREFIX|off   noSuchName for objects under PREFIX
//   snmp fail COUNT [SKIP]       after SKIP requests, COUNT answered noSuchName
//   snmp nonincreasing on|off    GETNEXT answers the OID it was asked
//   snmp clear                   every SNMP fault off (not silence)
//   snmp port                    OK <port>
//   snmp requests                OK <received> <answered>
//   snmp writes                  OK <number of objects written by SETs>
//   snmp write I                 OK <oid> <type> <text>  the I-th object a SET wrote
//                                (from 0; -1 the last; the last 256 are kept)
//   web fault none|silent|late MS|noapply [PAGE]|unauthorized|split|refuse
//                  (noapply PAGE: only forms to pages whose path holds PAGE)
//   web port                     OK <port>
//   web requests                 OK <number of requests read whole>
//   web request I                OK <Base64 of the I-th request: head and Content-Length body,
//                                as the client sent them> (from 0; -1 the last; the last 32 are kept)
//   web stats                    OK connections=N requests=N forms=N packages=N
//   mib get OID                  OK <type> <text>  (type i, s, c, u, t, a, o, x as snmpset names them)
//   mib set OID i|s VALUE        writes an INTEGER or OCTET STRING
//   mib del OID                  removes one object
//   mib rows COLUMN              OK <row>,<row>,...  rows of a table column
//   job                          OK format=<idle|running|done> progress=<s>:<done>:<total>
//                                install=<none|checking|installed|bad|busy|rebooting|done>
//                                (installed: checked, reboot to come; done: rebooted)
//   reboot [MS]                  reboots now (silent for MS, default reboot_ms)
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ControlChannel.h"
#include "DeviceState.h"
#include "FormParser.h"
#include "MibStore.h"
#include "SnmpAgent.h"
#include "WebServer.h"

namespace testbed {

class EmulatedDevice {
public:
    // Attaches the state to the device's objects (DeviceState::AttachStore):
    // create the device before loading the configuration, so its table
    // settings land in the store.
    explicit EmulatedDevice(DeviceState& state);
    ~EmulatedDevice();
    EmulatedDevice(const EmulatedDevice&) = delete;
    EmulatedDevice& operator=(const EmulatedDevice&) = delete;

    struct Options {
        bool snmp = true;
        std::string snmpAddress = "0.0.0.0";
        int snmpPort = -1; // -1: the snmp_port setting
        bool web = true;
        std::string webAddress = "0.0.0.0";
        int webPort = -1; // -1: the web_port setting
    };
    // Starts the SNMP agent, the web server and the job clock.
    bool Start(const Options& options, std::string* error);
    void Stop();

    void RegisterCommands(ControlChannel& channel);

    // What the web CGI does with a form and an upload (also callable directly).
    bool ApplyForm(const std::string& page, const std::vector<FormCell>& cells, std::string* error = nullptr);
    void ReceivePackage(const std::string& package);
    // Starts the reboot silence now.
    void Reboot(int silentMs);

    // "format=... progress=... install=..." as the job command answers.
    std::string JobText();

    MibStore& Store() { return m_store; }
    SnmpAgent& Agent() { return m_agent; }
    WebServer& Web() { return m_web; }

private:
    using Clock = std::chrono::steady_clock;
    struct Phase {
        int status;             // progress status while this part runs
        std::vector<int> disks; // disks it formats
        uint32_t total;         // progress total (MB)
    };
    // Installed: the check passed, the reboot is to come; Done: rebooted.
    enum class Install { None, Checking, Installed, Bad, Busy, Rebooting, Done };

    bool StartFormat(int fsNumber, int diskMode, std::string* error);
    bool ProgressAnswerOf(ProgressAnswer& answer);
    bool StatusAnswerOf(int& status);
    void Tick();
    void RunClock();
    bool PackageAccepted(const std::string& package) const;
    void BeginReboot(int silentMs);
    void EndReboot();
    std::string WebCommand(const std::string& args);
    std::string SnmpCommand(const std::string& args);
    std::string MibCommand(const std::string& args);

    DeviceState& m_state;
    MibStore m_store;
    SnmpAgent m_agent{m_store};
    WebServer m_web;

    std::mutex m_jobLock;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_clock;
    // Format job.
    bool m_formatRan = false; // a format was started since the device came up
    bool m_formatRunning = false;
    std::vector<Phase> m_phases;
    size_t m_phasesDone = 0;
    Clock::time_point m_formatStart;
    int m_phaseMs = 0;
    std::string m_fsText;
    // Install job.
    Install m_install = Install::None;
    Clock::time_point m_installSince;
    std::string m_package;
    bool m_packageGood = false;
    bool m_reported = false; // "installed" answered to a status request
    Clock::time_point m_reportedAt;
    Clock::time_point m_rebootEnd;
    WebServer::Fault m_webFaultBeforeReboot = WebServer::Fault::None;
    unsigned m_webLateBeforeReboot = 0;
};

} // namespace testbed
