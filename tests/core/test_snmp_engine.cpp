// CSnmpEngine against the emulator's agent running in this process.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <list>
#include <set>
#include <thread>
#include <unistd.h>
#include <vector>

#include "NasMib.h"
#include "SnmpTestAgent.h"
#include "y_snmp.h"

using testbed::MibValue;
using testsupport::SnmpTestAgent;

namespace {

// Walks a column the way the program does; returns the values and the code
// that ended the walk.
std::vector<std::string> Walk(CSnmpEngine& engine, const char* column, int* endCode, int limit = 10000)
{
    std::vector<std::string> values;
    std::string current = column;
    char next[128], value[256];
    int rc;
    while ((rc = engine.GetNext(current.c_str(), next, sizeof next, value, sizeof value, column)) == 0 && limit-- > 0) {
        values.push_back(value);
        current = next;
    }
    *endCode = rc;
    return values;
}

// The sockets this process has open, by descriptor.
std::set<int> OpenSockets()
{
    std::set<int> fds;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return fds;
    while (const dirent* e = readdir(dir)) {
        char target[64] = {};
        std::string path = std::string("/proc/self/fd/") + e->d_name;
        if (readlink(path.c_str(), target, sizeof target - 1) > 0 && std::strncmp(target, "socket:", 7) == 0)
            fds.insert(std::atoi(e->d_name));
    }
    closedir(dir);
    return fds;
}

} // namespace

TEST(SnmpEngine, DefaultsAndAddressLength)
{
    CSnmpEngine engine;
    EXPECT_STREQ(engine.GetAddress(), "127.0.0.1");
    EXPECT_EQ(engine.GetTimeout(), 400);
    EXPECT_EQ(engine.GetRetries(), 1);
    EXPECT_EQ(engine.GetPort(), 161);
    engine.SetAddress(std::string("123456789012345678901234567890"));
    EXPECT_STREQ(engine.GetAddress(), "1234567890123456789");
}

TEST(SnmpEngine, WalkEndsOutsideTheRootWithBothBuffersFilled)
{
    SnmpTestAgent a;
    CSnmpEngine engine = a.Engine();
    int end = 0;
    std::vector<std::string> names = Walk(engine, nasmib::kFolderShareName, &end);
    EXPECT_EQ(end, 1);
    EXPECT_EQ(names, (std::vector<std::string>{"public", "admin"}));

    // The last row: the agent's next object is the first cell of the next column.
    char next[64], value[64];
    std::string last = NasCell(nasmib::kFolderShareName, "2");
    EXPECT_EQ(engine.GetNext(last.c_str(), next, sizeof next, value, sizeof value, nasmib::kFolderShareName), 1);
    EXPECT_EQ(std::string(next), NasCell(nasmib::kFolderOldShareName, "1"));
    EXPECT_STREQ(value, "public");

    // The row index is the text after the walked OID's last dot.
    a.store.Set(NasCell(nasmib::kFolderShareName, "12"), MibValue::String("music"));
    a.store.Set(NasCell(nasmib::kFolderReadList, "12"), MibValue::String("bob,"));
    ASSERT_EQ(engine.GetNext(last.c_str(), next, sizeof next, value, sizeof value, nasmib::kFolderShareName), 0);
    EXPECT_EQ(NasRowOf(next), "12");
    std::string list;
    EXPECT_EQ(engine.SimpleGet(NasCell(nasmib::kFolderReadList, NasRowOf(next)), list), 0);
    EXPECT_EQ(list, "bob,");
}

TEST(SnmpEngine, EmptyTablesEndAtOnce)
{
    testbed::NasDescription nas = testbed::NasDescription::Default();
    nas.users.clear();
    nas.quotas.clear(); // the last table: only the end marker follows
    SnmpTestAgent a(nas);
    CSnmpEngine engine = a.Engine();
    for (const char* column : {nasmib::kUserName, nasmib::kQuotaIndex, nasmib::kQuotaRowStatus}) {
        int end = 0;
        EXPECT_TRUE(Walk(engine, column, &end).empty()) << column;
        EXPECT_EQ(end, 1) << column;
    }
}

