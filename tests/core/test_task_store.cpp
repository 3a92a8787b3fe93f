// The task store on disk and the schedule arithmetic on the program's clock.
#include <gtest/gtest.h>

#include "Clock.h"
#include "FolderSize.h"
#include "Profile.h"
#include "Schedule.h"
#include "TaskStore.h"
#include "TestSupport.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

const char* kCet = "CET-1CEST,M3.5.0,M10.5.0/3";

std::time_t At(int y, int mo, int d, int h, int mi, int s) { return schedule::MakeTime(y, mo, d, h, mi, s); }

std::string Text(std::time_t t) { return schedule::FormatTime(t, "%Y-%m-%d %H:%M:%S"); }

BackupTaskInfo MakeTask(const std::string& name, const std::string& user, const std::string& folderPath)
{
    BackupTaskInfo t;
    t.taskName = name;
    t.nasUser = user;
    t.nasIp = "198.18.1.10";
    t.nasMac = "02:00:5E:10:00:01";
    t.nasCommunity = "c0mm";
    t.nasFolderName = "backup";
    t.nasFolderDisk = "Disk1";
    t.nasFolderType = "Samba";
    t.nasFolderStatus = "Public";
    t.nasFolderUser = user;
    t.lastBackTime = "";
    t.taskBackSize = "5 Bytes";
    t.folders.push_back({fs::path(folderPath).filename().string(), "", "5 Bytes", folderPath});
    return t;
}

TEST(TaskStore, RoundTripOfManyTasks)
{
    platform::ScopedTimeZone tz(kCet);
    TempDir dir;
    const fs::path folder = dir / "Fotos 2024 é日本";
    WriteFile(folder / "a", "12345");
    CTaskStore store((dir / "Nas_BackUp_Task.ini").string());
    store.CreateTaskStore();
    EXPECT_EQ(ReadFile(store.File()), "[INI_Nas_BackUp_Task_Setting]\nTotal_task_number=0\nTotal_task_name=\n");

    std::list<BackupTaskInfo> tasks;
    const char* types[4][2] = {{"one", "unexecute"}, {"day", ""}, {"week", "Tuesday"}, {"month", "31"}};
    for (int i = 0; i < 60; ++i) {
        BackupTaskInfo t = MakeTask("Task " + std::to_string(i) + " ü", i % 2 ? "bob" : "admin", folder.string());
        if (i == 0) // one task with 40 folders
            for (int f = 1; f < 40; ++f)
                t.folders.push_back(
                    {"f" + std::to_string(f), "", "0 Bytes", (dir / ("f " + std::to_string(f))).string()});
        if (i < 4)
            t.schedules.push_back(schedule::MakeSchedule(types[i][0], types[i][1], At(2024, 3, 31, 2 + i, 30, i)));
        tasks.push_back(t);
    }
    store.SaveTasks(tasks);

    // Saving the same tasks again rewrites nothing.
    const std::string saved = ReadFile(store.File());
    const auto written = fs::last_write_time(store.File());
    store.SaveTasks(tasks);
    EXPECT_EQ(fs::last_write_time(store.File()), written);
    EXPECT_EQ(ReadFile(store.File()), saved);

    std::list<BackupTaskInfo> loaded = store.LoadTasks();
    ASSERT_EQ(loaded.size(), 60u);
    auto a = tasks.begin();
    for (const BackupTaskInfo& b : loaded) {
        EXPECT_EQ(b.taskName, a->taskName);
        EXPECT_EQ(b.nasUser, a->nasUser);
        EXPECT_EQ(b.nasFolderSet, 1);
        EXPECT_EQ(b.nasIp, a->nasIp);
        EXPECT_EQ(b.nasMac, a->nasMac);
        EXPECT_EQ(b.nasCommunity, a->nasCommunity);
        EXPECT_EQ(b.nasFolderName + b.nasFolderDisk + b.nasFolderType + b.nasFolderStatus + b.nasFolderUser,
                  a->nasFolderName + a->nasFolderDisk + a->nasFolderType + a->nasFolderStatus + a->nasFolderUser);
        EXPECT_EQ(b.lastBackTime, "");
        ASSERT_EQ(b.folders.size(), a->folders.size());
        EXPECT_EQ(b.folders.front().path, folder.string());
        EXPECT_EQ(b.folders.back().path, a->folders.back().path);
        EXPECT_EQ(b.folders.back().sizeText, a->folders.back().sizeText);
        EXPECT_EQ(b.totalBytes, 5u); // measured on disk again
        ASSERT_EQ(b.schedules.size(), a->schedules.size());
        if (!b.schedules.empty()) {
            const BackupScheduleInfo& s = b.schedules.front();
            EXPECT_EQ(s.setType + "/" + s.setDate, a->schedules.front().setType + "/" + a->schedules.front().setDate);
            EXPECT_EQ(Text(s.nextRun), Text(a->schedules.front().nextRun));
            EXPECT_EQ(s.key, a->schedules.front().key);
        }
        ++a;
    }
    // 31 March 2024 02:30 does not exist in CET; the stored parts are those of the run.
    const std::string key = tasks.front().schedules.front().key;
    EXPECT_EQ(store.ReadTaskValue("Task 0 ü", key + "_next_set_hour"), "3");

    // Deleting a task takes its section and its name.
    store.SaveTaskList(tasks, "Task 1 ü");
    std::string file = ReadFile(store.File());
    EXPECT_EQ(file.find("[Task 1 ü]"), std::string::npos);
    EXPECT_EQ(store.LoadTasks().size(), 59u);
    EXPECT_EQ(store.ReadTaskValue(CTaskStore::kSettingSection, "Total_task_number"), "59");
}

