// The restore engine's run of one folder from an rsync daemon, timed, with
// the engine's own CPU time (the log polls and the split) next to rsync's.
// Driven by bench/rsync_restore.sh, which runs plain rsync with the same
// options in the same namespace for comparison.
//   bench_restore_engine TARGET_FOLDER DEVICE_IP REMOTE_FOLDER [PROGRAM_FOLDER]
#include <chrono>
#include <cstdio>
#include <string>
#include <sys/resource.h>

#include "RsycRestore.h"
#include "stdafx.h"

namespace {
double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }
} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s TARGET_FOLDER DEVICE_IP REMOTE_FOLDER [PROGRAM_FOLDER]\n", argv[0]);
        return 2;
    }
    if (argc > 4)
        GetNasContext()->SetIniPath(std::string(argv[4]) + "/quom.ini");
    // The device restored from is the one logged in to.
    GetNasContext()->m_deviceAddress = argv[2];
    const std::string remote = argv[3];
    CRsycRestore engine;
    platform::JobControl control;
    int polls = 0;
    control.progress = [&polls](int, const std::string&) { ++polls; };
    engine.SetControl(&control);
    engine.SetStartTime(std::time(nullptr));
    const auto t0 = std::chrono::steady_clock::now();
    int rc = engine.RestoreFolder(argv[1], argv[2], remote, "Disk1", remote.substr(remote.find_last_of('/') + 1),
                                  "bench", 1);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    const double own = Seconds(self.ru_utime) + Seconds(self.ru_stime);
    const double rsync = Seconds(children.ru_utime) + Seconds(children.ru_stime);
    std::printf("engine rc=%d success=%d wall=%.3f s engine_cpu=%.3f s rsync_cpu=%.3f s "
                "engine_cpu_share_of_wall=%.3f%% progress_reports=%d\n",
                rc, engine.IsSuccess(), wall, own, rsync, 100.0 * own / wall, polls);
    return rc == 0 && engine.IsSuccess() ? 0 : 1;
}
