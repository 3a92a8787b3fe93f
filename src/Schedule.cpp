#include "Schedule.h"

#include <cstdlib>

#include "Clock.h"
#include "TaskStore.h"

namespace schedule {

const char* const kWeekdayNames[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

namespace {
bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int SecondsOfDay(const std::tm& t) { return t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec; }
} // namespace

int DaysInMonth(int year, int month)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 31;
    if (month == 2 && IsLeapYear(year))
        return 29;
    return days[month - 1];
}

std::time_t MakeTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return platform::MakeLocalTime(t);
}

std::time_t AddDays(std::time_t t, int days)
{
    std::tm local = platform::LocalTime(t);
    local.tm_mday += days;
    local.tm_isdst = -1;
    return platform::MakeLocalTime(local);
}

std::time_t AtTime(std::time_t day, int hour, int minute, int second)
{
    std::tm local = platform::LocalTime(day);
    return MakeTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, hour, minute, second);
}

std::string FormatTime(std::time_t t, const char* format)
{
    std::tm local = platform::LocalTime(t);
    // "%p" is "AM" or "PM" whatever the locale: the C library leaves it
    // empty where clocks run to 24 hours, and the texts are read with "%I".
    std::string own;
    for (const char* f = format; *f; ++f) {
        if (f[0] == '%' && f[1] == 'p') {
            own += local.tm_hour < 12 ? "AM" : "PM";
            ++f;
        } else if (f[0] == '%' && f[1] != '\0') {
            own += f[0];
            own += *++f;
        } else {
            own += *f;
        }
    }
    char buf[256];
    size_t n = std::strftime(buf, sizeof buf, own.c_str(), &local);
    return std::string(buf, n);
}

std::time_t FirstDailyRun(std::time_t now, int hour, int minute, int second)
{
    std::tm n = platform::LocalTime(now);
    std::time_t today = AtTime(now, hour, minute, second);
    // Times of day compare on their own, whatever the date.
    if (SecondsOfDay(n) > hour * 3600 + minute * 60 + second)
        return AddDays(today, 1);
    return today;
}

std::time_t FirstWeeklyRun(std::time_t now, int weekday, int hour, int minute, int second)
{
    std::tm n = platform::LocalTime(now);
    const int w = weekday + 1;
    const int d = n.tm_wday + 1;
    std::time_t today = AtTime(now, hour, minute, second);
    if (w > d)
        return AddDays(today, w - d);
    if (w == d)
        return SecondsOfDay(n) > hour * 3600 + minute * 60 + second ? AddDays(today, 7) : today;
    return AddDays(today, w - d + 7);
}

namespace {
// Day `day` of the first month from (year, month) on that has it.
std::time_t DayInFirstMonthWithIt(int year, int month, int day, int hour, int minute, int second)
{
    while (DaysInMonth(year, month) < day) {
        if (++month > 12) {
            month = 1;
            ++year;
        }
    }
    return MakeTime(year, month, day, hour, minute, second);
}

void NextMonth(int& year, int& month)
{
    if (++month > 12) {
        month = 1;
        ++year;
    }
}
} // namespace

std::time_t FirstMonthlyRun(std::time_t now, int day, int hour, int minute, int second)
{
    std::tm n = platform::LocalTime(now);
    int year = n.tm_year + 1900;
    int month = n.tm_mon + 1;
    if (DaysInMonth(year, month) >= day) {
        std::time_t thisMonth = MakeTime(year, month, day, hour, minute, second);
        if (now <= thisMonth)
            return thisMonth;
    }
    NextMonth(year, month);
    return DayInFirstMonthWithIt(year, month, day, hour, minute, second);
}

std::time_t AdvanceRun(const BackupScheduleInfo& s)
{
    if (s.setType == "day")
        return AddDays(s.nextRun, 1);
    if (s.setType == "week")
        return AddDays(s.nextRun, 7);
    if (s.setType == "month") {
        int day = std::atoi(s.setDate.c_str());
        if (day < 1 || day > 31)
            return s.nextRun;
        // From the run's own month, not the present one: a late schedule
        // steps through the months it missed, one run each.
        std::tm run = platform::LocalTime(s.nextRun);
        int year = run.tm_year + 1900;
        int month = run.tm_mon + 1;
        NextMonth(year, month);
        return DayInFirstMonthWithIt(year, month, day, run.tm_hour, run.tm_min, run.tm_sec);
    }
    return s.nextRun;
}

bool IsLate(std::time_t now, std::time_t nextRun) { return now - nextRun > kLatenessLimitSeconds; }

std::string ScheduleKey(std::time_t nextRun, const std::string& setType, const std::string& setDate)
{
    return MakeMD5Key(FormatTime(nextRun, "%X%x") + setType + setDate);
}

BackupScheduleInfo MakeSchedule(const std::string& setType, const std::string& setDate, std::time_t nextRun)
{
    BackupScheduleInfo s;
    s.setType = setType;
    s.setDate = setDate;
    s.nextRun = nextRun;
    s.key = ScheduleKey(nextRun, setType, setDate);
    return s;
}

} // namespace schedule
