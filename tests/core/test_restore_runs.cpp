// Restore and the task runs against the emulated device's real rsync daemon:
// a backup comes back whole into its deleted folder and into another folder,
// a task of another device is refused, one task runs at a time, and a
// schedule pass gives each due task its own result and moves its schedule on.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <tuple>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "BackupRuns.h"
#include "Clock.h"
#include "EmulatedNas.h"
#include "RsycRestore.h"
#include "Schedule.h"
#include "TaskStore.h"
#include "stdafx.h"

TOLVANE_PRIVATE_NETWORK();

namespace fs = std::filesystem;
using testsupport::Boxes;
using testsupport::EmulatedNas;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::Tree;
using testsupport::WriteFile;

namespace {

class Runs : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(dir / "program");
        GetNasContext()->SetIniPath((dir / "program" / "quom.ini").string());
        nas = std::make_unique<EmulatedNas>("user = admin:pw:15\ncommunity = c0mm\nrsync = 1\n"
                                            "folder = 1:backups:Disk1:1\nfolder = 2:second [2]:Disk2:1\n" +
                                            testsupport::DiskRoots(dir.path()));
        ASSERT_TRUE(nas->Started());
        nas->LogInContext("admin", "pw");
        CTaskStore().CreateTaskStore();
    }
    void TearDown() override { GetNasContext()->EndTask(); }

    BackupTaskInfo Task(const std::string& name, const std::string& share, const std::string& disk,
                        const std::vector<fs::path>& folders)
    {
        BackupTaskInfo t;
        t.taskName = name;
        t.nasFolderSet = 1;
        t.nasIp = EmulatedNas::kAddress;
        t.nasCommunity = GetNasContext()->m_community;
        t.nasFolderName = share;
        t.nasFolderDisk = disk;
        t.nasUser = "admin";
        for (const fs::path& f : folders)
            t.folders.push_back({f.filename().string(), "", "", f.string()});
        return t;
    }

    TempDir dir;
    std::unique_ptr<EmulatedNas> nas;
    platform::JobControl control;
    Boxes boxes;
};

TEST_F(Runs, BackupThenRestoreBothWays)
{
    const fs::path a = dir / "home" / "Photos 'x'";
    WriteFile(a / "one.txt", "one");
    WriteFile(a / "sub dir" / "two $x.bin", std::string(70000, 'b'));
    fs::create_directories(a / "empty");
    const fs::path b = dir / "home" / "Music";
    WriteFile(b / "m.txt", "music");
    const BackupTaskInfo task = Task("Home", "backups", "Disk1", {a, b});
    const auto treeA = Tree(a), treeB = Tree(b);

    ASSERT_TRUE(CheckNasFolder(task));
    CTaskStore().SaveTasks({task});
    BackupRunResult backup = DoBackup(task, 1700000000, control);
    ASSERT_TRUE(backup.started);
    ASSERT_TRUE(backup.success) << ::testing::PrintToString(boxes.Take());

    // The local folders and their parent are gone: restored to where they were.
    fs::remove_all(dir / "home");
    BackupRunResult restore = DoRestoreToOriginal(task, 1700000100, control);
    EXPECT_TRUE(restore.success) << ::testing::PrintToString(boxes.Take());
    EXPECT_EQ(restore.description, "Home : restore processing Finish!!");
    EXPECT_EQ(Tree(a), treeA);
    EXPECT_EQ(Tree(b), treeB);
    ASSERT_EQ(fs::path(restore.resultFile).filename().string().rfind("R_Home_", 0), 0u) << restore.resultFile;
    const std::string result = ReadFile(restore.resultFile);
    EXPECT_NE(result.find("Copy file from NAS Folder: backups/Photos 'x'\r\n"), std::string::npos);
    EXPECT_NE(result.find("Copy file from NAS Folder: backups/Music\r\n"), std::string::npos);
    // Restores leave the last backup time alone.
    EXPECT_EQ(CTaskStore().ReadTaskValue("Home", "Last_Back_Time"), backup.lastBackTime);
    // The device folder is the one the backup made, whatever name the list shows.
    BackupTaskInfo shown = task;
    shown.folders.front().folderName = "Photos";
    fs::remove_all(a);
    EXPECT_TRUE(DoRestoreToOriginal(shown, 1700000150, control).success) << ::testing::PrintToString(boxes.Take());
    EXPECT_EQ(Tree(a), treeA);

    // Into another folder, whose parent is missing too: <target>/<name>/.
    const fs::path target = dir / "elsewhere" / "deeper";
    BackupRunResult other = DoRestoreToOtherPlace(task, "deeper", target.string(), 1700000200, control);
    EXPECT_TRUE(other.success) << ::testing::PrintToString(boxes.Take());
    EXPECT_EQ(Tree(target / "Photos 'x'"), treeA);
    EXPECT_EQ(Tree(target / "Music"), treeB);
    EXPECT_TRUE(boxes.Take().empty());

    // Logged in to another device now: the task's device is refused, at the first folder.
    GetNasContext()->m_deviceAddress = "198.18.1.77";
    fs::remove_all(dir / "home");
    BackupRunResult refused = DoRestoreToOriginal(task, 1700000300, control);
    EXPECT_TRUE(refused.started);
    EXPECT_FALSE(refused.success);
    EXPECT_EQ(refused.description, "Home : restore processing Error!!");
    EXPECT_EQ(boxes.Take(), (std::vector<std::string>{"Restore Task : Home ,Restore server not available, please "
                                                      "check NAS link or reboot the NAS!!"}));
    EXPECT_FALSE(fs::exists(a));
    EXPECT_FALSE(GetNasContext()->IsTaskRunning());

    // A device folder that is gone is reported as such.
    BackupTaskInfo gone = task;
    gone.nasFolderName = "nothere";
    EXPECT_FALSE(CheckNasFolder(gone));
    gone = task;
    gone.nasFolderDisk = "Disk2"; // the name is there, on the other disk
    EXPECT_FALSE(CheckNasFolder(gone));
}

