// The share-folder page's refresh of 1,024 folders against the emulator's
// SNMP agent, next to the floor of the plain request pattern in the same run:
// a net-snmp session (opened once) walking the share names and sending one
// 6-cell GET per row.
//   build/bin/bench_folder_refresh
#include <benchmark/benchmark.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FolderTable.h"
#include "BenchAgent.h"
#include "NasMib.h"
#include "NetConnection.h"
#include "stdafx.h"
#include "y_snmp.h"

namespace {

const int kRows = 1024;
const char kCommunity[] = "bench";

// No shares are mounted here: the refresh's own part is measured.
struct NoMounts : platform::MountBackend {
    int Mount(const std::string&, const std::string&, const std::string&) override { return 0; }
    int Unmount(const std::string&) override { return 0; }
    bool IsMounted(const std::string&) override { return false; }
    std::vector<std::pair<std::string, std::string>> Mounted() override { return {}; }
    std::string LocalPath(const std::string&) override { return {}; }
};

struct Device : bench::Agent {
    Device()
        : Agent(testbed::NasDescription::Default("pw"), kRows, {1, "Disk1", "", "guest,@staff,", "admin,", 1, 1, 0, 2},
                kCommunity)
    {
        CSnmpEngine::SetDefaultPort(agent.Port());
        CNasContext* ctx = GetNasContext();
        ctx->m_deviceAddress = "127.0.0.1";
        ctx->m_community = kCommunity;
        ctx->m_user = "admin";
        ctx->m_userLevel = "15";
        platform::SetMountBackend(std::make_shared<NoMounts>());
        platform::SetDriveTablePath("/dev/null");
    }
};

Device& TheDevice()
{
    static Device device;
    return device;
}

void BM_PageRefresh(benchmark::State& state)
{
    TheDevice();
    platform::JobControl job;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        FolderListing l = RefreshFolderList(job, CopyLogin());
        if (!l.ok || l.rows.size() < static_cast<size_t>(kRows))
            state.SkipWithError("refresh incomplete");
    }
    state.counters["rows"] = kRows;
}

// The floor: one session, GETNEXT along the names, one GET of six cells per row.
void BM_PlainSessionFloor(benchmark::State& state)
{
    Device& device = TheDevice();
    InitSnmpLibrary();
    std::string peer = "udp:127.0.0.1:" + std::to_string(device.agent.Port());
    netsnmp_session setup;
    snmp_sess_init(&setup);
    setup.version = SNMP_VERSION_1;
    setup.peername = peer.data();
    setup.community = reinterpret_cast<u_char*>(const_cast<char*>(kCommunity));
    setup.community_len = sizeof kCommunity - 1;
    void* session = snmp_sess_open(&setup);
    if (!session) {
        state.SkipWithError("no session");
        return;
    }
    std::vector<uint32_t> column;
    ParseOidText(nasmib::kFolderShareName, column);
    const char* const cells[6] = {nasmib::kFolderWriteList, nasmib::kFolderReadList, nasmib::kFolderCifs,
                                  nasmib::kFolderFtp,       nasmib::kFolderNfs,      nasmib::kFolderLocation};
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        std::vector<oid> current(column.begin(), column.end());
        int rows = 0;
        for (;;) {
            netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GETNEXT);
            snmp_add_null_var(pdu, current.data(), current.size());
            netsnmp_pdu* response = nullptr;
            if (snmp_sess_synch_response(session, pdu, &response) != STAT_SUCCESS || !response ||
                response->errstat != SNMP_ERR_NOERROR) {
                if (response)
                    snmp_free_pdu(response);
                break;
            }
            netsnmp_variable_list* v = response->variables;
            bool inside = v->name_length > column.size() && std::equal(column.begin(), column.end(), v->name);
            current.assign(v->name, v->name + v->name_length);
            snmp_free_pdu(response);
            if (!inside)
                break;
            ++rows;
            const oid row = current.back();
            netsnmp_pdu* get = snmp_pdu_create(SNMP_MSG_GET);
            for (const char* c : cells) {
                std::vector<uint32_t> o;
                ParseOidText(c, o);
                std::vector<oid> name(o.begin(), o.end());
                name.push_back(row);
                snmp_add_null_var(get, name.data(), name.size());
            }
            netsnmp_pdu* answer = nullptr;
            if (snmp_sess_synch_response(session, get, &answer) != STAT_SUCCESS)
                state.SkipWithError("row GET failed");
            if (answer)
                snmp_free_pdu(answer);
        }
        if (rows != kRows)
            state.SkipWithError("walk incomplete");
    }
    snmp_sess_close(session);
    state.counters["rows"] = kRows;
}

} // namespace

BENCHMARK(BM_PlainSessionFloor)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PageRefresh)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