TEST(TaskStore, ConventionsOfTheFile)
{
    TempDir dir;
    CTaskStore store((dir / "Nas_BackUp_Task.ini").string());
    EXPECT_EQ(store.ReadTaskValue("x", "y"), "GetPrivateProfileString fail!!");
    store.WriteTaskValue("T", "k", "v");
    EXPECT_EQ(store.ReadTaskValue("T", "k"), "v");
    store.WriteTaskValue("T", "k", "CLR");
    EXPECT_EQ(store.ReadTaskValue("T", "k"), "GetPrivateProfileString fail!!");
    store.WriteTaskValue("T", "k", "clr"); // only "CLR" deletes
    EXPECT_EQ(store.ReadTaskValue("T", "k"), "clr");

    // Two colons in a row name two tasks; a schedule list that reads as the
    // default text means no schedule.
    platform::WritePrivateProfileString(CTaskStore::kSettingSection, "Total_task_name", "A::B:", store.File());
    platform::WritePrivateProfileString("A", "Total_schedule_name", "GetPrivateProfileString fail!!", store.File());
    std::list<BackupTaskInfo> tasks = store.LoadTasks();
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_EQ(tasks.front().taskName, "A");
    EXPECT_TRUE(tasks.front().schedules.empty());
    EXPECT_TRUE(tasks.back().schedules.empty());

    // A replaced schedule leaves no keys behind.
    BackupScheduleInfo s = schedule::MakeSchedule("day", "", 1700000000);
    tasks.front().schedules = {s};
    store.SaveTasks(tasks);
    EXPECT_EQ(store.ReadTaskValue("A", "Total_schedule_name"), s.key + ":");
    store.DeleteScheduleKeys("A", s.key);
    EXPECT_EQ(ReadFile(store.File()).find(s.key), std::string::npos);

    EXPECT_EQ(CTaskStore::PathBeside("/opt/quom.ini.d/quom.ini"), "/opt/quom.ini.d/Nas_BackUp_Task.ini");
    EXPECT_EQ(MakeMD5Key(""), "D41D8CD98F00B204E9800998ECF8427E");
}

TEST(TaskStore, TaskNamesAreCheckedAsTheFileMatchesThem)
{
    std::list<BackupTaskInfo> tasks(1);
    tasks.front().taskName = "Photos";
    EXPECT_EQ(CheckNewTaskName("photos", tasks), TASK_NAME_TAKEN);
    EXPECT_EQ(CheckNewTaskName("Photos 2", tasks), TASK_NAME_OK);
    EXPECT_EQ(CheckNewTaskName("a]b", tasks), TASK_NAME_BAD_CHARACTER);
    EXPECT_EQ(CheckNewTaskName("[a", tasks), TASK_NAME_BAD_CHARACTER);
    EXPECT_EQ(CheckNewTaskName("a:b", tasks), TASK_NAME_BAD_CHARACTER);
    EXPECT_EQ(CheckNewTaskName("ini_nas_backup_task_setting", tasks), TASK_NAME_RESERVED);
    EXPECT_EQ(CheckNewTaskName("", tasks), TASK_NAME_EMPTY);
}

TEST(FolderSize, CountsFilesOnceAndFollowsNoLinks)
{
    TempDir dir;
    fs::create_directories(dir / "a" / "b");
    WriteFile(dir / "a" / "one", std::string(1000, 'x'));
    WriteFile(dir / "a" / "b" / "two", std::string(24, 'x'));
    fs::create_directory_symlink(dir / "a", dir / "a" / "b" / "loop");
    fs::create_symlink(dir / "a" / "one", dir / "a" / "link");
    EXPECT_EQ(GetFolderSize((dir / "a").string()), 1024u);
    EXPECT_EQ(GetFolderSize((dir / "missing").string()), 0u);
    EXPECT_EQ(FormatFileSize(0), "0 Bytes");
    EXPECT_EQ(FormatFileSize(1023), "1023 Bytes");
    EXPECT_EQ(FormatFileSize(1024), "1 KB");
    EXPECT_EQ(FormatFileSize(1048575), "1023 KB");
    EXPECT_EQ(FormatFileSize(1048576), "1.00 MB");
    EXPECT_EQ(FormatFileSize(1073741824), "1.00 GB");
}