// Every entry below root with what a restore must bring back: its kind, its
// mode, its time and its contents or link target.
std::map<std::string, std::string> FullTree(const fs::path& root)
{
    std::map<std::string, std::string> out;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
        struct stat st {};
        EXPECT_EQ(::lstat(e.path().c_str(), &st), 0);
        // Its own name: relative() would follow a link to its target's.
        const std::string rel = e.path().lexically_relative(root).string();
        if (S_ISLNK(st.st_mode)) {
            out[rel] = "l " + fs::read_symlink(e.path()).string();
            continue;
        }
        std::string entry = (S_ISDIR(st.st_mode) ? "d " : "f ") + std::to_string(st.st_mode & 07777) + " " +
                            std::to_string(st.st_mtime);
        if (S_ISREG(st.st_mode))
            entry += " " + ReadFile(e.path());
        out[rel] = entry;
    }
    return out;
}

// Folders whose names the daemon would read as patterns, or a careless
// parser would cut, come back each with its own files, links, times and
// private modes; a file that is there keeps its own mode. "Linked" is a link
// to a folder kept on another disk: its contents are backed up, and come
// back through the link or as a real folder elsewhere.
TEST_F(Runs, AwkwardNamesComeBackExactly)
{
    const fs::path home = dir / "home";
    const fs::path kept = dir / "other disk" / "Linked docs";
    fs::create_directories(kept);
    fs::create_directories(home);
    fs::create_symlink(kept, home / "Linked");
    std::vector<fs::path> folders;
    for (const char* name : {"Photos [2019]", "Photos 1", "a?c", "x*", "st*r", "q?", "trail ", "it's \"q\"", "b\\s [x]",
                             "b\\s x", "Linked"}) {
        const fs::path f = home / name;
        WriteFile(f / "id_key", std::string("key of ") + name);
        WriteFile(f / "deep" / "note.txt", name);
        fs::create_symlink("id_key", f / "link");
        fs::create_symlink("../id_key", f / "deep" / "up");
        folders.push_back(f);
    }
    // Private modes and old times, set last so that the folders keep theirs.
    for (const fs::path& f : folders) {
        for (const fs::path& p : {f / "id_key", f / "deep" / "note.txt", f / "deep", f}) {
            fs::permissions(p, fs::is_directory(p) ? fs::perms(0700) : fs::perms(0600));
            fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::hours(240));
        }
    }
    ::chmod(home.c_str(), 0700);
    std::map<std::string, std::map<std::string, std::string>> source;
    for (const fs::path& f : folders)
        source[f.filename()] = FullTree(f);
    // Older device folders that the names, read as patterns, would match.
    const fs::path device = dir / "disk1" / "backups";
    for (const char* older : {"Photos 2", "abc", "xyz"})
        WriteFile(device / older / "id_key", std::string("older ") + older);
    const auto olderTrees = Tree(device);
    const BackupTaskInfo task = Task("Odd", "backups", "Disk1", folders);
    ASSERT_TRUE(DoBackup(task, 1700000000, control).success) << ::testing::PrintToString(boxes.Take());
    EXPECT_FALSE(fs::is_symlink(device / "Linked"));
    // Each in a folder of exactly its name (the service keeps links
    // munged), the older ones untouched.
    for (const fs::path& f : folders) {
        ASSERT_TRUE(fs::is_directory(device / f.filename())) << f.filename();
        std::map<std::string, std::string> copy = Tree(device / f.filename());
        for (auto& [path, entry] : copy)
            if (entry.rfind("l:/rsyncd-munged/", 0) == 0)
                entry = "l:" + entry.substr(17);
        EXPECT_EQ(copy, Tree(f)) << f.filename();
    }
    std::map<std::string, std::string> after = Tree(device);
    for (const auto& [path, contents] : olderTrees)
        EXPECT_EQ(after[path], contents) << path;
    EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(device), fs::directory_iterator())),
              olderTrees.size() / 2 + folders.size());

    const fs::path target = dir / "restored";
    BackupRunResult other = DoRestoreToOtherPlace(task, "restored", target.string(), 1700000100, control);
    EXPECT_TRUE(other.success) << ::testing::PrintToString(boxes.Take());
    for (const fs::path& f : folders)
        EXPECT_EQ(FullTree(target / f.filename()), source[f.filename()]) << f.filename();
    EXPECT_EQ(fs::status(target).permissions(), fs::perms(0700));
    EXPECT_FALSE(fs::is_symlink(target / "Linked"));

    // Back to where they were: gone ones come back as they were, a file
    // that is there keeps its mode and gets its contents back.
    fs::remove_all(home / "Photos 1");
    fs::remove_all(kept / "deep");
    const fs::path changed = home / "Photos [2019]" / "id_key";
    WriteFile(changed, "changed since");
    fs::permissions(changed, fs::perms(0640));
    // One changed in place, its size and time as they were.
    const fs::path inPlace = home / "a?c" / "id_key";
    const fs::file_time_type backedUp = fs::last_write_time(inPlace);
    WriteFile(inPlace, "KEY OF A?C");
    fs::last_write_time(inPlace, backedUp);
    EXPECT_TRUE(DoRestoreToOriginal(task, 1700000200, control).success) << ::testing::PrintToString(boxes.Take());
    EXPECT_EQ(FullTree(home / "Photos 1"), source["Photos 1"]);
    EXPECT_EQ(FullTree(home / "a?c"), source["a?c"]);
    EXPECT_EQ(ReadFile(changed), "key of Photos [2019]");
    EXPECT_EQ(fs::status(changed).permissions(), fs::perms(0640));
    EXPECT_TRUE(fs::is_symlink(home / "Linked"));
    EXPECT_EQ(FullTree(kept), source["Linked"]);

    // Into a device folder whose own name is read as a pattern: each part of
    // the path is read on its own.
    const BackupTaskInfo second = Task("Odd 2", "second [2]", "Disk2", {home / "b\\s x", home / "x*"});
    ASSERT_TRUE(DoBackup(second, 1700000300, control).success) << ::testing::PrintToString(boxes.Take());
    EXPECT_TRUE(DoRestoreToOtherPlace(second, "again", (dir / "again").string(), 1700000400, control).success)
        << ::testing::PrintToString(boxes.Take());
    for (const char* name : {"b\\s x", "x*"})
        EXPECT_EQ(FullTree(dir / "again" / name), FullTree(home / name)) << name;
}