TEST(SnmpEngine, NonIncreasingAgentEndsTheWalk)
{
    SnmpTestAgent a;
    a.agent.SetNonIncreasingNext(true);
    CSnmpEngine engine = a.Engine();
    int end = 0;
    // Without the check this would loop on the first row until the limit.
    std::vector<std::string> values = Walk(engine, nasmib::kFolderShareName, &end, 50);
    EXPECT_EQ(end, 1);
    EXPECT_TRUE(values.empty());
    char next[64], value[64];
    std::string row1 = NasCell(nasmib::kFolderShareName, "1");
    EXPECT_EQ(engine.GetNext(row1.c_str(), next, sizeof next, value, sizeof value, nasmib::kFolderShareName), 1);
    EXPECT_EQ(std::string(next), row1);
}

TEST(SnmpEngine, ErrorCodes)
{
    SnmpTestAgent a;
    CSnmpEngine engine = a.Engine();
    std::string value = "untouched";
    char next[64], buf[64];

    // noSuchName comes through as 2: a missing object, a faulty subtree.
    EXPECT_EQ(engine.SimpleGet("1.3.6.1.2.1.21.5.1.5.99", value), 2);
    EXPECT_EQ(value, "untouched");
    a.agent.AddNoSuchNamePrefix(nasmib::kFolderEntry);
    EXPECT_EQ(engine.GetNext(nasmib::kFolderShareName, next, sizeof next, buf, sizeof buf, nasmib::kFolderShareName),
              2);
    EXPECT_EQ(engine.SimpleGet(NasCell(nasmib::kFolderShareName, "1"), value), 2);
    a.agent.ClearFaults();

    // Silence is -5, after the first try and each retry.
    uint64_t before = a.agent.RequestCount();
    a.agent.DropNextRequests(2);
    engine.SetRetries(1);
    engine.SetTimeout(5);
    EXPECT_EQ(engine.SimpleGet(nasmib::kDeviceName, value), -5);
    EXPECT_EQ(a.agent.RequestCount() - before, 2u);
    EXPECT_EQ(engine.SimpleGet(nasmib::kDeviceName, value), 0);
    EXPECT_EQ(value, "TOLVANE-NAS");

    // A wrong community gets no answer at all.
    CSnmpEngine stranger = a.Engine();
    stranger.SetReadCommunity("public");
    EXPECT_EQ(stranger.SimpleGet(nasmib::kDeviceName, value), -5);

    // Bad addresses and OIDs are refused before anything is sent.
    before = a.agent.RequestCount();
    for (const char* address : {"", "nas.local", "300.1.2.3", "1.2.3", "127.0.0.1:161"}) {
        CSnmpEngine bad = a.Engine();
        bad.SetAddress(address);
        EXPECT_EQ(bad.SimpleGet(nasmib::kDeviceName, value), -18) << address;
        EXPECT_EQ(bad.GetNext(nasmib::kUserName, next, sizeof next, buf, sizeof buf, nasmib::kUserName), -18);
        EXPECT_EQ(bad.SimpleSet(nasmib::kDeviceName, "x"), -18);
        EXPECT_EQ(bad.SetTyped(sNMP_SYNTAX_INT, nasmib::kDiskMode, "1"), -18);
    }
    for (const char* oid : {"", "1", "1..3", "1.3.6.x", "1.3.", "1.3.6.1.99999999999"}) {
        EXPECT_EQ(engine.SimpleGet(oid, value), -17) << oid;
        EXPECT_EQ(engine.GetNext(oid, next, sizeof next, buf, sizeof buf, "1.3"), -17) << oid;
        EXPECT_EQ(engine.GetNext("1.3", next, sizeof next, buf, sizeof buf, oid), -17) << oid;
        EXPECT_EQ(engine.SimpleSet(oid, "1"), -17) << oid;
        EXPECT_EQ(engine.SetTyped(sNMP_SYNTAX_INT, oid, "1"), -17) << oid;
    }
    const char* mixed[2] = {nasmib::kDeviceName, "1.3.x"};
    char v1[16], v2[16];
    char* values[2] = {v1, v2};
    EXPECT_EQ(engine.MultiGet(2, mixed, values, 16), -17);
    EXPECT_EQ(a.agent.RequestCount(), before);
}

