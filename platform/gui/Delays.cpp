#include "Delays.h"

#include <atomic>
#include <cmath>

namespace platform::gui {
namespace {
std::atomic<double> g_scale{1.0};
}

int RealDelayMs(Delay delay)
{
    switch (delay) {
    case Delay::AviTempNamePause:
        return 100;
    case Delay::DeviceInfoRefresh:
        return 5000;
    case Delay::BackupMonitor:
        return 30000;
    case Delay::BackupLogPoll:
        return 3000;
    case Delay::SetupFormatStart:
        return 8000;
    case Delay::SetupFormatPoll:
    case Delay::SetupUploadPause:
    case Delay::SetupCheckPause:
        return 5000;
    case Delay::SetupStatusPoll:
        return 500;
    case Delay::SetupRebootTick:
        return 1000;
    }
    return 0;
}

int DelayMs(Delay delay)
{
    int real = RealDelayMs(delay);
    if (real == 0)
        return 0;
    long scaled = std::lround(real * g_scale.load());
    return scaled < 1 ? 1 : static_cast<int>(scaled);
}

double SetDelayScale(double scale)
{
    if (!(scale >= 0.0))
        scale = 1.0;
    return g_scale.exchange(scale);
}

} // namespace platform::gui