TEST_F(Runs, OneTaskAtATimeAndEachItsOwnResult)
{
    const fs::path a = dir / "a", b = dir / "b";
    WriteFile(a / "f", "a");
    WriteFile(b / "f", "b");
    const std::time_t now = platform::WallNow();
    BackupTaskInfo first = Task("First", "second [2]", "Disk2", {a});
    BackupTaskInfo daily = Task("Daily", "backups", "Disk1", {b});
    BackupTaskInfo once = Task("Once", "backups", "Disk1", {a});
    first.schedules.push_back(schedule::MakeSchedule("day", "", now - 120));
    daily.schedules.push_back(schedule::MakeSchedule("day", "", now - 60));
    once.schedules.push_back(schedule::MakeSchedule("one", "unexecute", now - 30));
    const std::list<BackupTaskInfo> tasks{first, daily, once};
    CTaskStore().SaveTasks(tasks);

    // Another task runs: nothing starts, the schedules wait.
    ASSERT_TRUE(GetNasContext()->TryStartTask("Busy"));
    EXPECT_FALSE(GetNasContext()->TryStartTask("Other"));
    EXPECT_FALSE(DoBackup(daily, now, control).started);
    EXPECT_FALSE(DoRestoreToOriginal(daily, now, control).started);
    EXPECT_TRUE(RunDueSchedules(tasks, control).empty());
    EXPECT_EQ(CTaskStore().LoadTask("Once").schedules.front().setDate, "unexecute");
    EXPECT_EQ(GetNasContext()->GetRunningTaskName(), "Busy");
    GetNasContext()->EndTask();

    // The first task's rsync fails (its module is gone); the others still succeed.
    ASSERT_TRUE(nas->dev->Ok("rsync module missing disk2"));
    std::vector<ScheduleRunResult> pass = RunDueSchedules(tasks, control);
    ASSERT_EQ(pass.size(), 3u);
    EXPECT_EQ(pass[0].description, "First : backup processing Error!!");
    EXPECT_EQ(pass[1].description, "Daily : backup processing Finish!!");
    EXPECT_EQ(pass[2].description, "Once : backup processing Finish!!");
    EXPECT_TRUE(pass[1].ran && pass[1].success && pass[2].success);
    // One start time for the pass, one result file per task.
    EXPECT_NE(pass[1].resultFile, pass[2].resultFile);
    const auto stamp = [](const std::string& file, const std::string& name) {
        return file.substr(file.find("B_" + name + "_") + name.size() + 3);
    };
    EXPECT_EQ(stamp(pass[1].resultFile, "Daily"), stamp(pass[2].resultFile, "Once"));
    EXPECT_EQ(ReadFile(dir / "disk1" / "backups" / "b" / "f"), "b");
    EXPECT_FALSE(GetNasContext()->IsTaskRunning());

    // The daily schedule moved on one day under a new key; the one-time one is finished.
    CTaskStore store;
    const BackupScheduleInfo moved = store.LoadTask("Daily").schedules.front();
    EXPECT_EQ(moved.nextRun, schedule::AddDays(now - 60, 1));
    EXPECT_EQ(moved.key, pass[1].schedule.key);
    EXPECT_NE(moved.key, daily.schedules.front().key);
    EXPECT_EQ(store.ReadTaskValue("Daily", daily.schedules.front().key + "_set_type"), CTaskStore::kReadDefault);
    EXPECT_EQ(store.ReadTaskValue("Daily", "Last_Back_Time"), pass[1].lastBackTime);
    EXPECT_EQ(store.ReadTaskValue("First", "Last_Back_Time"), "");
    EXPECT_EQ(store.LoadTask("Once").schedules.front().setDate, "finish");

    // The next pass: nothing due, the finished one-time schedule never runs again.
    std::list<BackupTaskInfo> after{store.LoadTask("First"), store.LoadTask("Daily"), store.LoadTask("Once")};
    EXPECT_TRUE(RunDueSchedules(after, control).empty());
    ASSERT_TRUE(nas->dev->Ok("rsync module missing off"));

    // A pass shows no box: the failed module's rsync error line is told, not shown.
    EXPECT_TRUE(boxes.Take().empty());
    EXPECT_NE(pass[0].notice.find("First: rsync error: "), std::string::npos) << pass[0].notice;
    EXPECT_NE(ReadFile(pass[0].resultFile).find("rsync error: "), std::string::npos);

    // Two folders of one last name would merge on the device: the task fails
    // and nothing is copied.
    WriteFile(dir / "c" / "f", "c");
    WriteFile(dir / "d" / "c" / "f", "d");
    BackupTaskInfo twins = Task("Twins", "backups", "Disk1", {dir / "c", dir / "d" / "c"});
    twins.schedules.push_back(schedule::MakeSchedule("day", "", now - 60));
    CTaskStore().SaveTasks({twins});
    pass = RunDueSchedules({twins}, control);
    ASSERT_EQ(pass.size(), 1u);
    EXPECT_EQ(pass[0].description, "Twins : backup processing Error!!");
    EXPECT_FALSE(fs::exists(dir / "disk1" / "backups" / "c"));
    EXPECT_EQ(store.ReadTaskValue("Twins", "Last_Back_Time"), "");
    EXPECT_TRUE(boxes.Take().empty());
    EXPECT_EQ(pass[0].notice.rfind("Twins: Two folders of this task are named \"c\".", 0), 0u) << pass[0].notice;
    // Refused before rsync starts: the result file has the reason all the same.
    EXPECT_NE(ReadFile(pass[0].resultFile).find("Two folders of this task are named \"c\"."), std::string::npos)
        << pass[0].resultFile;

    // Unattended, every folder is tried: one that fails does not keep the
    // next from the device. A task deleted while it ran gets no section back.
    WriteFile(dir / "p2" / "f", "p2");
    BackupTaskInfo partial = Task("Partial", "backups", "Disk1", {dir / "absent", dir / "p2"});
    partial.schedules.push_back(schedule::MakeSchedule("day", "", now - 60));
    BackupTaskInfo deleted = Task("Deleted", "backups", "Disk1", {b});
    deleted.schedules.push_back(schedule::MakeSchedule("day", "", now - 60));
    CTaskStore().SaveTasks({partial, deleted});
    platform::JobControl deleting;
    deleting.progress = [&](int, const std::string& text) {
        if (text == "Backup processing" && GetNasContext()->GetRunningTaskName() == "Deleted")
            CTaskStore().SaveTaskList({partial, deleted}, "Deleted");
    };
    pass = RunDueSchedules({partial, deleted}, deleting);
    ASSERT_EQ(pass.size(), 2u);
    EXPECT_EQ(pass[0].description, "Partial : backup processing Error!!");
    EXPECT_EQ(ReadFile(dir / "disk1" / "backups" / "p2" / "f"), "p2");
    EXPECT_EQ(pass[1].description, "Deleted : backup processing Finish!!");
    EXPECT_FALSE(store.HasTask("Deleted"));
    EXPECT_EQ(store.ReadTaskValue("Deleted", "Last_Back_Time"), CTaskStore::kReadDefault);

    // So would a folder of that name that another stored task backs up into
    // the same device folder (the device known by its MAC, its address has
    // changed since): the run is refused, naming that task.
    BackupTaskInfo work = Task("Work", "backups", "Disk1", {dir / "w" / "c"});
    work.nasIp = "198.18.7.7";
    work.nasMac = "02:00:00:00:00:0A";
    BackupTaskInfo single = Task("Single", "backups", "Disk1", {dir / "c"});
    single.nasMac = "02:00:00:00:00:0a";
    CTaskStore().SaveTasks({work, single});
    const std::string clash = "A folder named \"c\" of task \"Work\" is backed up into backups on Disk1 already.\n"
                              "Tasks that back up into one NAS folder need different folder names!!";
    EXPECT_FALSE(DoBackup(single, now, control).success);
    EXPECT_EQ(boxes.Take(),
              (std::vector<std::string>{clash, "BackUP Task : Single ,process initial error, please try again!!"}));
    EXPECT_FALSE(fs::exists(dir / "disk1" / "backups" / "c"));
    // One place: the device by address or MAC, the disk, the device folder
    // and the folder's last name, byte for byte; a task does not clash with itself.
    const std::vector<std::tuple<const char*, std::function<void(BackupTaskInfo&)>, bool>> places{
        {"same MAC", [](BackupTaskInfo&) {}, true},
        {"same address",
         [](BackupTaskInfo& t) {
             t.nasIp = EmulatedNas::kAddress;
             t.nasMac = "02:00:00:00:00:0B";
         },
         true},
        {"other device", [](BackupTaskInfo& t) { t.nasMac = "02:00:00:00:00:0B"; }, false},
        {"other disk", [](BackupTaskInfo& t) { t.nasFolderDisk = "Disk2"; }, false},
        {"other folder", [](BackupTaskInfo& t) { t.nasFolderName = "second"; }, false},
        {"other name", [&](BackupTaskInfo& t) { t.folders.front().path = (dir / "w" / "C").string(); }, false},
        {"a pattern of the name", [&](BackupTaskInfo& t) { t.folders.front().path = (dir / "w" / "[c]").string(); },
         false},
        {"itself", [](BackupTaskInfo& t) { t.taskName = "Single"; }, false},
    };
    for (const auto& [what, change, clashes] : places) {
        BackupTaskInfo other = work;
        change(other);
        EXPECT_EQ(CRsycBackup::FindFolderClash(single, {other}), clashes ? clash : "") << what;
    }

    // A monthly day that cannot be read, and a stored time with a part out
    // of range (whatever the schedule's type), are reported once and left
    // alone; a task deleted, or given another schedule, since the pass began
    // is not written to.
    BackupTaskInfo broken = Task("Broken", "backups", "Disk1", {a});
    broken.schedules.push_back(schedule::MakeSchedule("month", "x", now - 60));
    BackupTaskInfo farYear = Task("FarYear", "backups", "Disk1", {a});
    farYear.schedules.push_back(schedule::MakeSchedule("day", "", now - 60));
    BackupTaskInfo badMonth = Task("BadMonth", "backups", "Disk1", {a});
    badMonth.schedules.push_back(schedule::MakeSchedule("one", "unexecute", now + 60));
    BackupTaskInfo gone = Task("Gone", "backups", "Disk1", {a});
    gone.schedules.push_back(schedule::MakeSchedule("day", "", now - 60));
    BackupTaskInfo replaced = Task("Replaced", "backups", "Disk1", {a});
    replaced.schedules.push_back(schedule::MakeSchedule("day", "", now - 60));
    BackupTaskInfo newer = replaced;
    newer.schedules.front() = schedule::MakeSchedule("week", "Monday", now + 86400);
    CTaskStore().SaveTasks({broken, farYear, badMonth, newer});
    store.WriteTaskValue("FarYear", farYear.schedules.front().key + "_next_set_year", "-2147483648");
    store.WriteTaskValue("BadMonth", badMonth.schedules.front().key + "_next_set_month", "13");
    const std::list<BackupTaskInfo> raced{broken, store.LoadTask("FarYear", false), store.LoadTask("BadMonth", false),
                                          gone, replaced};
    pass = RunDueSchedules(raced, control);
    std::string reported;
    for (const ScheduleRunResult& r : pass) {
        reported += r.taskName + (r.ran ? " ran;" : ";");
        EXPECT_NE(ReadFile(r.resultFile).find("its schedule's time cannot be read"), std::string::npos) << r.taskName;
    }
    EXPECT_EQ(reported, "Broken;FarYear;BadMonth;");
    EXPECT_TRUE(RunDueSchedules(raced, control).empty());
    EXPECT_EQ(store.ReadTaskValue("Gone", "Total_schedule_name"), CTaskStore::kReadDefault);
    EXPECT_EQ(store.ReadTaskValue("Replaced", "Total_schedule_name"), newer.schedules.front().key + ":");

    // Stopped because the program ends: no last backup time, still due.
    BackupTaskInfo stopped = Task("Stopped", "backups", "Disk1", {a});
    stopped.schedules.push_back(schedule::MakeSchedule("day", "", now - 60));
    CTaskStore().SaveTasks({stopped});
    std::stop_source stop;
    platform::JobControl ending;
    ending.stop = stop.get_token();
    ending.progress = [&stop](int, const std::string& text) {
        if (text == "Backup processing")
            stop.request_stop();
    };
    pass = RunDueSchedules({stopped}, ending);
    ASSERT_EQ(pass.size(), 1u);
    EXPECT_FALSE(pass[0].success);
    EXPECT_EQ(store.LoadTask("Stopped").schedules.front().key, stopped.schedules.front().key);
    EXPECT_EQ(store.ReadTaskValue("Stopped", "Last_Back_Time"), "");
    EXPECT_NE(ReadFile(pass[0].resultFile).find("stopped because the program ended"), std::string::npos)
        << pass[0].resultFile;

    // A task's step that ends by an exception is recorded as a run not made
    // and its schedule moves on; the pass goes on with the next task.
    BackupTaskInfo throws = Task("Throws", "backups", "Disk1", {a});
    throws.schedules.push_back(schedule::MakeSchedule("day", "", now - 60));
    BackupTaskInfo next = Task("Next", "backups", "Disk1", {b});
    next.schedules.push_back(schedule::MakeSchedule("day", "", now - 60));
    CTaskStore().SaveTasks({throws, next});
    int started = 0;
    platform::JobControl failing;
    failing.progress = [&started](int, const std::string& text) {
        if (text == "Backup processing" && started++ == 0)
            throw std::runtime_error("no thread left");
    };
    pass = RunDueSchedules({throws, next}, failing);
    ASSERT_EQ(pass.size(), 2u);
    const std::string failed = "the schedule check failed: no thread left";
    EXPECT_EQ(pass[0].description, "Throws : backup processing Error!! " + failed);
    EXPECT_EQ(pass[0].notice, "Throws: " + failed);
    EXPECT_NE(ReadFile(pass[0].resultFile).find("Backup processing Error!! " + failed), std::string::npos);
    EXPECT_EQ(store.LoadTask("Throws").schedules.front().nextRun, schedule::AddDays(now - 60, 1));
    EXPECT_EQ(pass[0].schedule.nextRun, schedule::AddDays(now - 60, 1));
    EXPECT_EQ(pass[1].description, "Next : backup processing Finish!!");
    EXPECT_FALSE(GetNasContext()->IsTaskRunning());
    EXPECT_TRUE(boxes.Take().empty());
}