TEST(SnmpEngine, SimpleSetKeepsTheObjectsType)
{
    SnmpTestAgent a;
    const std::string base = "1.3.6.1.4.1.99999.1.";
    a.store.Set(base + "1.0", MibValue::Counter32(1));
    a.store.Set(base + "2.0", MibValue::Gauge32(1));
    a.store.Set(base + "3.0", MibValue::TimeTicks(1));
    a.store.Set(base + "4.0", MibValue::IpAddress("10.0.0.1"));
    a.store.Set(base + "5.0", MibValue::Integer(1));
    a.store.Set(base + "6.0", MibValue::String("old"));
    a.store.Set(base + "7.0", MibValue::ObjectId("1.3.6.1"));
    a.store.Set(base + "8.0", MibValue::Opaque("\x01\x02"));
    CSnmpEngine engine = a.Engine();

    EXPECT_EQ(engine.SimpleSet((base + "1.0").c_str(), "12"), 0);
    EXPECT_EQ(*a.store.Get(base + "1.0"), MibValue::Counter32(12));
    EXPECT_EQ(engine.SimpleSet((base + "2.0").c_str(), "4000000000"), 0);
    EXPECT_EQ(*a.store.Get(base + "2.0"), MibValue::Gauge32(2147483647)); // atol saturates at 32 bits
    EXPECT_EQ(engine.SimpleSet((base + "3.0").c_str(), "360000"), 0);
    EXPECT_EQ(*a.store.Get(base + "3.0"), MibValue::TimeTicks(360000));
    EXPECT_EQ(engine.SimpleSet((base + "4.0").c_str(), "198.18.0.7"), 0);
    EXPECT_EQ(*a.store.Get(base + "4.0"), MibValue::IpAddress("198.18.0.7"));
    EXPECT_EQ(engine.SimpleSet((base + "5.0").c_str(), "-2"), 0);
    EXPECT_EQ(*a.store.Get(base + "5.0"), MibValue::Integer(-2));
    EXPECT_EQ(engine.SimpleSet((base + "6.0").c_str(), "new"), 0);
    EXPECT_EQ(*a.store.Get(base + "6.0"), MibValue::String("new"));
    EXPECT_EQ(engine.SimpleSet((base + "7.0").c_str(), "1.3.6.1.4"), 0);
    EXPECT_EQ(*a.store.Get(base + "7.0"), MibValue::ObjectId("1.3.6.1.4"));

    // Texts that do not convert, and a syntax without a conversion: -11, no SET.
    uint64_t before = a.agent.RequestCount();
    EXPECT_EQ(engine.SimpleSet((base + "4.0").c_str(), "not an address"), -11);
    EXPECT_EQ(engine.SimpleSet((base + "7.0").c_str(), "1.x"), -11);
    EXPECT_EQ(engine.SimpleSet((base + "8.0").c_str(), "01"), -11);
    EXPECT_EQ(a.agent.RequestCount() - before, 3u); // the three GETs only
    EXPECT_EQ(*a.store.Get(base + "8.0"), MibValue::Opaque("\x01\x02"));
    before = a.agent.RequestCount();
    EXPECT_EQ(engine.SetTyped(sNMP_SYNTAX_OPAQUE, (base + "8.0").c_str(), "01"), -11);
    EXPECT_EQ(a.agent.RequestCount(), before);
    Vb vb;
    EXPECT_FALSE(SetVbValueFromString(vb, 0x44, "1"));
    EXPECT_EQ(vb.syntax, sNMP_SYNTAX_NULL);

    // The printable texts of the other types, through both GET forms.
    std::string text;
    EXPECT_EQ(engine.SimpleGet(base + "4.0", text), 0);
    EXPECT_EQ(text, "198.18.0.7");
    EXPECT_EQ(engine.SimpleGet(base + "7.0", text), 0);
    EXPECT_EQ(text, "1.3.6.1.4");
    char buf[32];
    char* values[1] = {buf};
    std::string oid = base + "8.0";
    const char* oids[1] = {oid.c_str()};
    EXPECT_EQ(engine.MultiGet(1, oids, values, sizeof buf), 0);
    EXPECT_STREQ(buf, "01 02");

    // An object whose GET fails: that status, and no SET is sent.
    before = a.agent.RequestCount();
    EXPECT_EQ(engine.SimpleSet((base + "9.0").c_str(), "1"), 2);
    EXPECT_EQ(a.agent.RequestCount() - before, 1u);
    EXPECT_FALSE(a.store.Get(base + "9.0"));
}

