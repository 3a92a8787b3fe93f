// The task store on disk and the schedule arithmetic on the program's clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

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
    // It holds device communities: private to the user, also when it was not.
    const fs::perms privateMode = fs::perms::owner_read | fs::perms::owner_write;
    EXPECT_EQ(fs::status(store.File()).permissions(), privateMode);
    fs::permissions(store.File(), fs::perms::group_read | fs::perms::others_read, fs::perm_options::add);
    store.CreateTaskStore();
    EXPECT_EQ(fs::status(store.File()).permissions(), privateMode);

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

TEST(TaskStore, EveryValueReadsBackByteForByte)
{
    TempDir dir;
    CTaskStore store((dir / "Nas_BackUp_Task.ini").string());
    store.CreateTaskStore();
    // Each value goes into every stored text of one task; "CLR" is an
    // ordinary value outside the schedule keys.
    const std::vector<std::string> values = {"Photos ", " Photos", "\t tab\t", "'q'", "\"q\"", "\"",
                                             "\"half",  "a=b=c",   ";x",       "x;y", "[s]",   "Fotos é日本",
                                             "CLR",     "clr",     "  ",       "",    "plain"};
    std::list<BackupTaskInfo> tasks;
    for (size_t i = 0; i < values.size(); ++i) {
        const std::string& v = values[i];
        BackupTaskInfo t;
        t.taskName = "V" + std::to_string(i);
        for (std::string* field :
             {&t.nasUser, &t.nasIp, &t.nasMac, &t.nasCommunity, &t.nasFolderName, &t.nasFolderDisk, &t.nasFolderType,
              &t.nasFolderStatus, &t.nasFolderUser, &t.lastBackTime, &t.taskBackSize})
            *field = v;
        t.folders.push_back({v, "", v, (dir / ("f" + std::to_string(i) + v)).string()});
        t.folders.push_back({"second", "", "1 KB", (dir / ("g" + std::to_string(i))).string()});
        t.schedules.push_back(schedule::MakeSchedule("week", "Monday", 1700000000 + static_cast<int>(i)));
        tasks.push_back(t);
    }
    // A path with a line break and a name no section can hold cannot be
    // stored: the save says so, and neither leaves a ghost in a list.
    BackupTaskInfo broken = tasks.front();
    broken.taskName = "Broken";
    broken.folders.front().path = (dir / "new\nline").string();
    std::list<BackupTaskInfo> all = tasks;
    all.push_back(broken);
    BackupTaskInfo unnamed = broken;
    unnamed.taskName = "a]b";
    all.push_back(unnamed);
    EXPECT_TRUE(store.SaveTasks(tasks));
    EXPECT_FALSE(store.SaveTasks(all));

    std::list<BackupTaskInfo> loaded = store.LoadTasks();
    ASSERT_EQ(loaded.size(), tasks.size() + 1);
    auto a = tasks.begin();
    for (const BackupTaskInfo& b : loaded) {
        if (a == tasks.end()) {
            EXPECT_EQ(b.taskName, "Broken");
            ASSERT_EQ(b.folders.size(), 1u);
            EXPECT_EQ(b.folders.front().path, broken.folders.back().path);
            break;
        }
        SCOPED_TRACE(a->taskName);
        for (auto field :
             {&BackupTaskInfo::nasUser, &BackupTaskInfo::nasIp, &BackupTaskInfo::nasMac, &BackupTaskInfo::nasCommunity,
              &BackupTaskInfo::nasFolderName, &BackupTaskInfo::nasFolderDisk, &BackupTaskInfo::nasFolderType,
              &BackupTaskInfo::nasFolderStatus, &BackupTaskInfo::nasFolderUser, &BackupTaskInfo::lastBackTime})
            EXPECT_EQ(b.*field, (*a).*field);
        EXPECT_EQ(store.ReadTaskValue(a->taskName, "Task_Back_Size"), a->taskBackSize);
        ASSERT_EQ(b.folders.size(), 2u);
        EXPECT_EQ(b.folders.front().folderName, a->folders.front().folderName);
        EXPECT_EQ(b.folders.front().sizeText, a->folders.front().sizeText);
        EXPECT_EQ(b.folders.front().path, a->folders.front().path);
        ASSERT_EQ(b.schedules.size(), 1u);
        EXPECT_EQ(b.schedules.front().key, a->schedules.front().key);
        ++a;
    }
    // Plain values stay as they were in the file; saving again changes nothing.
    const std::string file = ReadFile(store.File());
    EXPECT_NE(file.find("\nNAS_IP=plain\n"), std::string::npos);
    EXPECT_NE(file.find("\nNAS_IP=\" Photos\"\n"), std::string::npos);
    EXPECT_FALSE(store.SaveTasks(all));
    EXPECT_EQ(ReadFile(store.File()), file);
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

    // Two colons in a row name two tasks; a listed name without a section
    // (a delete cut short by an older program) is no task, and its name is
    // free; a schedule list that reads as the default text means no schedule.
    platform::WritePrivateProfileString(CTaskStore::kSettingSection, "Total_task_name", "A::B:Gone:", store.File());
    platform::WritePrivateProfileString("A", "Total_schedule_name", "GetPrivateProfileString fail!!", store.File());
    platform::WritePrivateProfileString("B", "NAS_IP", "198.18.1.2", store.File());
    std::list<BackupTaskInfo> tasks = store.LoadTasks();
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_EQ(tasks.front().taskName, "A");
    EXPECT_EQ(tasks.back().taskName, "B");
    EXPECT_TRUE(tasks.front().schedules.empty());
    EXPECT_TRUE(tasks.back().schedules.empty());
    EXPECT_EQ(CheckNewTaskName("gone", tasks), TASK_NAME_OK);

    // A part of a schedule's stored time that is not a number in its range
    // leaves the time unreadable.
    const std::time_t run = At(2025, 4, 9, 2, 0, 0);
    const std::pair<const char*, const char*> parts[] = {
        {"_next_set_year", "-2147483648"}, {"_next_set_year", "2147483647"}, {"_next_set_year", "99999999999"},
        {"_next_set_month", "13"},         {"_next_set_day", "0"},           {"_next_set_hour", "24"},
        {"_next_set_minute", "7x"},        {"_next_set_second", ""},         {"_next_set_second", nullptr},
    };
    for (const auto& [suffix, value] : parts) {
        BackupTaskInfo t = tasks.front();
        t.schedules = {schedule::MakeSchedule("day", "", run)};
        store.SaveTasks({t});
        EXPECT_EQ(store.LoadTask("A", false).schedules.front().nextRun, run);
        platform::WritePrivateProfileString("A", (t.schedules.front().key + suffix).c_str(), value, store.File());
        EXPECT_EQ(store.LoadTask("A", false).schedules.front().nextRun, schedule::kUnreadableRun)
            << suffix << "=" << (value ? value : "(none)");
    }

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

// Ends the process once the store has taken g_killAfter writes, as a kill
// or a power cut between two writes would.
int g_writes = 0;
int g_killAfter = -1;
void CountWrite(const std::string&)
{
    if (++g_writes == g_killAfter)
        _exit(0);
}

// A schedule moved on, a task edited (folders and schedule replaced) and a
// task deleted, each cut short after every one of its writes in turn: the
// next start loads each task whole, as it was or as it was going to be, no
// listed name lacks its section, the name of a task that is gone takes a new
// task cleanly, and a change that ran to its end leaves no key of the old
// state behind.
TEST(TaskStore, ACutShortChangeLeavesTheTaskWhole)
{
    platform::ScopedTimeZone tz(kCet);
    TempDir dir;
    CTaskStore store((dir / "Nas_BackUp_Task.ini").string());
    BackupTaskInfo before = MakeTask("T", "admin", (dir / "a").string());
    before.folders.push_back({"b", "", "1 KB", (dir / "b").string()});
    before.schedules.push_back(schedule::MakeSchedule("day", "", At(2025, 4, 9, 2, 0, 0)));
    BackupTaskInfo moved = before;
    moved.schedules.front() = schedule::MakeSchedule("day", "", At(2025, 4, 10, 2, 0, 0));
    BackupTaskInfo edited = moved;
    edited.folders.pop_front();
    edited.folders.push_back({"c", "", "2 KB", (dir / "c").string()});
    edited.schedules.front() = schedule::MakeSchedule("week", "Monday", At(2025, 4, 14, 3, 0, 0));
    const BackupTaskInfo other = MakeTask("U", "bob", (dir / "u").string());

    // The folders and the schedule are two lists, each whole on its own.
    auto Folders = [](const BackupTaskInfo& t) {
        std::string text;
        for (const BackupFolderInfo& f : t.folders)
            text += f.folderName + "|" + f.sizeText + "|" + f.path + ";";
        return text;
    };
    auto Schedules = [](const BackupTaskInfo& t) {
        std::string text;
        for (const BackupScheduleInfo& s : t.schedules)
            text += s.key + "|" + s.setType + "|" + s.setDate + "|" + Text(s.nextRun) + ";";
        return text;
    };
    auto Names = [](const std::list<BackupTaskInfo>& tasks) {
        std::string text;
        for (const BackupTaskInfo& t : tasks)
            text += t.taskName + ":";
        return text;
    };
    auto Find = [](const std::list<BackupTaskInfo>& tasks, const std::string& name) {
        auto at = std::find_if(tasks.begin(), tasks.end(), [&](const BackupTaskInfo& t) { return t.taskName == name; });
        return at == tasks.end() ? BackupTaskInfo{} : *at;
    };
    struct Change {
        const char* name;
        std::list<BackupTaskInfo> from;
        std::list<BackupTaskInfo> to;
        std::function<void()> run;
    };
    const Change changes[] = {
        {"schedule moved on",
         {before},
         {moved},
         [&] { store.MoveSchedule("T", before.schedules.front().key, moved.schedules.front()); }},
        {"task edited", {moved}, {edited}, [&] { store.SaveTasks({edited}); }},
        {"task deleted",
         {moved, other},
         {other},
         [&] {
             store.SaveTaskList({moved, other}, "T");
         }},
    };
    platform::SetProfileWriteObserver(CountWrite);
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name);
        fs::remove(store.File());
        store.SaveTasks(change.from);
        const std::string from = ReadFile(store.File());
        // How many writes the whole change takes.
        g_writes = 0;
        g_killAfter = -1;
        change.run();
        const int total = g_writes;
        ASSERT_GE(total, 2);
        const std::list<BackupTaskInfo> done = store.LoadTasks(false);
        EXPECT_EQ(Names(done), Names(change.to));
        for (const BackupTaskInfo& t : change.to) {
            EXPECT_EQ(Folders(Find(done, t.taskName)), Folders(t));
            EXPECT_EQ(Schedules(Find(done, t.taskName)), Schedules(t));
        }
        const std::string file = ReadFile(store.File());
        for (const BackupTaskInfo& t : change.from) {
            for (const BackupFolderInfo& f : t.folders) {
                const bool kept = Folders(Find(change.to, t.taskName)).find(f.path) != std::string::npos;
                EXPECT_EQ(file.find(MakeMD5Key(f.path)) != std::string::npos, kept) << f.path;
            }
            for (const BackupScheduleInfo& s : t.schedules)
                EXPECT_EQ(file.find(s.key), std::string::npos);
        }

        for (int n = 1; n < total; ++n) {
            SCOPED_TRACE("killed after write " + std::to_string(n) + " of " + std::to_string(total));
            WriteFile(store.File(), from);
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                g_writes = 0;
                g_killAfter = n;
                change.run();
                _exit(1);
            }
            int status = -1;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            std::list<BackupTaskInfo> loaded = store.LoadTasks(false);
            EXPECT_TRUE(Names(loaded) == Names(change.from) || Names(loaded) == Names(change.to)) << Names(loaded);
            for (const BackupTaskInfo& t : loaded) {
                const BackupTaskInfo was = Find(change.from, t.taskName), is = Find(change.to, t.taskName);
                EXPECT_TRUE(Folders(t) == Folders(was) || Folders(t) == Folders(is)) << Folders(t);
                EXPECT_TRUE(Schedules(t) == Schedules(was) || Schedules(t) == Schedules(is)) << Schedules(t);
            }
            const platform::ProfileSnapshot cut(store.File());
            for (const std::string& name :
                 SplitNameList(cut.Get(CTaskStore::kSettingSection, "Total_task_name", CTaskStore::kReadDefault)))
                EXPECT_TRUE(cut.HasSection(name)) << name << " is listed without its section";
            if (Find(loaded, "T").taskName.empty()) {
                BackupTaskInfo again = MakeTask("T", "bob", (dir / "n").string());
                loaded.push_back(again);
                store.SaveTasks(loaded);
                const BackupTaskInfo reused = store.LoadTask("T", false);
                EXPECT_EQ(Folders(reused) + Schedules(reused) + reused.nasUser, Folders(again) + "bob");
            }
        }
    }
    platform::SetProfileWriteObserver(nullptr);
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
    EXPECT_EQ(CheckNewTaskName(" a", tasks), TASK_NAME_BAD_CHARACTER);
    EXPECT_EQ(CheckNewTaskName("a\t", tasks), TASK_NAME_BAD_CHARACTER);
    EXPECT_EQ(CheckNewTaskName(std::string(20, 'a'), tasks), TASK_NAME_OK);
    EXPECT_EQ(CheckNewTaskName(std::string(21, 'a'), tasks), TASK_NAME_TOO_LONG);
    EXPECT_EQ(CheckNewTaskName(std::string(240, 'a'), tasks), TASK_NAME_TOO_LONG);
    std::string twenty;
    for (int i = 0; i < 20; ++i)
        twenty += "é"; // characters, not bytes
    EXPECT_EQ(CheckNewTaskName(twenty, tasks), TASK_NAME_OK);
    EXPECT_EQ(CheckNewTaskName(twenty + "é", tasks), TASK_NAME_TOO_LONG);
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

