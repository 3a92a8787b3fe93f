#pragma once
// A private test network: the test program (the "PC") runs in its own user
// and network namespace (unshare -rn), and device hosts live in child network
// namespaces joined to it by veth pairs through bridges. Addresses come from
// 198.18.0.0/15. Nothing leaves these namespaces; they vanish with the test
// program.
//
//   TOLVANE_PRIVATE_NETWORK();            // at file scope of the test program
//
//   testsupport::TestNetwork net;
//   int lan = net.AddLink({"198.18.1.1/24"});          // PC side: bridge with these addresses
//   int host = net.AddHost(lan, "198.18.1.10/24");     // a device namespace on that link
//   testsupport::Emulator* dev = net.StartEmulator(host, "name = NAS1\nmac = 02:00:00:00:00:01\n");
//   dev->Command("fault silent on");                   // "OK"
//
// Links are bridges with multicast snooping off, so every host on a link and
// the PC hear each other's multicast; rp_filter is off everywhere so a device
// in another subnet can be heard. Each TestNetwork removes its links and ends
// its hosts and emulators when it goes away.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "TestSupport.h"

namespace testsupport {

// Re-executes the running program inside a new user and network namespace
// (unshare -rn, which works unprivileged and as root) unless it runs in one
// made this way already. Aborts when that fails or when the namespace turns
// out not to be a fresh one, so a test never touches a real network.
void EnterPrivateNetwork();

#define TOLVANE_PRIVATE_NETWORK()                                                                                      \
    [[maybe_unused]] static const bool tolvane_private_network_entered_ = (::testsupport::EnterPrivateNetwork(), true)

// One running tolvane-testbed process inside a device host.
class Emulator {
public:
    Emulator(pid_t pid, std::filesystem::path controlPath, std::filesystem::path configPath,
             std::filesystem::path logPath);
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    // Sends one control line and returns the reply line ("OK ...", "ERR ...");
    // "" when the emulator cannot be reached.
    std::string Command(const std::string& line);
    // Command(line) == "OK" (adds a test failure naming the reply otherwise).
    bool Ok(const std::string& line);
    // The value part of "OK <value>" of "get KEY".
    std::string Get(const std::string& key);
    // The fields of "request I" as key -> value.
    std::vector<std::pair<std::string, std::string>> Request(int index);
    std::string RequestField(int index, const std::string& field);
    // The bytes of "web request I" (head and body as the web server read
    // them); "" when there is none.
    std::string WebRequest(int index);
    // Every request the web server read, oldest first (of those it keeps).
    std::vector<std::string> WebRequests();
    // The objects SNMP SETs wrote, "OID TYPE TEXT" each (as "snmp write I").
    std::vector<std::string> SnmpWrites();

    // Ends the emulator ("quit", then SIGKILL if it does not go) and reaps it.
    void Stop();
    bool Running();
    pid_t Pid() const { return m_pid; }
    const std::filesystem::path& ControlPath() const { return m_control; }
    const std::filesystem::path& ConfigPath() const { return m_config; }
    // Its standard output and error so far.
    std::string Log() const;

private:
    // The texts of the last `most` of the numbered records the emulator
    // keeps: "<record>s" counts them, "<record> I" gives one.
    std::vector<std::string> LastRecords(const std::string& record, long most);

    pid_t m_pid;
    std::filesystem::path m_control;
    std::filesystem::path m_config;
    std::filesystem::path m_log;
};

class TestNetwork {
public:
    TestNetwork();
    ~TestNetwork();
    TestNetwork(const TestNetwork&) = delete;
    TestNetwork& operator=(const TestNetwork&) = delete;

    // A new link: a bridge in the PC's namespace carrying the given PC
    // addresses ("198.18.1.1/24"). Returns the link number.
    int AddLink(const std::vector<std::string>& pcAddresses);
    void AddPcAddress(int link, const std::string& cidr);
    // A second PC adapter on the link: a veth pair whose PC end carries cidr
    // and whose other end is a port of the link's bridge. Returns the PC
    // end's interface name.
    std::string AddPcAdapter(int link, const std::string& cidr);
    // Name of the link's interface in the PC's namespace.
    std::string LinkInterface(int link) const;

    // A device host: a new network namespace whose interface "eth0" sits on
    // the link, with that address and optional default gateway. Returns the
    // host number.
    int AddHost(int link, const std::string& cidr, const std::string& gateway = "");
    pid_t HostPid(int host) const;
    // Runs a shell command in the host's namespace; its standard output.
    std::string RunInHost(int host, const std::string& command, int* status = nullptr);
    // A UDP socket of the host's namespace, usable from the test program
    // (a socket stays in the namespace it was made in); -1 on failure.
    int UdpSocketInHost(int host);
    // The host's IPv4 addresses on eth0 ("198.18.1.10/24" ...), as "ip" lists them.
    std::vector<std::string> HostAddresses(int host);

    // Starts a program (argv[0] looked up in PATH) in the host's namespace
    // with its output to log and extra "KEY=VALUE" environment entries; it
    // is killed with the network (and when the test program dies).
    pid_t SpawnInHost(int host, const std::vector<std::string>& argv, const std::filesystem::path& log,
                      const std::vector<std::string>& environment = {});
    // Ends a program SpawnInHost started (SIGTERM, then SIGKILL) and reaps it.
    void EndInHost(pid_t pid);

    // Starts tolvane-testbed in the host's namespace with that config text
    // and extra options, and waits until its control channel answers.
    // Adds a fatal test failure and returns null when it does not start.
    Emulator* StartEmulator(int host, const std::string& config, const std::vector<std::string>& options = {});

    const TempDir& Dir() const { return m_dir; }

private:
    struct Host {
        pid_t pid;
        int link;
    };
    TempDir m_dir;
    std::vector<std::string> m_links;
    std::vector<Host> m_hosts;
    std::vector<std::unique_ptr<Emulator>> m_emulators;
    std::vector<pid_t> m_spawned;
    int m_id;
    int m_adapters = 0;
    std::vector<std::string> m_adapterNames;
};

// Runs a shell command in the PC's namespace; fails the test when it fails.
std::string MustRun(const std::string& command);
// A dotted address as the program keeps it (network order); a test failure
// when the text is no address.
uint32_t Ip(const char* text);

} // namespace testsupport