TEST(SnmpEngine, SetTypedReportsFailuresApartFromSuccess)
{
    SnmpTestAgent a;
    CSnmpEngine engine = a.Engine();
    std::string status = NasCell(nasmib::kFolderRowStatus, "2");

    // One SET, no GET before it, and the folder's row is gone.
    uint64_t before = a.agent.RequestCount();
    EXPECT_EQ(engine.SetTyped(sNMP_SYNTAX_INT, status.c_str(), "6"), 0);
    EXPECT_EQ(a.agent.RequestCount() - before, 1u);
    EXPECT_TRUE(a.store.Rows(nasmib::kFolderShareName) == std::vector<std::string>{"1"});
    EXPECT_TRUE(a.store.Subtree(testbed::ToOid(nasmib::kFolderEntry)).size() == 17u);

    // Deleting it again: the agent's noSuchName, never 0 or 1.
    EXPECT_EQ(engine.SetTyped(sNMP_SYNTAX_INT, status.c_str(), "6"), 2);
    // A value of the wrong type: badValue.
    EXPECT_EQ(engine.SetTyped(sNMP_SYNTAX_OCTETS, NasCell(nasmib::kFolderRowStatus, "1").c_str(), "6"), 3);
    EXPECT_TRUE(a.store.Get(NasCell(nasmib::kFolderShareName, "1")));
    // No answer: the time-out.
    a.agent.DropNextRequests(1);
    EXPECT_EQ(engine.SetTyped(sNMP_SYNTAX_INT, NasCell(nasmib::kFolderRowStatus, "1").c_str(), "6"), -5);
    EXPECT_TRUE(a.store.Get(NasCell(nasmib::kFolderShareName, "1")));

    // Several bindings in one SET: all or nothing.
    std::vector<Vb> set(2);
    SetVbValueFromString(set[0], sNMP_SYNTAX_OCTETS, "renamed");
    set[0].oid = nasmib::kDeviceName;
    SetVbValueFromString(set[1], sNMP_SYNTAX_INT, "3");
    set[1].oid = "1.3.6.1.2.1.21.99.0";
    EXPECT_EQ(engine.MultiSet(set), 2);
    EXPECT_EQ(a.store.Get(nasmib::kDeviceName)->Text(), "TOLVANE-NAS");
    set[1].oid = nasmib::kDiskMode;
    EXPECT_EQ(engine.MultiSet(set), 0);
    EXPECT_EQ(a.store.Get(nasmib::kDeviceName)->Text(), "renamed");
    EXPECT_EQ(a.store.Get(nasmib::kDiskMode)->Text(), "3");
}