// The schedule texts under a locale whose clock runs to 24 hours, made from
// the system's locale sources for this test.
TEST(Schedule, TimeTextsCarryAmPmInEveryLocale)
{
    TempDir dir;
    int status = -1;
    testsupport::RunCommand("localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8").string() + "' 2>&1", &status);
    const std::string oldTime = std::setlocale(LC_TIME, nullptr);
    ::setenv("LOCPATH", dir.path().c_str(), 1);
    const bool german = std::setlocale(LC_TIME, "de_DE.UTF-8") != nullptr;
    ::unsetenv("LOCPATH");
    if (!german)
        GTEST_SKIP() << "no de_DE locale sources (Debian package locales) to make the locale from";

    platform::ScopedTimeZone tz(kCet);
    using schedule::FormatTime;
    EXPECT_EQ(FormatTime(At(2026, 12, 9, 22, 13, 20), "%p"), "PM");
    std::tm local = platform::LocalTime(At(2026, 12, 9, 22, 13, 20));
    char raw[32];
    EXPECT_EQ(std::strftime(raw, sizeof raw, "%p %I:%M:%S", &local), 9u) << "the locale leaves %p empty";
    const std::pair<std::time_t, const char*> rows[] = {
        {At(2026, 12, 9, 22, 13, 20), "PM 10:13:20, 09.12.2026"},
        {At(2026, 12, 9, 0, 0, 0), "AM 12:00:00, 09.12.2026"},
        {At(2026, 12, 9, 11, 59, 59), "AM 11:59:59, 09.12.2026"},
        {At(2026, 12, 9, 12, 0, 0), "PM 12:00:00, 09.12.2026"},
    };
    for (const auto& [t, text] : rows)
        EXPECT_EQ(FormatTime(t, "%p %I:%M:%S, %x"), text);
    EXPECT_EQ(FormatTime(At(2026, 12, 9, 22, 13, 20), "%%p %p"), "%p PM");
    std::setlocale(LC_TIME, oldTime.c_str());
}

