// Real peers: net-snmp's command-line tools read and change the emulator's
// tables, and CSnmpEngine reads, walks and sets Debian's own snmpd.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "NasMib.h"
#include "SnmpTestAgent.h"
#include "TestSupport.h"
#include "y_snmp.h"

extern char** environ;

using testbed::MibValue;
using testsupport::RunCommand;
using testsupport::SnmpTestAgent;

namespace {

std::string Tool(const char* tool, const SnmpTestAgent& a, const std::string& args, int* status)
{
    std::string cmd = std::string(tool) + " -v1 -c " + a.Community() + " -On -t 1 -r 1 127.0.0.1:" +
                      std::to_string(a.Port()) + " " + args + " 2>&1";
    return RunCommand(cmd, status);
}

// A UDP port on 127.0.0.1 that nobody uses right now.
uint16_t FreeUdpPort()
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    close(fd);
    return ntohs(sa.sin_port);
}

// Debian's snmpd on 127.0.0.1 with a private configuration: community
// "tolvro" reads, "tolvrw" reads and writes; its persistent files go to a
// temporary folder, so nothing of the host's is read or kept.
class Snmpd {
public:
    bool Start(std::string& why)
    {
        std::filesystem::create_directories(m_dir / "conf");
        std::filesystem::create_directories(m_dir / "state");
        testsupport::WriteFile(m_dir / "conf" / "snmpd.conf", "rocommunity tolvro 127.0.0.1\n"
                                                              "rwcommunity tolvrw 127.0.0.1\n");
        for (int attempt = 0; attempt < 3; ++attempt) {
            port = FreeUdpPort();
            std::string conf = (m_dir / "conf" / "snmpd.conf").string();
            std::string log = (m_dir / "snmpd.log").string();
            std::string listen = "udp:127.0.0.1:" + std::to_string(port);
            std::vector<std::string> args = {"snmpd", "-f", "-C", "-c", conf, "-Lf", log, "-M", "/nonexistent", listen};
            std::vector<char*> argv;
            for (auto& s : args)
                argv.push_back(s.data());
            argv.push_back(nullptr);
            std::string persist = "SNMP_PERSISTENT_DIR=" + (m_dir / "state").string();
            std::vector<char*> env;
            for (char** e = environ; *e; ++e)
                env.push_back(*e);
            env.push_back(persist.data());
            env.push_back(nullptr);
            if (posix_spawnp(&m_pid, "snmpd", nullptr, nullptr, argv.data(), env.data()) != 0) {
                why = "snmpd cannot be started (package snmpd)";
                return false;
            }
            CSnmpEngine engine = Engine("tolvro");
            engine.SetTimeout(10);
            for (int i = 0; i < 100; ++i) {
                std::string descr;
                if (engine.SimpleGet("1.3.6.1.2.1.1.1.0", descr) == 0)
                    return true;
                int st;
                if (waitpid(m_pid, &st, WNOHANG) == m_pid) {
                    m_pid = -1;
                    break; // port taken meanwhile: try another
                }
            }
            Stop();
        }
        why = "snmpd did not answer: " + testsupport::ReadFile(m_dir / "snmpd.log");
        return false;
    }

    void Stop()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int st;
            waitpid(m_pid, &st, 0);
            m_pid = -1;
        }
    }

    ~Snmpd() { Stop(); }

    CSnmpEngine Engine(const std::string& community) const
    {
        CSnmpEngine engine;
        engine.SetAddress("127.0.0.1");
        engine.SetPort(port);
        engine.SetReadCommunity(community);
        engine.SetWriteCommunity(community);
        engine.SetTimeout(100);
        engine.SetRetries(1);
        return engine;
    }

    uint16_t port = 0;

private:
    testsupport::TempDir m_temp;
    std::filesystem::path m_dir = m_temp.path();
    pid_t m_pid = -1;
};

} // namespace

TEST(SnmpTools, ReadTheEmulatorsTables)
{
    testbed::NasDescription nas = testbed::NasDescription::Default();
    nas.groups.clear();
    SnmpTestAgent a(nas);
    int status = -1;
    std::string out = Tool("snmpget", a, std::string(nasmib::kDeviceName) + " " + nasmib::kWebPort + " " +
                                              NasCell(nasmib::kUserLevel, "1"), &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find(".1.3.6.1.2.1.19.1.0 = STRING: \"TOLVANE-NAS\""), std::string::npos) << out;
    EXPECT_NE(out.find(".1.3.6.1.2.1.20.11.0 = INTEGER: 80"), std::string::npos) << out;
    EXPECT_NE(out.find(".1.3.6.1.2.1.26.1.1.8.1 = INTEGER: 15"), std::string::npos) << out;

    out = Tool("snmpwalk", a, nasmib::kFolderShareName, &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, ".1.3.6.1.2.1.21.5.1.5.1 = STRING: \"public\"\n"
                   ".1.3.6.1.2.1.21.5.1.5.2 = STRING: \"admin\"\n");

    // An empty table and the last column of the last table end cleanly.
    out = Tool("snmpwalk", a, nasmib::kGroupName, &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "");
    out = Tool("snmpwalk", a, nasmib::kQuotaRowStatus, &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, ".1.3.6.1.2.1.26.3.1.7.1 = INTEGER: 1\n.1.3.6.1.2.1.26.3.1.7.2 = INTEGER: 1\n");
    // The whole tree, object by object, to its end.
    out = Tool("snmpwalk", a, "1.3.6.1.2.1", &status);
    EXPECT_EQ(status, 0) << out;
    size_t lines = 0;
    for (size_t at = 0; (at = out.find(" = ", at)) != std::string::npos; at += 3)
        ++lines;
    EXPECT_EQ(lines, a.store.Size());
    EXPECT_NE(out.find(".1.3.6.1.2.1.26.99.0 = INTEGER: 0\nEnd of MIB"), std::string::npos) << out;

    out = Tool("snmpget", a, "1.3.6.1.2.1.19.9.0", &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("noSuchName"), std::string::npos) << out;

    // Version 2c and other communities get no answer.
    out = RunCommand("snmpget -v2c -c " + a.Community() + " -t 0.2 -r 0 127.0.0.1:" + std::to_string(a.Port()) +
                         " " + nasmib::kDeviceName + " 2>&1",
                     &status);
    EXPECT_NE(out.find("Timeout"), std::string::npos) << out;
    out = RunCommand("snmpget -v1 -c public -t 0.2 -r 0 127.0.0.1:" + std::to_string(a.Port()) + " " +
                         nasmib::kDeviceName + " 2>&1",
                     &status);
    EXPECT_NE(out.find("Timeout"), std::string::npos) << out;
}

