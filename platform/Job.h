#pragma once
// What a device procedure (a refresh, a save, a format, a backup run) is
// given by whoever runs it: a stop request to honour and a place to report
// progress. Procedures live in the core and know nothing of windows; the
// window layer's Worker hands them one of these.
#include <functional>
#include <stop_token>
#include <string>

#include "Clock.h"

namespace platform {

struct JobControl {
    std::stop_token stop;
    // percent: 0-100, or -1 when only the text changes.
    std::function<void(int percent, const std::string& text)> progress;

    bool Stopped() const { return stop.stop_requested(); }
    void Report(int percent, const std::string& text) const
    {
        if (progress)
            progress(percent, text);
    }
    void Say(const std::string& text) const { Report(-1, text); }
    // A pause on the program's clock; false when a stop cut it short.
    bool Pause(int64_t ms) const { return SleepMs(ms, stop); }
};

} // namespace platform
