#pragma once
// What bench_backup_engine and bench_restore_engine share: the command line's
// common part and one timed run of an rsync engine.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <sys/resource.h>

#include "Job.h"
#include "stdafx.h"

namespace bench {

// Checks for the three arguments (usage on standard error when missing) and
// points the login memory at the optional fourth, the program folder.
inline bool EngineArgs(int argc, char** argv, const char* names)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s %s [PROGRAM_FOLDER]\n", argv[0], names);
        return false;
    }
    if (argc > 4)
        GetNasContext()->SetIniPath(std::string(argv[4]) + "/quom.ini");
    return true;
}

struct EngineTimes {
    int rc = 0;
    double wall = 0;  // seconds
    double own = 0;   // CPU seconds of this process
    double rsync = 0; // CPU seconds of its children
    int polls = 0;    // progress reports
};

// Gives the engine a control that counts progress reports and the start
// time now, then times run().
template <class Engine, class Run> EngineTimes TimedRun(Engine& engine, platform::JobControl& control, Run run)
{
    EngineTimes times;
    control.progress = [&times](int, const std::string&) { ++times.polls; };
    engine.SetControl(&control);
    engine.SetStartTime(std::time(nullptr));
    const auto t0 = std::chrono::steady_clock::now();
    times.rc = run();
    times.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    times.own = seconds(self.ru_utime) + seconds(self.ru_stime);
    times.rsync = seconds(children.ru_utime) + seconds(children.ru_stime);
    return times;
}

} // namespace bench