TEST(SnmpTools, ChangeTheEmulatorsTables)
{
    SnmpTestAgent a;
    int status = -1;
    std::string out = Tool("snmpset", a, NasCell(nasmib::kFolderReadList, "1") + " s 'admin,@staff,'", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(a.store.Get(NasCell(nasmib::kFolderReadList, "1"))->bytes, "admin,@staff,");

    // Row status 6 removes the user's row, every column of it.
    out = Tool("snmpset", a, NasCell(nasmib::kUserRowStatus, "2") + " i 6", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(a.store.Rows(nasmib::kUserName), std::vector<std::string>{"1"});
    EXPECT_FALSE(a.store.Get(NasCell(nasmib::kUserPassword, "2")));
    // Other values are just written.
    out = Tool("snmpset", a, NasCell(nasmib::kGroupRowStatus, "1") + " i 5", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(*a.store.Get(NasCell(nasmib::kGroupRowStatus, "1")), MibValue::Integer(5));
    // The USB eject request removes the USB disk.
    out = Tool("snmpset", a, NasCell(nasmib::kUsbRemove, "1") + " i 2", &status);
    EXPECT_EQ(status, 0) << out;
    out = Tool("snmpwalk", a, nasmib::kUsbIndex, &status);
    EXPECT_EQ(out, "");

    // Wrong type: badValue and nothing written.
    out = Tool("snmpset", a, std::string(nasmib::kWebPort) + " s 80", &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("badValue"), std::string::npos) << out;
    EXPECT_EQ(*a.store.Get(nasmib::kWebPort), MibValue::Integer(80));
}

TEST(SnmpTools, EngineAgainstSnmpd)
{
    Snmpd snmpd;
    std::string why;
    ASSERT_TRUE(snmpd.Start(why)) << why;

    CSnmpEngine engine = snmpd.Engine("tolvrw");
    std::string descr;
    ASSERT_EQ(engine.SimpleGet("1.3.6.1.2.1.1.1.0", descr), 0);
    EXPECT_FALSE(descr.empty());

    // Walk of the system group: OID values dotted, TimeTicks in decimal.
    std::string current = "1.3.6.1.2.1.1";
    char next[128], value[512];
    int rc, rows = 0;
    std::string objectId, upTime;
    while ((rc = engine.GetNext(current.c_str(), next, sizeof next, value, sizeof value, "1.3.6.1.2.1.1")) == 0) {
        current = next;
        if (current == "1.3.6.1.2.1.1.2.0")
            objectId = value;
        if (current == "1.3.6.1.2.1.1.3.0")
            upTime = value;
        ++rows;
    }
    EXPECT_EQ(rc, 1);
    EXPECT_GE(rows, 7);
    EXPECT_EQ(objectId.rfind("1.3.6.1.4.1.", 0), 0u) << objectId;
    EXPECT_FALSE(upTime.empty());
    EXPECT_EQ(upTime.find_first_not_of("0123456789"), std::string::npos) << upTime;

    // Sets: the type learnt first, UTF-8 kept, a refused SET told apart.
    EXPECT_EQ(engine.SimpleSet("1.3.6.1.2.1.1.4.0", "ops@tolvane.test"), 0);
    const std::string place = "Kj\xC3\xB8ller lab";
    EXPECT_EQ(engine.SimpleSet("1.3.6.1.2.1.1.6.0", place.c_str()), 0);
    EXPECT_EQ(engine.SetTyped(sNMP_SYNTAX_OCTETS, "1.3.6.1.2.1.1.5.0", "nas-lab"), 0);
    std::list<std::string> oids{"1.3.6.1.2.1.1.4.0", "1.3.6.1.2.1.1.6.0", "1.3.6.1.2.1.1.5.0"}, values;
    EXPECT_EQ(engine.MultiGet(oids, values), 0);
    EXPECT_EQ(values, (std::list<std::string>{"ops@tolvane.test", place, "nas-lab"}));
    EXPECT_EQ(engine.SetTyped(sNMP_SYNTAX_INT, "1.3.6.1.2.1.1.4.0", "5"), 3); // badValue

    // The read-only community: GET works, SET is refused (noSuchName in v1).
    CSnmpEngine reader = snmpd.Engine("tolvro");
    EXPECT_EQ(reader.SimpleSet("1.3.6.1.2.1.1.4.0", "nobody"), 2);
    std::string contact;
    EXPECT_EQ(reader.SimpleGet("1.3.6.1.2.1.1.4.0", contact), 0);
    EXPECT_EQ(contact, "ops@tolvane.test");
    EXPECT_EQ(reader.SimpleGet("1.3.6.1.2.1.1.99.0", contact), 2);
    snmpd.Stop();
    reader.SetTimeout(10);
    reader.SetRetries(0);
    EXPECT_EQ(reader.SimpleGet("1.3.6.1.2.1.1.4.0", contact), -5);
}
