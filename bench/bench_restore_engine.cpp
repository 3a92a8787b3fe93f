// The restore engine's run of one folder from an rsync daemon, timed, with
// the engine's own CPU time (the log polls and the split) next to rsync's.
// Driven by bench/rsync_restore.sh, which runs plain rsync with the same
// options in the same namespace for comparison.
//   bench_restore_engine TARGET_FOLDER DEVICE_IP REMOTE_FOLDER [PROGRAM_FOLDER]
#include <cstdio>
#include <string>

#include "EngineRun.h"
#include "RsycRestore.h"

int main(int argc, char** argv)
{
    if (!bench::EngineArgs(argc, argv, "TARGET_FOLDER DEVICE_IP REMOTE_FOLDER"))
        return 2;
    // The device restored from is the one logged in to.
    GetNasContext()->m_deviceAddress = argv[2];
    const std::string remote = argv[3];
    CRsycRestore engine;
    platform::JobControl control;
    const bench::EngineTimes t = bench::TimedRun(engine, control, [&] {
        return engine.RestoreFolder(argv[1], argv[2], remote, "Disk1", remote.substr(remote.find_last_of('/') + 1),
                                    "bench", 1);
    });
    std::printf("engine rc=%d success=%d wall=%.3f s engine_cpu=%.3f s rsync_cpu=%.3f s "
                "engine_cpu_share_of_wall=%.3f%% progress_reports=%d\n",
                t.rc, engine.IsSuccess(), t.wall, t.own, t.rsync, 100.0 * t.own / t.wall, t.polls);
    return t.rc == 0 && engine.IsSuccess() ? 0 : 1;
}