// The wall clock of the system, moved on by hand: a run that lasts hours.
class LongRunClock : public platform::SystemClock {
public:
    std::time_t Now() override { return platform::SystemClock::Now() + jumped.load(); }
    std::atomic<std::time_t> jumped{0};
};

// A schedule that comes due while the program runs another task waits for
// that run, however long it lasts, and is then backed up: it is late only
// when the program was not there to run it.
TEST_F(Runs, SchedulesWaitingOnAnotherRunAreNotLate)
{
    const fs::path a = dir / "a", b = dir / "b";
    WriteFile(a / "f", "a");
    WriteFile(b / "f", "b");
    LongRunClock clock;
    const platform::ScopedClock scoped(clock);
    const std::time_t hours = std::time_t{3} * 3600;
    // Waited behind a scheduled run, and behind a run the user started.
    for (const bool behindPass : {true, false}) {
        BackupTaskInfo first = Task("First", "backups", "Disk1", {a});
        first.schedules.push_back(schedule::MakeSchedule("day", "", clock.Now() - 60));
        BackupTaskInfo waits = Task("Waits", "backups", "Disk1", {b});
        waits.schedules.push_back(schedule::MakeSchedule("day", "", clock.Now() + (behindPass ? 60 : -60)));
        ASSERT_TRUE(CTaskStore().SaveTasks({first, waits}));
        platform::JobControl lasting;
        lasting.progress = [&clock](int, const std::string& text) {
            if (text == "Backup processing" && GetNasContext()->GetRunningTaskName() == "First")
                clock.jumped += hours;
        };
        if (behindPass) {
            const std::vector<ScheduleRunResult> pass = RunDueSchedules({first, waits}, lasting);
            ASSERT_EQ(pass.size(), 1u);
            EXPECT_EQ(pass[0].description, "First : backup processing Finish!!");
        } else {
            ASSERT_TRUE(GetNasContext()->TryStartTask("Busy"));
            EXPECT_TRUE(RunDueSchedules({waits}, control).empty());
            clock.jumped += hours;
            GetNasContext()->EndTask();
        }
        const std::vector<ScheduleRunResult> after = RunDueSchedules({waits}, control);
        ASSERT_EQ(after.size(), 1u) << behindPass;
        EXPECT_EQ(after[0].description, "Waits : backup processing Finish!!") << behindPass;
        EXPECT_EQ(after[0].schedule.nextRun, schedule::AddDays(waits.schedules.front().nextRun, 1)) << behindPass;
    }
}

