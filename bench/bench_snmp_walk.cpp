// Walks a 1,024-row share-folder column through CSnmpEngine against the
// emulator's agent, with and without the per-row multi-get the folder list
// does, next to net-snmp's snmpwalk of the same column in the same run.
//   build/bin/bench_snmp_walk
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/resource.h>

#include "BenchAgent.h"
#include "NasMib.h"
#include "SnmpHelpers.h"
#include "y_snmp.h"

namespace {

const int kRows = 1024;
const char kCommunity[] = "bench";

struct Device : bench::Agent {
    Device()
        : Agent(testbed::NasDescription::Default(), kRows, {1, "HDD1", "", "admin,", "admin,", 1, 0, 0, 2}, kCommunity)
    {}
};

Device& TheDevice()
{
    static Device device;
    return device;
}

CSnmpEngine MakeEngine()
{
    CSnmpEngine engine = DeviceEngine("127.0.0.1", kCommunity);
    engine.SetPort(TheDevice().agent.Port());
    return engine;
}

// CPU time of the waited-for child processes so far, in milliseconds.
double ChildrenCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

int Walk(CSnmpEngine& engine, bool withRows)
{
    const char* column = nasmib::kFolderShareName;
    std::string current = column;
    char next[128], value[260];
    int rows = 0;
    while (engine.GetNext(current.c_str(), next, sizeof next, value, sizeof value, column) == 0) {
        current = next;
        ++rows;
        if (withRows) {
            std::string row = NasRowOf(current);
            std::string cells[6] = {NasCell(nasmib::kFolderWriteList, row), NasCell(nasmib::kFolderReadList, row),
                                    NasCell(nasmib::kFolderCifs, row),      NasCell(nasmib::kFolderFtp, row),
                                    NasCell(nasmib::kFolderNfs, row),       NasCell(nasmib::kFolderLocation, row)};
            const char* oids[6];
            char buffers[6][255];
            char* values[6];
            for (int i = 0; i < 6; ++i) {
                oids[i] = cells[i].c_str();
                values[i] = buffers[i];
            }
            if (engine.MultiGet(6, oids, values, 255) != 0)
                return -1;
        }
    }
    return rows;
}

void EngineWalks(benchmark::State& state, bool multiGet)
{
    TheDevice();
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        // An engine per walk, as the program makes one per task.
        CSnmpEngine engine = MakeEngine();
        if (Walk(engine, multiGet) != kRows)
            state.SkipWithError("walk incomplete");
    }
    state.counters["rows"] = kRows;
}

void BM_EngineWalk(benchmark::State& state) { EngineWalks(state, false); }

void BM_EngineWalkAndMultiGet(benchmark::State& state) { EngineWalks(state, true); }

void BM_SnmpwalkTool(benchmark::State& state)
{
    std::string cmd = std::string("snmpwalk -v1 -c ") + kCommunity +
                      " -On 127.0.0.1:" + std::to_string(TheDevice().agent.Port()) + " " + nasmib::kFolderShareName;
    const double cpuBefore = ChildrenCpuMs();
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        FILE* p = popen(cmd.c_str(), "r");
        int lines = 0;
        char buf[512];
        while (p && std::fgets(buf, sizeof buf, p))
            ++lines;
        if (!p || pclose(p) != 0 || lines != kRows)
            state.SkipWithError("snmpwalk failed");
    }
    // The CPU column is this process's: snmpwalk's own is here.
    state.counters["tool_cpu_ms"] = benchmark::Counter(ChildrenCpuMs() - cpuBefore, benchmark::Counter::kAvgIterations);
    state.counters["rows"] = kRows;
}

} // namespace

BENCHMARK(BM_EngineWalk)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EngineWalkAndMultiGet)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SnmpwalkTool)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
