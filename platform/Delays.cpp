#include "Delays.h"

namespace platform {

int RealDelayMs(Delay delay)
{
    switch (delay) {
    case Delay::AviTempNamePause: return 100;
    case Delay::DeviceInfoRefresh: return 5000;
    case Delay::BackupMonitor: return 30000;
    case Delay::BackupLogPoll: return 3000;
    case Delay::SetupFormatStart: return 8000;
    case Delay::SetupFormatPoll:
    case Delay::SetupUploadPause:
    case Delay::SetupCheckPause: return 5000;
    case Delay::SetupStatusPoll: return 500;
    case Delay::SetupRebootTick: return 1000;
    }
    return 0;
}

} // namespace platform