// A task follows its device (known by its MAC, case ignored) to the
// device's new address; a task of another device stays where it was.
TEST_F(Runs, TaskFollowsItsDevice)
{
    const std::string mac = CopyLogin().mac;
    std::string lower = mac;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_NE(lower, mac);
    const std::vector<std::tuple<const char*, std::string, std::string, std::string>> cases{
        {"same MAC", "198.18.1.77", lower, EmulatedNas::kAddress},
        {"other MAC", "198.18.1.77", "02:00:00:00:00:0B", ""},
        {"no MAC", "198.18.1.77", "", ""},
        {"same address", EmulatedNas::kAddress, mac, ""},
    };
    for (const auto& [what, address, taskMac, moved] : cases) {
        BackupTaskInfo t = Task("T", "backups", "Disk1", {});
        t.nasIp = address;
        t.nasMac = taskMac;
        EXPECT_EQ(NewDeviceAddress(t), moved) << what;
    }

    // A scheduled run goes to the new address, which the task keeps.
    const fs::path a = dir / "a";
    WriteFile(a / "f", "a");
    BackupTaskInfo moved = Task("Moved", "backups", "Disk1", {a});
    moved.nasIp = "198.18.1.77";
    moved.nasMac = lower;
    moved.schedules.push_back(schedule::MakeSchedule("day", "", platform::WallNow() - 60));
    CTaskStore().SaveTasks({moved});
    const std::vector<ScheduleRunResult> pass = RunDueSchedules({moved}, control);
    ASSERT_EQ(pass.size(), 1u);
    EXPECT_EQ(pass[0].description, "Moved : backup processing Finish!!");
    EXPECT_EQ(ReadFile(dir / "disk1" / "backups" / "a" / "f"), "a");
    EXPECT_EQ(CTaskStore().ReadTaskValue("Moved", "NAS_IP"), EmulatedNas::kAddress);
}