TEST(SnmpEngine, BuffersAreNeverOverrun)
{
    SnmpTestAgent a;
    // "Bücher" + a Japanese word: multi-byte UTF-8 all along.
    const std::string utf8 = "B\xC3\xBC"
                             "cher-\xE6\x97\xA5\xE6\x9C\xAC";
    a.store.Set(NasCell(nasmib::kFolderShareName, "1"), MibValue::String(utf8));
    a.store.Set(NasCell(nasmib::kFolderShareName, "2"), MibValue::String(std::string(300, 'x')));
    CSnmpEngine engine = a.Engine();

    struct Guarded {
        char bytes[48];
    };
    // Value buffer of 9: "Bücher-" is 8 bytes; the next character does not fit whole.
    Guarded next{}, value{};
    std::memset(&value, '#', sizeof value);
    ASSERT_EQ(engine.GetNext(nasmib::kFolderShareName, next.bytes, 40, value.bytes, 9, nasmib::kFolderShareName), 0);
    EXPECT_STREQ(value.bytes, "B\xC3\xBC"
                              "cher-");
    for (size_t i = 9; i < sizeof value.bytes; ++i)
        ASSERT_EQ(value.bytes[i], '#') << i;

    // A whole value round-trips unchanged (no hex dump of UTF-8 bytes).
    ASSERT_EQ(engine.GetNext(nasmib::kFolderShareName, next.bytes, 40, value.bytes, 40, nasmib::kFolderShareName), 0);
    EXPECT_EQ(std::string(value.bytes), utf8);
    EXPECT_EQ(engine.SimpleSet(NasCell(nasmib::kFolderShareName, "1").c_str(), value.bytes), 0);
    EXPECT_EQ(a.store.Get(NasCell(nasmib::kFolderShareName, "1"))->bytes, utf8);

    // A next OID that does not fit: a failure, so no walk resumes from a cut OID.
    std::memset(&next, '#', sizeof next);
    EXPECT_EQ(engine.GetNext(nasmib::kFolderShareName, next.bytes, 10, value.bytes, 40, nasmib::kFolderShareName), -1);
    EXPECT_EQ(std::strlen(next.bytes), 9u);
    EXPECT_EQ(next.bytes[10], '#');

    // The list form reads values whole; the array form its buffer - 1.
    std::string text;
    EXPECT_EQ(engine.SimpleGet(NasCell(nasmib::kFolderShareName, "2"), text), 0);
    EXPECT_EQ(text, a.store.Get(NasCell(nasmib::kFolderShareName, "2"))->bytes);
    EXPECT_GT(text.size(), 254u);
    std::vector<char> big(400, '#');
    char* values[1] = {big.data()};
    std::string oid = NasCell(nasmib::kFolderShareName, "2");
    const char* oids[1] = {oid.c_str()};
    EXPECT_EQ(engine.MultiGet(1, oids, values, 100), 0);
    EXPECT_EQ(std::strlen(big.data()), 99u);
    EXPECT_EQ(big[100], '#');
}

TEST(SnmpEngine, MultiGetForms)
{
    SnmpTestAgent a;
    CSnmpEngine engine = a.Engine();
    // The six cells the folder list reads per row, in one GET.
    const char* columns[6] = {nasmib::kFolderWriteList, nasmib::kFolderReadList, nasmib::kFolderCifs,
                              nasmib::kFolderFtp,       nasmib::kFolderNfs,      nasmib::kFolderLocation};
    std::vector<std::string> oids;
    for (const char* c : columns)
        oids.push_back(NasCell(c, "2"));
    const char* oidPtrs[6];
    char buffers[6][255];
    char* values[6];
    for (int i = 0; i < 6; ++i) {
        oidPtrs[i] = oids[static_cast<size_t>(i)].c_str();
        values[i] = buffers[i];
    }
    ASSERT_EQ(engine.MultiGet(6, oidPtrs, values, 255), 0);
    EXPECT_STREQ(buffers[0], "admin,");
    EXPECT_STREQ(buffers[1], "admin,");
    EXPECT_STREQ(buffers[2], "1");
    EXPECT_STREQ(buffers[3], "0");
    EXPECT_STREQ(buffers[4], "0");
    EXPECT_STREQ(buffers[5], "HDD1");

    std::list<std::string> oidList(oids.begin(), oids.end()), valueList{"kept"};
    ASSERT_EQ(engine.MultiGet(oidList, valueList), 0);
    EXPECT_EQ(valueList, (std::list<std::string>{"kept", "admin,", "admin,", "1", "0", "0", "HDD1"}));

    // One missing cell fails the whole GET with noSuchName.
    oidList.push_back(NasCell(nasmib::kFolderNfs, "9"));
    std::list<std::string> none;
    EXPECT_EQ(engine.MultiGet(oidList, none), 2);
    EXPECT_TRUE(none.empty());
}