TEST(Schedule, AdvanceKeepsTheWallClockAcrossDaylightSaving)
{
    platform::ScopedTimeZone tz(kCet);
    using namespace schedule;
    BackupScheduleInfo day = MakeSchedule("day", "", At(2024, 3, 30, 10, 0, 0));
    std::time_t next = AdvanceRun(day);
    EXPECT_EQ(Text(next), "2024-03-31 10:00:00");
    EXPECT_EQ(next - day.nextRun, 23 * 3600);
    BackupScheduleInfo week = MakeSchedule("week", "Sunday", At(2024, 10, 20, 10, 0, 0));
    EXPECT_EQ(Text(AdvanceRun(week)), "2024-10-27 10:00:00");

    BackupScheduleInfo month = MakeSchedule("month", "31", At(2024, 3, 31, 6, 0, 0));
    EXPECT_EQ(Text(AdvanceRun(month)), "2024-05-31 06:00:00");
    month = MakeSchedule("month", "30", At(2025, 1, 30, 6, 0, 0));
    EXPECT_EQ(Text(AdvanceRun(month)), "2025-03-30 06:00:00");
    BackupScheduleInfo once = MakeSchedule("one", "unexecute", At(2025, 1, 30, 6, 0, 0));
    EXPECT_EQ(AdvanceRun(once), once.nextRun);

    EXPECT_FALSE(IsLate(day.nextRun + 3600, day.nextRun));
    EXPECT_TRUE(IsLate(day.nextRun + 3601, day.nextRun));
    // The key follows the run, its type and its date.
    EXPECT_NE(day.key, MakeSchedule("day", "", next).key);
    EXPECT_NE(day.key, MakeSchedule("week", "", day.nextRun).key);
    EXPECT_EQ(day.key, MakeSchedule("day", "", day.nextRun).key);
}

} // namespace
