#include "TestNetwork.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "stdafx.h"

namespace testsupport {

namespace {

constexpr const char* kMark = "TOLVANE_PRIVATE_NETWORK";
constexpr const char* kOuter = "TOLVANE_OUTER_NETNS";

[[noreturn]] void Die(const std::string& why)
{
    std::fprintf(stderr, "test network: %s\n", why.c_str());
    std::fflush(stderr);
    std::_Exit(3);
}

std::string NetnsId(const char* path = "/proc/self/ns/net")
{
    char buf[128] = {};
    ssize_t n = readlink(path, buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
}

std::string ShellQuote(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

void WriteSysctl(const std::string& path, const char* value)
{
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    (void)!write(fd, value, std::strlen(value));
    close(fd);
}

void RpFilterOff()
{
    WriteSysctl("/proc/sys/net/ipv4/conf/all/rp_filter", "0");
    WriteSysctl("/proc/sys/net/ipv4/conf/default/rp_filter", "0");
}

// Enters the network namespace of pid; used in forked children only.
bool JoinNamespace(pid_t pid)
{
    std::string path = "/proc/" + std::to_string(pid) + "/ns/net";
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = setns(fd, CLONE_NEWNET) == 0;
    close(fd);
    return ok;
}

int g_nextNetwork = 0;

} // namespace

void EnterPrivateNetwork()
{
    static bool checked = false;
    if (checked)
        return;
    const char* mark = std::getenv(kMark);
    if (mark && std::strcmp(mark, "1") == 0) {
        // Re-executed: this must be a new namespace holding nothing but lo.
        const char* outer = std::getenv(kOuter);
        if (!outer || NetnsId() == outer || NetnsId().empty())
            Die("not in a private network namespace");
        struct if_nameindex* names = if_nameindex();
        for (struct if_nameindex* n = names; n && n->if_index != 0; ++n)
            if (std::strcmp(n->if_name, "lo") != 0)
                Die(std::string("private namespace already holds ") + n->if_name);
        if (names)
            if_freenameindex(names);
        checked = true;
        return;
    }

    char exe[4096] = {};
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        Die("cannot find the test program");
    const std::vector<std::string> args = ListEntries(ReadFile("/proc/self/cmdline"), '\0');
    std::vector<std::string> argvText = {"unshare", "-rn", "--", exe};
    for (size_t i = 1; i < args.size(); ++i)
        argvText.push_back(args[i]);
    std::vector<char*> argv;
    argv.reserve(argvText.size() + 1);
    for (std::string& a : argvText)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    setenv(kMark, "1", 1);
    setenv(kOuter, NetnsId().c_str(), 1);
    std::string path = "/usr/sbin:/sbin:";
    path += std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    setenv("PATH", path.c_str(), 1);
    std::fflush(nullptr);
    execvp("unshare", argv.data());
    Die(std::string("cannot run unshare: ") + std::strerror(errno));
}

uint32_t Ip(const char* text)
{
    uint32_t a = 0;
    EXPECT_TRUE(StringToIp(text, a)) << text;
    return a;
}

std::string MustRun(const std::string& command)
{
    int status = 0;
    std::string out = RunCommand(command + " 2>&1", &status);
    EXPECT_EQ(status, 0) << command << ": " << out;
    return out;
}

// ---------------------------------------------------------------------------
// Emulator

Emulator::Emulator(pid_t pid, std::filesystem::path controlPath, std::filesystem::path configPath,
                   std::filesystem::path logPath)
    : m_pid(pid)
    , m_control(std::move(controlPath))
    , m_config(std::move(configPath))
    , m_log(std::move(logPath))
{}

Emulator::~Emulator() { Stop(); }

std::string Emulator::Command(const std::string& line)
{
    int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return "";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = m_control.string();
    if (path.size() >= sizeof addr.sun_path) {
        close(s);
        return "";
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    std::string reply;
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        std::string text = line + "\n";
        if (send(s, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size())) {
            char c;
            while (read(s, &c, 1) == 1 && c != '\n')
                reply += c;
        }
    }
    close(s);
    return reply;
}

bool Emulator::Ok(const std::string& line)
{
    std::string reply = Command(line);
    EXPECT_EQ(reply, "OK") << "emulator command: " << line;
    return reply == "OK";
}

std::string Emulator::Get(const std::string& key)
{
    std::string reply = Command("get " + key);
    if (reply.rfind("OK", 0) != 0)
        return "";
    return reply.size() > 3 ? reply.substr(3) : "";
}

std::vector<std::pair<std::string, std::string>> Emulator::Request(int index)
{
    std::vector<std::pair<std::string, std::string>> fields;
    std::string reply = Command("request " + std::to_string(index));
    if (reply.rfind("OK ", 0) != 0)
        return fields;
    std::istringstream in(reply.substr(3));
    std::string item;
    while (in >> item) {
        size_t eq = item.find('=');
        if (eq != std::string::npos)
            fields.emplace_back(item.substr(0, eq), item.substr(eq + 1));
    }
    return fields;
}

std::string Emulator::RequestField(int index, const std::string& field)
{
    for (auto& [k, v] : Request(index))
        if (k == field)
            return v;
    return "";
}

std::string Emulator::WebRequest(int index)
{
    std::string reply = Command("web request " + std::to_string(index));
    return reply.rfind("OK ", 0) == 0 ? Base64Decode(reply.substr(3)) : std::string();
}

namespace {
// The number in "OK N".
long CountOf(const std::string& reply)
{
    return reply.rfind("OK ", 0) == 0 ? std::strtol(reply.c_str() + 3, nullptr, 10) : 0;
}
} // namespace

std::vector<std::string> Emulator::LastRecords(const std::string& record, long most)
{
    std::vector<std::string> out;
    const long total = CountOf(Command(record + "s"));
    for (long i = std::max(0L, total - most); i < total; ++i) {
        std::string reply = Command(record + " " + std::to_string(i));
        if (reply.rfind("OK ", 0) == 0)
            out.push_back(reply.substr(3));
    }
    return out;
}

std::vector<std::string> Emulator::WebRequests()
{
    std::vector<std::string> requests = LastRecords("web request", 32);
    for (std::string& request : requests)
        request = Base64Decode(request);
    return requests;
}

std::vector<std::string> Emulator::SnmpWrites() { return LastRecords("snmp write", 256); }

bool Emulator::Running()
{
    if (m_pid <= 0)
        return false;
    int status;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

void Emulator::Stop()
{
    if (m_pid <= 0)
        return;
    Command("quit");
    for (int i = 0; i < 500; ++i) {
        int status;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            // A clean end: no crash, and no sanitizer report at exit.
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "tolvane-testbed ended badly: " << Log();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "tolvane-testbed did not quit: " << Log();
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

std::string Emulator::Log() const { return ReadFile(m_log); }

// ---------------------------------------------------------------------------
// TestNetwork

TestNetwork::TestNetwork() : m_id(g_nextNetwork++)
{
    EnterPrivateNetwork();
    RpFilterOff();
    MustRun("ip link set lo up");
}

TestNetwork::~TestNetwork()
{
    m_emulators.clear();
    for (pid_t pid : std::vector<pid_t>(m_spawned))
        EndInHost(pid);
    for (Host& h : m_hosts) {
        kill(h.pid, SIGKILL);
        waitpid(h.pid, nullptr, 0);
    }
    for (const std::string& adapter : m_adapterNames)
        RunCommand("ip link del " + adapter + " 2>/dev/null");
    for (const std::string& link : m_links)
        RunCommand("ip link del " + link + " 2>/dev/null");
}

int TestNetwork::AddLink(const std::vector<std::string>& pcAddresses)
{
    int link = static_cast<int>(m_links.size());
    std::string name = "tn" + std::to_string(m_id) + "br" + std::to_string(link);
    m_links.push_back(name);
    MustRun("ip link add " + name + " type bridge mcast_snooping 0 forward_delay 0 && ip link set " + name + " up");
    WriteSysctl("/proc/sys/net/ipv4/conf/" + name + "/rp_filter", "0");
    for (const std::string& a : pcAddresses)
        AddPcAddress(link, a);
    return link;
}

void TestNetwork::AddPcAddress(int link, const std::string& cidr)
{
    MustRun("ip addr add " + ShellQuote(cidr) + " dev " + m_links.at(static_cast<size_t>(link)));
}

std::string TestNetwork::AddPcAdapter(int link, const std::string& cidr)
{
    std::string name = "tn" + std::to_string(m_id) + "a" + std::to_string(m_adapters++);
    std::string port = name + "p";
    MustRun("ip link add " + name + " type veth peer name " + port);
    MustRun("ip link set " + port + " master " + m_links.at(static_cast<size_t>(link)) + " up && ip link set " + name +
            " up && ip addr add " + ShellQuote(cidr) + " dev " + name);
    WriteSysctl("/proc/sys/net/ipv4/conf/" + name + "/rp_filter", "0");
    WriteSysctl("/proc/sys/net/ipv4/conf/" + port + "/rp_filter", "0");
    m_adapterNames.push_back(name); // removed with the network
    return name;
}

std::string TestNetwork::LinkInterface(int link) const { return m_links.at(static_cast<size_t>(link)); }

int TestNetwork::AddHost(int link, const std::string& cidr, const std::string& gateway)
{
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork");
    if (pid == 0) {
        // The host's namespace lives as long as this process, which ends with the test.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        close(ready[0]);
        char ok = unshare(CLONE_NEWNET) == 0 ? '1' : '0';
        RpFilterOff();
        (void)!write(ready[1], &ok, 1);
        close(ready[1]);
        for (;;)
            pause();
    }
    close(ready[1]);
    char ok = '0';
    (void)!read(ready[0], &ok, 1);
    close(ready[0]);
    if (ok != '1') {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        throw std::runtime_error("cannot make a host namespace");
    }
    int host = static_cast<int>(m_hosts.size());
    m_hosts.push_back({pid, link});
    std::string veth = "tn" + std::to_string(m_id) + "h" + std::to_string(host);
    MustRun("ip link add " + veth + " type veth peer name eth0 netns " + std::to_string(pid));
    MustRun("ip link set " + veth + " master " + m_links.at(static_cast<size_t>(link)) + " up");
    WriteSysctl("/proc/sys/net/ipv4/conf/" + veth + "/rp_filter", "0");
    int status = 0;
    std::string out =
        RunInHost(host,
                  "ip link set lo up && ip link set eth0 up && ip addr add " + ShellQuote(cidr) + " dev eth0" +
                      (gateway.empty() ? "" : " && ip route add default via " + ShellQuote(gateway)) +
                      " && echo 0 > /proc/sys/net/ipv4/conf/eth0/rp_filter",
                  &status);
    EXPECT_EQ(status, 0) << out;
    return host;
}

pid_t TestNetwork::HostPid(int host) const { return m_hosts.at(static_cast<size_t>(host)).pid; }

std::string TestNetwork::RunInHost(int host, const std::string& command, int* status)
{
    pid_t ns = HostPid(host);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork");
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        if (!JoinNamespace(ns))
            _exit(126);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            text.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int rc = 0;
    waitpid(pid, &rc, 0);
    if (status)
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return text;
}

int TestNetwork::UdpSocketInHost(int host)
{
    // Entering a namespace changes only the calling thread: make the socket
    // on a thread of its own.
    pid_t ns = HostPid(host);
    int fd = -1;
    std::thread([&] {
        if (JoinNamespace(ns))
            fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    }).join();
    return fd;
}

std::vector<std::string> TestNetwork::HostAddresses(int host)
{
    std::string out = RunInHost(host, "ip -4 -o addr show dev eth0");
    std::vector<std::string> addresses;
    std::istringstream in(out);
    std::string word;
    while (in >> word)
        if (word == "inet" && in >> word)
            addresses.push_back(word);
    return addresses;
}

namespace {

// Runs the program args[0] (searched in PATH) with its output in log, in the
// network namespace of the process ns; the child dies with the test.
pid_t ForkInNamespace(pid_t ns, std::vector<std::string> args, const std::filesystem::path& log,
                      std::vector<std::string> environment)
{
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork");
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        for (std::string& e : environment)
            putenv(e.data());
        if (!JoinNamespace(ns))
            _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

} // namespace

pid_t TestNetwork::SpawnInHost(int host, const std::vector<std::string>& args, const std::filesystem::path& log,
                               const std::vector<std::string>& environment)
{
    pid_t pid = ForkInNamespace(HostPid(host), args, log, environment);
    m_spawned.push_back(pid);
    return pid;
}

void TestNetwork::EndInHost(pid_t pid)
{
    auto it = std::find(m_spawned.begin(), m_spawned.end(), pid);
    if (it == m_spawned.end())
        return;
    m_spawned.erase(it);
    kill(pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

Emulator* TestNetwork::StartEmulator(int host, const std::string& config, const std::vector<std::string>& options)
{
    int n = static_cast<int>(m_emulators.size());
    std::filesystem::path configPath = m_dir / ("emulator" + std::to_string(n) + ".conf");
    std::filesystem::path control = m_dir / ("emulator" + std::to_string(n) + ".sock");
    std::filesystem::path log = m_dir / ("emulator" + std::to_string(n) + ".log");
    WriteFile(configPath, config);
    std::string program = (BinDir() / "tolvane-testbed").string();
    std::vector<std::string> argvText = {program, "--config", configPath.string(), "--control", control.string()};
    argvText.insert(argvText.end(), options.begin(), options.end());
    pid_t pid = ForkInNamespace(HostPid(host), argvText, log, {});
    auto emulator = std::make_unique<Emulator>(pid, control, configPath, log);
    // Wait for the control channel; the UDP service is up before it.
    for (int i = 0; i < 1000; ++i) {
        if (emulator->Command("ping") == "OK") {
            m_emulators.push_back(std::move(emulator));
            return m_emulators.back().get();
        }
        if (!emulator->Running())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "tolvane-testbed did not start: " << emulator->Log();
    return nullptr;
}

} // namespace testsupport
