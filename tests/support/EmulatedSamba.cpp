#include "EmulatedSamba.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <signal.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "NasMib.h"

namespace testsupport {
namespace {

std::string Value(Emulator& dev, const std::string& oid)
{
    std::string reply = dev.Command("mib get " + oid); // "OK s TEXT" / "OK i N"
    return reply.rfind("OK ", 0) == 0 && reply.size() > 5 ? reply.substr(5) : std::string();
}

std::vector<std::string> RowsOf(Emulator& dev, const char* column)
{
    std::string reply = dev.Command(std::string("mib rows ") + column);
    std::vector<std::string> rows;
    if (reply.rfind("OK", 0) != 0)
        return rows;
    std::stringstream list(reply.size() > 3 ? reply.substr(3) : std::string());
    std::string row;
    while (std::getline(list, row, ','))
        if (!row.empty())
            rows.push_back(row);
    return rows;
}

std::vector<std::string> Entries(const std::string& list)
{
    std::vector<std::string> out;
    std::stringstream s(list);
    std::string e;
    while (std::getline(s, e, ','))
        if (!e.empty())
            out.push_back(e);
    return out;
}

bool Answers(const std::string& address, int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    close(fd);
    return ok;
}

} // namespace

SessionBus::SessionBus()
{
    std::filesystem::path runtime = m_dir / "runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    // Mount daemons must not find a desktop of the machine's.
    setenv("GIO_USE_VOLUME_MONITOR", "unix", 1);
    FILE* p = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
    if (!p) {
        ADD_FAILURE() << "dbus-daemon does not start";
        return;
    }
    char address[512] = {}, pid[32] = {};
    bool read = std::fgets(address, sizeof address, p) && std::fgets(pid, sizeof pid, p);
    pclose(p);
    if (!read) {
        ADD_FAILURE() << "dbus-daemon gave no address";
        return;
    }
    std::string a = address;
    while (!a.empty() && (a.back() == '\n' || a.back() == '\r'))
        a.pop_back();
    setenv("DBUS_SESSION_BUS_ADDRESS", a.c_str(), 1);
    m_pid = static_cast<pid_t>(std::atoi(pid));
}

SessionBus::~SessionBus()
{
    if (m_pid > 1)
        kill(m_pid, SIGTERM);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

EmulatedSamba::EmulatedSamba(EmulatedNas& nas) : m_nas(nas)
{
    Emulator& dev = *nas.dev;
    const std::filesystem::path dir = m_dir.path();
    std::filesystem::create_directories(dir / "shares");
    for (const char* sub : {"private", "lock", "state", "cache", "pid"})
        std::filesystem::create_directories(dir / sub);

    // Accounts: every device user is the namespace's root, in the device's groups.
    std::ostringstream passwd, group, users;
    passwd << "root:x:0:0::/root:/bin/sh\nnobody:x:0:0::/nonexistent:/bin/false\n";
    std::map<std::string, std::vector<std::string>> members;
    for (const std::string& row : RowsOf(dev, nasmib::kUserName)) {
        std::string name = Value(dev, NasCell(nasmib::kUserName, row));
        std::string password = Value(dev, NasCell(nasmib::kUserPassword, row));
        if (name.empty() || name == "root" || name == "nobody")
            continue;
        passwd << name << ":x:0:0::/nonexistent:/bin/false\n";
        users << name << ":" << password << "\n";
        for (const std::string& g : Entries(Value(dev, NasCell(nasmib::kUserGroupMember, row))))
            members[g].push_back(name);
    }
    group << "root:x:0:\nnogroup:x:65534:\n";
    int gid = 1000;
    for (const std::string& row : RowsOf(dev, nasmib::kGroupName)) {
        std::string name = Value(dev, NasCell(nasmib::kGroupName, row));
        group << name << ":x:" << gid++ << ":";
        const auto& m = members[name];
        for (size_t i = 0; i < m.size(); ++i)
            group << (i ? "," : "") << m[i];
        group << "\n";
    }
    WriteFile(dir / "passwd", passwd.str());
    WriteFile(dir / "group", group.str());
    WriteFile(dir / "users", users.str());

    std::ostringstream conf;
    conf << "[global]\n"
            "  workgroup = WORKGROUP\n"
            "  server role = standalone server\n"
            "  map to guest = bad user\n"
            "  guest account = nobody\n"
            "  passdb backend = tdbsam:"
         << (dir / "private/passdb.tdb").string() << "\n"
         << "  private dir = " << (dir / "private").string() << "\n"
         << "  lock directory = " << (dir / "lock").string() << "\n"
         << "  state directory = " << (dir / "state").string() << "\n"
         << "  cache directory = " << (dir / "cache").string() << "\n"
         << "  pid directory = " << (dir / "pid").string() << "\n"
         << "  ncalrpc dir = " << (dir / "state/ncalrpc").string() << "\n"
         << "  log file = " << (dir / "log.smbd").string()
         << "\n"
            "  load printers = no\n  disable spoolss = yes\n  server min protocol = SMB2\n\n";
    for (const std::string& row : RowsOf(dev, nasmib::kFolderShareName)) {
        std::string share = Value(dev, NasCell(nasmib::kFolderShareName, row));
        if (share.empty() || Value(dev, NasCell(nasmib::kFolderCifs, row)) != "1")
            continue;
        std::filesystem::create_directories(SharePath(share));
        conf << "[" << share << "]\n  path = " << SharePath(share).string() << "\n  read only = no\n";
        std::string read = Value(dev, NasCell(nasmib::kFolderReadList, row));
        std::string write = Value(dev, NasCell(nasmib::kFolderWriteList, row));
        if (Value(dev, NasCell(nasmib::kFolderType, row)) == "2" || !(read + write).empty()) {
            std::string valid;
            for (const std::string& e : Entries(write + read))
                valid += (valid.empty() ? "" : " ") + e;
            conf << "  guest ok = no\n  valid users = " << valid << "\n";
        } else {
            conf << "  guest ok = yes\n";
        }
        conf << "\n";
    }
    WriteFile(dir / "smb.conf", conf.str());

    std::string shim = std::string(TOLVANE_BIN_DIR) + "/tolvane-smbshim.so";
    std::string script = "set -e\n"
                         "mount --bind '" +
                         (dir / "passwd").string() +
                         "' /etc/passwd\n"
                         "mount --bind '" +
                         (dir / "group").string() +
                         "' /etc/group\n"
                         "while IFS=: read -r u p; do printf '%s\\n%s\\n' \"$p\" \"$p\" | "
                         "smbpasswd -c '" +
                         (dir / "smb.conf").string() + "' -s -a \"$u\" >/dev/null; done < '" +
                         (dir / "users").string() +
                         "'\n"
                         "exec env LD_PRELOAD='" +
                         shim +
                         "' smbd -F --debug-stdout -d 1 "
                         "--configfile='" +
                         (dir / "smb.conf").string() + "'\n";
    WriteFile(dir / "run.sh", script);
    m_pid = nas.net.SpawnInHost(nas.host, {"unshare", "-m", "--", "sh", (dir / "run.sh").string()}, dir / "smbd.out");
    bool up = false;
    for (int i = 0; i < 200 && !up; ++i) {
        up = Answers(EmulatedNas::kAddress, 445);
        if (!up)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!up) {
        ADD_FAILURE() << "smbd does not answer: " << Log();
        m_nas.net.EndInHost(m_pid);
        m_pid = -1;
    }
}

EmulatedSamba::~EmulatedSamba()
{
    if (m_pid > 0)
        m_nas.net.EndInHost(m_pid);
}

std::string EmulatedSamba::Log() const { return ReadFile(m_dir / "smbd.out"); }

} // namespace testsupport
