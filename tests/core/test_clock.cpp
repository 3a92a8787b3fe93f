// The program's clock: the test clocks, their scoped installation and local time.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "Clock.h"

namespace {

int64_t RealNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

TEST(Clock, ScopedClocksNestAndPutThePreviousBack)
{
    platform::Clock* system = &platform::GetClock();
    platform::ManualClock outer(1000);
    {
        platform::ScopedClock a(outer);
        EXPECT_EQ(platform::WallNow(), 1000);
        platform::ManualClock inner(2000);
        {
            platform::ScopedClock b(inner);
            EXPECT_EQ(platform::WallNow(), 2000);
        }
        EXPECT_EQ(&platform::GetClock(), &outer);
    }
    EXPECT_EQ(&platform::GetClock(), system);
}

TEST(Clock, FastClockRunsFasterAndItsWaitsAreShort)
{
    platform::FastClock fast(100, 5000);
    platform::ScopedClock scoped(fast);
    EXPECT_EQ(platform::RealMs(3000), 30);
    EXPECT_EQ(platform::RealMs(10), 1); // never 0 for a real wait
    EXPECT_EQ(platform::RealMs(0), 0);
    const int64_t realStart = RealNowMs();
    const int64_t tickStart = platform::TickMs();
    platform::SleepMs(2000); // 20 real ms
    const int64_t real = RealNowMs() - realStart;
    EXPECT_LT(real, 1000);
    EXPECT_GE(platform::TickMs() - tickStart, 2000 - 100);
    EXPECT_GE(platform::WallNow(), 5002);
}

TEST(Clock, ManualClockMovesOnlyWhenToldOrSleptThrough)
{
    platform::ManualClock manual(1'700'000'000);
    platform::ScopedClock scoped(manual);
    const int64_t t0 = platform::TickMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(platform::TickMs(), t0);
    const int64_t realStart = RealNowMs();
    EXPECT_TRUE(platform::SleepMs(3'600'000, std::stop_token{})); // an hour, at once
    EXPECT_LT(RealNowMs() - realStart, 1000);
    EXPECT_EQ(platform::TickMs() - t0, 3'600'000);
    manual.Advance(500);
    EXPECT_EQ(platform::TickMs() - t0, 3'600'500);
    manual.SetNow(42);
    EXPECT_EQ(platform::WallNow(), 42);
}

TEST(Clock, AStopRequestCutsASleepShort)
{
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        stop.request_stop();
    });
    const int64_t realStart = RealNowMs();
    EXPECT_FALSE(platform::SleepMs(60'000, stop.get_token()));
    EXPECT_LT(RealNowMs() - realStart, 10'000);
    stopper.join();
    platform::ManualClock manual;
    platform::ScopedClock scoped(manual);
    EXPECT_FALSE(platform::SleepMs(10, stop.get_token()));
}

TEST(Clock, LocalTimeFollowsTheScopedZoneAcrossDaylightSaving)
{
    platform::ScopedTimeZone zone("Europe/Berlin");
    // 2026-03-29 00:30 UTC is 01:30 CET; an hour later clocks jumped to 03:30 CEST.
    const std::time_t before = 1774744200;
    EXPECT_EQ(platform::LocalTime(before).tm_hour, 1);
    EXPECT_EQ(platform::LocalTime(before + 3600).tm_hour, 3);
    std::tm local = platform::LocalTime(before + 3600);
    EXPECT_EQ(platform::MakeLocalTime(local), before + 3600);
    {
        platform::ScopedTimeZone utc("UTC");
        EXPECT_EQ(platform::LocalTime(before).tm_hour, 0);
    }
    EXPECT_EQ(platform::LocalTime(before).tm_hour, 1);
}
