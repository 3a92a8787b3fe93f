#pragma once
// Backup schedules: a one-time run, or a run every day, every week on a
// weekday or every month on a day of the month, at a time of day. This file
// holds the arithmetic: the first next run of a new schedule, the advance
// after a run, the lateness limit and the schedule's store key. All of it
// works on the program's clock and in local time (TZ), adding calendar days
// so that a run keeps its wall-clock time across daylight-saving changes.
#include <ctime>
#include <string>

#include "BackupTask.h"

namespace schedule {

// "Sunday" .. "Saturday", indexed 0 .. 6 as tm_wday.
extern const char* const kWeekdayNames[7];

// The next run of a schedule whose stored time cannot be read (as mktime
// says of a time it cannot make): due at once, never run, reported.
constexpr std::time_t kUnreadableRun = -1;

// A due schedule more than this late is not backed up.
constexpr std::time_t kLatenessLimitSeconds = 3600;

// Frequencies of a routine schedule, as the radio groups number them.
enum Frequency : int { DAILY = 0, WEEKLY = 1, MONTHLY = 2 };

// 28 to 31 (Gregorian calendar).
int DaysInMonth(int year, int month);

// t plus days calendar days at the same wall-clock time.
std::time_t AddDays(std::time_t t, int days);
// The local date of day at hour:minute:second.
std::time_t AtTime(std::time_t day, int hour, int minute, int second);
// year-month-day at hour:minute:second, local time.
std::time_t MakeTime(int year, int month, int day, int hour, int minute, int second);

// strftime of the local time of t; "%p" gives "AM" or "PM" in every locale.
std::string FormatTime(std::time_t t, const char* format);

// The first next run of a routine schedule set at now.
std::time_t FirstDailyRun(std::time_t now, int hour, int minute, int second);
// weekday 0 (Sunday) .. 6 (Saturday).
std::time_t FirstWeeklyRun(std::time_t now, int weekday, int hour, int minute, int second);
// day 1 .. 31; months without that day are skipped.
std::time_t FirstMonthlyRun(std::time_t now, int day, int hour, int minute, int second);

// The run after a routine schedule's next run: one day or one week later,
// or its day of the month in the first month after the run's month that has
// it. A one-time schedule (or an unknown type) stays as it is.
std::time_t AdvanceRun(const BackupScheduleInfo& schedule);

// Due and more than an hour late.
bool IsLate(std::time_t now, std::time_t nextRun);

// The store key of a schedule: MakeMD5Key(next run as "%X%x" + type + set date).
std::string ScheduleKey(std::time_t nextRun, const std::string& setType, const std::string& setDate);

// A whole schedule record with its key.
BackupScheduleInfo MakeSchedule(const std::string& setType, const std::string& setDate, std::time_t nextRun);

} // namespace schedule
