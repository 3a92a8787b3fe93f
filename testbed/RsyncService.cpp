#include "RsyncService.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "MibStore.h"
#include "NasMib.h"

namespace testbed {

namespace {

bool CanConnect(int port)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

void WriteText(const char* path, const char* text)
{
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    (void)!write(fd, text, std::strlen(text));
    close(fd);
}

} // namespace

RsyncService::RsyncService(DeviceState& state) : m_state(state) {}

RsyncService::~RsyncService()
{
    if (MibStore* store = m_state.Store(); store && m_hooked)
        store->SetChangeHook({});
    Stop();
    std::error_code ec;
    for (int i = 0; i < 2; ++i)
        if (m_ownRoot[i])
            std::filesystem::remove_all(m_roots[i], ec);
    if (!m_dir.empty())
        std::filesystem::remove_all(m_dir, ec);
}

bool RsyncService::StartIfWanted(std::string* error)
{
    if (m_state.IntSetting("rsync", 0, 0, 1) != 1)
        return true;
    return Start(error);
}

void RsyncService::MakeShareFolders() const
{
    const MibStore* store = m_state.Store();
    if (!store)
        return;
    const Oid names = ToOid(nasmib::kFolderShareName);
    for (const auto& [oid, name] : store->Subtree(names)) {
        Oid location = ToOid(nasmib::kFolderLocation);
        location.insert(location.end(), oid.begin() + static_cast<long>(names.size()), oid.end());
        const std::optional<MibValue> disk = store->Get(location);
        const int i = !disk ? -1 : disk->bytes == "Disk1" ? 0 : disk->bytes == "Disk2" ? 1 : -1;
        if (i < 0 || m_roots[i].empty() || name.bytes.empty() || name.bytes == "." || name.bytes == ".." ||
            name.bytes.find('/') != std::string::npos)
            continue;
        std::error_code ec;
        std::filesystem::create_directories(m_roots[i] + "/" + name.bytes, ec);
    }
}

bool RsyncService::WriteConfig(std::string* error)
{
    if (m_dir.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tolvane-rsyncd-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data())) {
            *error = std::string("rsync: cannot make a folder: ") + std::strerror(errno);
            return false;
        }
        m_dir = buf.data();
        // The daemon's user must reach its configuration.
        chmod(m_dir.c_str(), 0755);
    }
    for (int i = 0; i < 2; ++i) {
        if (!m_roots[i].empty())
            continue;
        std::string root = m_state.Setting(i == 0 ? "disk1_root" : "disk2_root");
        if (root.empty()) {
            root = m_dir + (i == 0 ? "/disk1" : "/disk2");
            m_ownRoot[i] = true;
        }
        std::error_code ec;
        std::filesystem::create_directories(root, ec);
        m_roots[i] = root;
    }
    // As on the device, each share is a folder on its disk, from the start
    // and as shares are added.
    MakeShareFolders();
    if (MibStore* store = m_state.Store(); store && !m_hooked) {
        m_hooked = true;
        store->SetChangeHook([this](const Oid& oid, const std::optional<MibValue>& value) {
            if (value && (OidStartsWith(oid, ToOid(nasmib::kFolderShareName)) ||
                          OidStartsWith(oid, ToOid(nasmib::kFolderLocation))))
                MakeShareFolders();
        });
    }
    std::ofstream conf(m_dir + "/rsyncd.conf", std::ios::trunc);
    conf << "use chroot = no\n"
         << "log file = " << m_dir << "/rsyncd.log\n";
    for (int i = 0; i < 2; ++i) {
        std::string name = i == 0 ? "disk1" : "disk2";
        if (name == m_missing)
            continue;
        conf << "[" << name << "]\n"
             << "path = " << m_roots[i] << "\n"
             << "read only = no\n";
    }
    conf.close();
    if (!conf) {
        *error = "rsync: cannot write its configuration";
        return false;
    }
    return true;
}

bool RsyncService::Start(std::string* error)
{
    std::string scratch;
    if (!error)
        error = &scratch;
    if (m_pid > 0)
        return true;
    m_port = static_cast<int>(m_state.IntSetting("rsync_port", 873, 1, 65535));
    if (!WriteConfig(error))
        return false;
    // Low ports for everybody in this (the device's) network namespace.
    WriteText("/proc/sys/net/ipv4/ip_unprivileged_port_start", "0");

    const std::string config = "--config=" + m_dir + "/rsyncd.conf";
    const std::string port = "--port=" + std::to_string(m_port);
    const std::string log = m_dir + "/daemon.out";
    std::vector<std::string> args = {
        "unshare", "-U", "--map-user=1000", "--map-group=1000", "rsync", "--daemon", "--no-detach", config, port};
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        *error = std::string("rsync: fork: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        setpgid(0, 0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        int in = open("/dev/null", O_RDONLY);
        int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (in >= 0)
            dup2(in, 0);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    m_pid = pid;
    for (int i = 0; i < 500; ++i) {
        if (CanConnect(m_port))
            return true;
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            m_pid = -1;
            std::ifstream in(log);
            std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            *error = "rsync daemon ended: " + text;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop();
    *error = "rsync daemon does not listen";
    return false;
}

void RsyncService::Stop()
{
    if (m_pid <= 0)
        return;
    kill(-m_pid, SIGTERM);
    kill(-m_pid, SIGCONT); // a stalled daemon ends too
    for (int i = 0; i < 200; ++i) {
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            kill(-m_pid, SIGKILL); // connections still being served
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(-m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

void RsyncService::WaitClosed() const
{
    // The daemon's last processes close the listening socket a moment after
    // they are killed: "port closed" means closed once the command returns.
    for (int i = 0; i < 300 && CanConnect(m_port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

std::string RsyncService::Command(const std::string& args)
{
    std::string error;
    if (args.empty())
        return m_pid > 0 ? "OK running " + std::to_string(m_port) : std::string("OK stopped");
    if (args == "port closed") {
        Stop();
        WaitClosed();
        return "OK";
    }
    if (args == "port open")
        return Start(&error) ? "OK" : "ERR " + error;
    if (args == "stall on" || args == "stall off") {
        if (m_pid <= 0)
            return "ERR rsync stopped";
        return kill(-m_pid, args == "stall on" ? SIGSTOP : SIGCONT) == 0 ? "OK"
                                                                         : "ERR " + std::string(std::strerror(errno));
    }
    if (args.rfind("module missing ", 0) == 0) {
        std::string which = Trim(args.substr(15));
        if (which != "disk1" && which != "disk2" && which != "off")
            return "ERR rsync module missing disk1|disk2|off";
        m_missing = which == "off" ? "" : which;
        return WriteConfig(&error) ? "OK" : "ERR " + error;
    }
    if (args == "root 1" || args == "root 2") {
        if (m_roots[0].empty() && !WriteConfig(&error))
            return "ERR " + error;
        return "OK " + m_roots[args[5] - '1'];
    }
    return "ERR rsync [port closed|port open|stall on|stall off|module missing M|root N]";
}

void RsyncService::RegisterCommands(ControlChannel& channel)
{
    channel.Register("rsync", [this](const std::string& args) { return Command(args); });
}

} // namespace testbed