// Writes that fail are told in the row and a box or notice, and the last
// backup time shown stays the one the task file holds.
TEST_F(Runs, UnstoredWritesAreTold)
{
    const fs::path a = dir / "a";
    WriteFile(a / "f", "a");
    BackupTaskInfo once = Task("Once", "backups", "Disk1", {a});
    once.lastBackTime = "earlier";
    once.schedules.push_back(schedule::MakeSchedule("one", "unexecute", platform::WallNow() - 30));
    CTaskStore store;
    ASSERT_TRUE(store.SaveTasks({once}));
    const testsupport::ReadOnlyFile readOnly(store.File());
    ASSERT_TRUE(readOnly.Ok());

    const BackupRunResult now = DoBackup(once, 1700000000, control);
    EXPECT_TRUE(now.success);
    EXPECT_EQ(now.description, "Once : backup processing Finish!!; the last backup time could not be stored");
    EXPECT_EQ(now.lastBackTime, "earlier");
    EXPECT_EQ(boxes.Take(), std::vector<std::string>{"BackUP Task : Once ,the last backup time could not be stored."
                                                     "\nPlease check that " +
                                                     store.File() + " can be written."});

    const std::vector<ScheduleRunResult> pass = RunDueSchedules({once}, control);
    ASSERT_EQ(pass.size(), 1u);
    EXPECT_TRUE(pass[0].ran && pass[0].success);
    const std::string told = "the last backup time could not be stored; its finish could not be stored";
    EXPECT_EQ(pass[0].description, "Once : backup processing Finish!!; " + told);
    EXPECT_EQ(pass[0].notice, "Once: " + told);
    EXPECT_EQ(pass[0].lastBackTime, "earlier");
    EXPECT_EQ(pass[0].schedule.setDate, "finish");
    EXPECT_EQ(store.LoadTask("Once").schedules.front().setDate, "unexecute");
    EXPECT_EQ(store.ReadTaskValue("Once", "Last_Back_Time"), "earlier");
    EXPECT_TRUE(boxes.Take().empty());
}