TEST(Schedule, FirstRunsAtTheirBoundaries)
{
    platform::ScopedTimeZone tz(kCet);
    platform::ManualClock clock(At(2025, 4, 9, 14, 0, 0)); // a Wednesday
    platform::ScopedClock scoped(clock);
    std::time_t now = platform::WallNow();
    using namespace schedule;

    EXPECT_EQ(Text(FirstDailyRun(now, 14, 0, 0)), "2025-04-09 14:00:00"); // the same second: today
    EXPECT_EQ(Text(FirstDailyRun(now, 13, 59, 59)), "2025-04-10 13:59:59");
    EXPECT_EQ(Text(FirstWeeklyRun(now, 3, 14, 0, 0)), "2025-04-09 14:00:00");
    EXPECT_EQ(Text(FirstWeeklyRun(now, 3, 13, 0, 0)), "2025-04-16 13:00:00");
    EXPECT_EQ(Text(FirstWeeklyRun(now, 5, 9, 0, 0)), "2025-04-11 09:00:00");
    EXPECT_EQ(Text(FirstWeeklyRun(now, 0, 9, 0, 0)), "2025-04-13 09:00:00");
    EXPECT_EQ(Text(FirstMonthlyRun(now, 31, 8, 0, 0)), "2025-05-31 08:00:00"); // April has 30 days
    clock.SetNow(At(2025, 1, 5, 12, 0, 0));
    EXPECT_EQ(Text(FirstMonthlyRun(platform::WallNow(), 31, 8, 0, 0)), "2025-01-31 08:00:00");
    clock.SetNow(At(2025, 1, 31, 9, 0, 0));
    EXPECT_EQ(Text(FirstMonthlyRun(platform::WallNow(), 31, 8, 0, 0)), "2025-03-31 08:00:00");
    clock.SetNow(At(2025, 1, 30, 0, 0, 0));
    EXPECT_EQ(Text(FirstMonthlyRun(platform::WallNow(), 29, 0, 0, 0)), "2025-03-29 00:00:00");
    clock.SetNow(At(2024, 1, 30, 0, 0, 0));
    EXPECT_EQ(Text(FirstMonthlyRun(platform::WallNow(), 29, 0, 0, 0)), "2024-02-29 00:00:00");

    EXPECT_EQ(DaysInMonth(1900, 2), 28);
    EXPECT_EQ(DaysInMonth(2000, 2), 29);
    EXPECT_EQ(DaysInMonth(2100, 2), 28);
    EXPECT_EQ(DaysInMonth(2024, 4), 30);
    EXPECT_EQ(DaysInMonth(2024, 12), 31);
}

TEST(Schedule, AdvanceKeepsTheWallClockAcrossDaylightSaving)
{
    platform::ScopedTimeZone tz(kCet);
    using namespace schedule;
    BackupScheduleInfo day = MakeSchedule("day", "", At(2024, 3, 30, 10, 0, 0));
    std::time_t next = AdvanceRun(day, day.nextRun);
    EXPECT_EQ(Text(next), "2024-03-31 10:00:00");
    EXPECT_EQ(next - day.nextRun, 23 * 3600);
    BackupScheduleInfo week = MakeSchedule("week", "Sunday", At(2024, 10, 20, 10, 0, 0));
    EXPECT_EQ(Text(AdvanceRun(week, week.nextRun)), "2024-10-27 10:00:00");

    BackupScheduleInfo month = MakeSchedule("month", "31", At(2024, 3, 31, 6, 0, 0));
    EXPECT_EQ(Text(AdvanceRun(month, month.nextRun)), "2024-05-31 06:00:00");
    month = MakeSchedule("month", "30", At(2025, 1, 30, 6, 0, 0));
    EXPECT_EQ(Text(AdvanceRun(month, month.nextRun)), "2025-03-30 06:00:00");
    BackupScheduleInfo once = MakeSchedule("one", "unexecute", At(2025, 1, 30, 6, 0, 0));
    EXPECT_EQ(AdvanceRun(once, once.nextRun + 99999), once.nextRun);

    EXPECT_FALSE(IsLate(day.nextRun + 3600, day.nextRun));
    EXPECT_TRUE(IsLate(day.nextRun + 3601, day.nextRun));
    // The key follows the run, its type and its date.
    EXPECT_NE(day.key, MakeSchedule("day", "", next).key);
    EXPECT_NE(day.key, MakeSchedule("week", "", day.nextRun).key);
    EXPECT_EQ(day.key, MakeSchedule("day", "", day.nextRun).key);
}

} // namespace
