#pragma once
// The fixed delays of the program, in one place, at their real lengths. Waits
// go through the program's clock (platform::SleepMs, JobControl::Pause) and
// timers take platform::RealMs of them, so a test clock shortens them all.
namespace platform {

enum class Delay {
    AviTempNamePause,  // between tries for a free temporary clip name: 100 ms
    DeviceInfoRefresh, // device information refresh timer: 5000 ms
    BackupMonitor,     // schedule check timer of the backup page: 30000 ms
    BackupLogPoll,     // re-reading the rsync log of a running backup: 3000 ms
    SetupFormatStart,  // setup wizard: after the format request, before polling: 8000 ms
    SetupFormatPoll,   // setup wizard: between format progress requests: 5000 ms
    SetupUploadPause,  // setup wizard: before the package upload's head goes out: 5000 ms
    SetupCheckPause,   // setup wizard: after the upload, before the status polls: 5000 ms
    SetupStatusPoll,   // setup wizard: between install status requests: 500 ms
    SetupRebootTick,   // setup wizard: one second of the reboot countdown: 1000 ms
};

// The real length of a delay in milliseconds.
int RealDelayMs(Delay delay);

} // namespace platform

namespace platform::gui {
using platform::Delay;
using platform::RealDelayMs;
} // namespace platform::gui