// Files above a size are refused (EFBIG), as on a full disk, while it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : m_signal(std::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_signal);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
    void (*m_signal)(int);
};

// A due schedule that is not run leaves a System Log row with the reason
// and a result file that says the same, on its first pass, without a box;
// a schedule several runs behind leaves one row and moves past them all.
TEST_F(Runs, DueSchedulesNotRunAreRecorded)
{
    const fs::path a = dir / "a";
    WriteFile(a / "f", "a");
    const std::time_t now = platform::WallNow();
    const std::time_t h = 3600, d = 86400;
    struct Case {
        const char* name;
        const char* type;
        const char* share;
        const char* address;
        std::time_t due;
        std::string reason;
        std::time_t nextRun; // after the pass
    };
    const std::vector<Case> cases{
        {"Gone", "day", "nothere", EmulatedNas::kAddress, now - 60, "device folder nothere on Disk1 not found",
         schedule::AddDays(now - 60, 1)},
        {"Off", "day", "backups", "198.18.1.99", now - 60, "device not answering at 198.18.1.99",
         schedule::AddDays(now - 60, 1)},
        {"Unrouted", "day", "backups", "198.19.255.1", now - 60, "no route to the device at 198.19.255.1",
         schedule::AddDays(now - 60, 1)},
        {"Misspelt", "day", "backups", "198.18.1", now - 60, "the device address 198.18.1 is not an address",
         schedule::AddDays(now - 60, 1)},
        {"Slept", "day", "backups", EmulatedNas::kAddress, now - 2 * h - 600, "2 h 10 min late, not run",
         schedule::AddDays(now - 2 * h - 600, 1)},
        {"Behind", "day", "backups", EmulatedNas::kAddress, now - 2 * d - 2 * h,
         "3 runs missed, the first 2 d 2 h 0 min late, not run", schedule::AddDays(now - 2 * d - 2 * h, 3)},
        {"Once", "one", "backups", EmulatedNas::kAddress, now - 2 * h - 600, "2 h 10 min late, not run",
         now - 2 * h - 600},
    };
    std::list<BackupTaskInfo> tasks;
    for (const Case& c : cases) {
        BackupTaskInfo t = Task(c.name, c.share, "Disk1", {a});
        t.nasIp = c.address;
        t.schedules.push_back(schedule::MakeSchedule(c.type, c.type == std::string("one") ? "unexecute" : "", c.due));
        tasks.push_back(t);
    }
    CTaskStore store;
    store.SaveTasks(tasks);

    const std::vector<ScheduleRunResult> pass = RunDueSchedules(tasks, control);
    ASSERT_EQ(pass.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const ScheduleRunResult& r = pass[i];
        EXPECT_FALSE(r.ran) << c.name;
        EXPECT_EQ(r.description, std::string(c.name) + " : backup processing Error!! " + c.reason);
        EXPECT_EQ(r.notice, std::string(c.name) + ": " + c.reason);
        EXPECT_NE(ReadFile(r.resultFile).find("Backup processing Error!! " + c.reason), std::string::npos) << c.name;
        EXPECT_EQ(fs::path(r.resultFile).parent_path(), dir / "program" / "LOG");
        EXPECT_EQ(store.ReadTaskValue(c.name, "Last_Back_Time"), "") << c.name;
        EXPECT_EQ(store.LoadTask(c.name).schedules.front().nextRun, c.nextRun) << c.name;
    }
    EXPECT_EQ(store.LoadTask("Once").schedules.front().setDate, "finish");
    EXPECT_TRUE(boxes.Take().empty());
    // Nothing is due any more: no second row for the runs missed.
    std::list<BackupTaskInfo> after;
    for (const Case& c : cases)
        after.push_back(store.LoadTask(c.name));
    const std::vector<ScheduleRunResult> next = RunDueSchedules(after, control);
    EXPECT_EQ(next.size(), 0u);

    // A walk of the device folders that the device cuts short says nothing
    // about the folder: its error is the reason, not a folder not found.
    BackupTaskInfo cut = Task("Cut", "backups", "Disk1", {a});
    cut.schedules.push_back(schedule::MakeSchedule("day", "", now - 60));
    store.SaveTasks({cut});
    ASSERT_TRUE(nas->dev->Ok("snmp fail 1000 1"));
    const std::vector<ScheduleRunResult> cutShort = RunDueSchedules({cut}, control);
    ASSERT_TRUE(nas->dev->Ok("snmp clear"));
    ASSERT_EQ(cutShort.size(), 1u);
    EXPECT_EQ(cutShort[0].description, "Cut : backup processing Error!! device at " +
                                           std::string(EmulatedNas::kAddress) + " answered with error 2");

    // A late monthly schedule next runs on the first of its days still
    // ahead, months without that day passed over; the runs it missed make
    // one row.
    platform::ScopedTimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
    const auto at = [](int y, int mo, int day) { return schedule::MakeTime(y, mo, day, 9, 0, 0); };
    struct Month {
        const char* day;
        std::time_t due, found, next;
        const char* reason;
    };
    const std::vector<Month> months{
        {"20", at(2026, 11, 20), at(2026, 12, 10), at(2026, 12, 20), "20 d 0 h 0 min late, not run"},
        {"20", at(2026, 11, 20), at(2026, 12, 25), at(2027, 1, 20),
         "2 runs missed, the first 35 d 0 h 0 min late, not run"},
        {"31", at(2026, 3, 31), at(2026, 4, 10), at(2026, 5, 31), "10 d 0 h 0 min late, not run"},
        {"15", at(2026, 12, 15), at(2027, 1, 3), at(2027, 1, 15), "19 d 0 h 0 min late, not run"},
        {"31", at(2026, 12, 31), at(2027, 2, 2), at(2027, 3, 31),
         "2 runs missed, the first 33 d 0 h 0 min late, not run"},
        {"20", at(2026, 7, 20), at(2026, 12, 10), at(2026, 12, 20),
         "5 runs missed, the first 143 d 1 h 0 min late, not run"},
    };
    for (const Month& m : months) {
        platform::ManualClock clock(m.found);
        const platform::ScopedClock scoped(clock);
        BackupTaskInfo t = Task("Monthly", "backups", "Disk1", {a});
        t.schedules.push_back(schedule::MakeSchedule("month", m.day, m.due));
        ASSERT_TRUE(store.SaveTasks({t}));
        const std::string what = schedule::FormatTime(m.due, "%x") + " found " + schedule::FormatTime(m.found, "%x");
        const std::vector<ScheduleRunResult> late = RunDueSchedules({t}, control);
        ASSERT_EQ(late.size(), 1u) << what;
        EXPECT_EQ(late[0].description, std::string("Monthly : backup processing Error!! ") + m.reason) << what;
        EXPECT_EQ(schedule::FormatTime(store.LoadTask("Monthly").schedules.front().nextRun, "%c"),
                  schedule::FormatTime(m.next, "%c"))
            << what;
    }

    // A move the store cannot take: the schedule moves on in memory all the
    // same and does not come due again before its next run; its row says so
    // once, and the first pass whose write succeeds stores it.
    const std::time_t due = at(2026, 12, 1);
    platform::ManualClock clock(due + 2 * h);
    const platform::ScopedClock scoped(clock);
    BackupTaskInfo full = Task("Full", "backups", "Disk1", {a});
    full.schedules.push_back(schedule::MakeSchedule("day", "", due));
    ASSERT_TRUE(store.SaveTasks({full}));
    const auto passRows = [&] { // the pass's results kept as the page keeps them
        std::vector<std::string> rows;
        for (const ScheduleRunResult& r : RunDueSchedules({full}, control)) {
            if (full.schedules.front().key == r.oldKey)
                full.schedules.front() = r.schedule;
            rows.push_back(r.description);
        }
        return rows;
    };
    auto limit = std::make_unique<FileSizeLimit>(fs::file_size(store.File()) - 1);
    EXPECT_EQ(passRows(), (std::vector<std::string>{"Full : backup processing Error!! 2 h 0 min late, not run; "
                                                    "its next run could not be stored"}));
    EXPECT_EQ(full.schedules.front().nextRun, due + d);
    EXPECT_EQ(store.LoadTask("Full").schedules.front().nextRun, due);
    EXPECT_EQ(passRows(), std::vector<std::string>{});
    clock.SetNow(due + d + 2 * h);
    EXPECT_EQ(passRows(), (std::vector<std::string>{"Full : backup processing Error!! 2 h 0 min late, not run"}));
    limit.reset();
    EXPECT_EQ(passRows(), std::vector<std::string>{""});
    EXPECT_EQ(full.schedules.front().storedKey, "");
    EXPECT_EQ(store.LoadTask("Full").schedules.front().key, full.schedules.front().key);
    EXPECT_EQ(store.LoadTask("Full").schedules.front().nextRun, due + 2 * d);
    EXPECT_EQ(passRows(), std::vector<std::string>{});
}

} // namespace