TEST(SnmpEngine, EnginesOnManyThreads)
{
    SnmpTestAgent a;
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            CSnmpEngine engine = a.Engine();
            engine.SetTimeout(200);
            for (int i = 0; i < 25; ++i) {
                std::string name;
                if (engine.SimpleGet(NasCell(nasmib::kUserName, "1"), name) == 0 && name == "admin")
                    ++good;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(good.load(), 200);
}

TEST(SnmpEngine, KeepsOneSessionWhileTheAgentAnswers)
{
    SnmpTestAgent a;
    const std::set<int> before = OpenSockets();
    auto added = [&] {
        std::set<int> now = OpenSockets();
        std::vector<int> fds;
        std::set_difference(now.begin(), now.end(), before.begin(), before.end(), std::back_inserter(fds));
        return fds;
    };
    {
        CSnmpEngine engine = a.Engine();
        engine.SetTimeout(5);
        int end = 0;
        EXPECT_EQ(Walk(engine, nasmib::kFolderShareName, &end).size(), 2u);
        EXPECT_EQ(end, 1);
        // The walk's three requests went through one session, kept open for
        // the next request and closed to programs the process starts.
        const std::vector<int> kept = added();
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_TRUE(fcntl(kept[0], F_GETFD) & FD_CLOEXEC);
        std::string value;
        EXPECT_EQ(engine.SimpleSet(nasmib::kDeviceName, "renamed"), 0);
        EXPECT_EQ(added(), kept);

        // A copy starts without one.
        CSnmpEngine copy = engine;
        EXPECT_EQ(added(), kept);
        EXPECT_EQ(copy.SimpleGet(nasmib::kDeviceName, value), 0);
        EXPECT_EQ(added().size(), 2u);

        // An answer the network repeats is not taken for the next request's.
        a.agent.SetRepeatedAnswers(true);
        EXPECT_EQ(Walk(engine, nasmib::kFolderShareName, &end), (std::vector<std::string>{"public", "admin"}));
        EXPECT_EQ(end, 1);
        EXPECT_EQ(engine.SimpleGet(nasmib::kDeviceName, value), 0);
        EXPECT_EQ(value, "renamed");
        a.agent.SetRepeatedAnswers(false);

        // A request without an answer closes its session; the next one opens another.
        a.agent.DropNextRequests(1);
        EXPECT_EQ(engine.SimpleGet(nasmib::kDeviceName, value), -5);
        EXPECT_EQ(added().size(), 1u);
        EXPECT_EQ(engine.SimpleGet(nasmib::kDeviceName, value), 0);
        EXPECT_EQ(added().size(), 2u);
    }
    // Gone with the engines.
    EXPECT_TRUE(added().empty());
}

TEST(SnmpEngine, OidText)
{
    std::vector<uint32_t> oid;
    ASSERT_TRUE(ParseOidText(".1.3.6.1.4294967295", oid));
    EXPECT_EQ(OidToText(oid), "1.3.6.1.4294967295");
    EXPECT_FALSE(ParseOidText("1.3.6.1.4294967296", oid));
    std::string longOid = "1";
    for (int i = 0; i < 128; ++i)
        longOid += ".1";
    EXPECT_FALSE(ParseOidText(longOid, oid)); // 129 sub-identifiers
}
