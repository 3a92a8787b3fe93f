// The backup engine's run of one folder against an rsync daemon, timed, with
// the engine's own CPU time (the log polls and the split) next to rsync's.
// Driven by bench/rsync_backup.sh, which runs plain rsync with the same
// options in the same namespace for comparison.
//   bench_backup_engine SOURCE_FOLDER DEVICE_IP SHARE [PROGRAM_FOLDER]
#include <cstdio>
#include <string>

#include "EngineRun.h"
#include "RsycBackup.h"

int main(int argc, char** argv)
{
    if (!bench::EngineArgs(argc, argv, "SOURCE_FOLDER DEVICE_IP SHARE"))
        return 2;
    const std::string source = argv[1];
    size_t slash = source.find_last_of('/');
    CRsycBackup engine;
    platform::JobControl control;
    const bench::EngineTimes t = bench::TimedRun(engine, control, [&] {
        return engine.BackupFolder(source, argv[2], argv[3], "Disk1", source.substr(slash + 1), "bench", 1);
    });
    std::printf("engine rc=%d success=%d wall=%.3f s engine_cpu=%.3f s rsync_cpu=%.3f s "
                "poll_cpu=%.4f s in %d polls (%.3f%% of wall, %.3f%% of all cpu) progress_reports=%d\n",
                t.rc, engine.IsSuccess(), t.wall, t.own, t.rsync, engine.PollCpuSeconds(), engine.PollCount(),
                100.0 * engine.PollCpuSeconds() / t.wall, 100.0 * engine.PollCpuSeconds() / (t.own + t.rsync), t.polls);
    return t.rc == 0 && engine.IsSuccess() ? 0 : 1;
}
