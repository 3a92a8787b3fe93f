// The backup engine against the emulated device's real rsync daemon: a tree
// of awkward names arrives whole, failures end with the right message and
// never hang, and the engine's log reading is checked on logs the installed
// rsync wrote.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <filesystem>
#include <map>
#include <netinet/in.h>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "EmulatedNas.h"
#include "Clock.h"
#include "Process.h"
#include "RsycBackup.h"
#include "RsycRestore.h"
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

// A tree whose names a shell or a careless parser would trip over.
void MakeAwkwardTree(const fs::path& root)
{
    fs::create_directories(root);
    fs::create_directories(root / "empty folder");
    fs::create_directories(root / "sub $HOME `id`; rm -rf x");
    WriteFile(root / "a b  c.txt", "spaces");
    WriteFile(root / "quote ' and \".txt", "quotes");
    WriteFile(root / "*?[].txt", "globs");
    WriteFile(root / "-leading dash", "dash");
    WriteFile(root / "日本語のファイル.txt", "cjk");
    WriteFile(root / "empty", "");
    WriteFile(root / "total size is 5.txt", "not a summary");
    WriteFile(root / "rsync error here", "not an error");
    WriteFile(root / "sub $HOME `id`; rm -rf x" / "inner;$(true).txt", std::string(100000, 'x'));
}

class Backup : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(dir / "program");
        GetNasContext()->SetIniPath((dir / "program" / "quom.ini").string());
        nas = std::make_unique<EmulatedNas>("rsync = 1\nfolder = 1:my backup:Disk1:1\n" +
                                            testsupport::DiskRoots(dir.path()));
        ASSERT_TRUE(nas->Started());
        store.CreateTaskStore();
        task.taskName = "Photos task";
        task.nasFolderSet = 1;
        task.nasIp = EmulatedNas::kAddress;
        task.nasFolderName = "my backup";
        task.nasFolderDisk = "Disk1";
        task.nasUser = "admin";
    }

    void AddFolder(const fs::path& path) { task.folders.push_back({path.filename().string(), "", "", path.string()}); }

    BackupRunResult RunTask()
    {
        platform::JobControl control;
        control.progress = [this](int percent, const std::string&) {
            if (percent >= 0)
                positions.push_back(percent);
        };
        return RunBackupJob(task, 1700000000, control);
    }

    fs::path Device(const std::string& rel = "") const { return dir / "disk1" / "my backup" / rel; }

    TempDir dir;
    std::unique_ptr<EmulatedNas> nas;
    CTaskStore store{(dir / "program" / "Nas_BackUp_Task.ini").string()};
    BackupTaskInfo task;
    std::vector<int> positions;
    Boxes boxes;
};

TEST_F(Backup, AwkwardTreeArrivesWhole)
{
    platform::ScopedTimeZone utc("UTC0");
    const fs::path a = dir / "src 'one' $x";
    const fs::path b = dir / "-second";
    fs::create_directories(b);
    MakeAwkwardTree(a);
    WriteFile(b / "file", "second folder");
    AddFolder(a);
    AddFolder(b);
    store.SaveTasks({task});
    // The run's log lives in a private folder of the temporary folder, gone afterwards.
    fs::create_directories(dir / "tmp");
    const char* oldTmp = getenv("TMPDIR");
    const std::string keptTmp = oldTmp ? oldTmp : "";
    setenv("TMPDIR", (dir / "tmp").c_str(), 1);

    BackupRunResult result = RunTask();
    if (oldTmp)
        setenv("TMPDIR", keptTmp.c_str(), 1);
    else
        unsetenv("TMPDIR");
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
    EXPECT_TRUE(result.success) << ::testing::PrintToString(boxes.Texts());
    EXPECT_TRUE(boxes.Texts().empty()) << boxes.Texts().front();
    EXPECT_EQ(Tree(Device(a.filename())), Tree(a));
    EXPECT_EQ(Tree(Device(b.filename())), Tree(b));

    // One result file for both folders, under LOG/, named by the start time.
    const fs::path logDir = dir / "program" / "LOG";
    ASSERT_EQ(result.resultFile, (logDir / "B_Photos task_2023_11_14_22_13_20_result.txt").string());
    std::string text = ReadFile(result.resultFile);
    EXPECT_NE(text.find("Copy file from Folder: " + a.string() + "\r\n"), std::string::npos);
    EXPECT_NE(text.find("Copy file from Folder: " + b.string() + "\r\n"), std::string::npos);
    EXPECT_NE(text.find("total size is"), std::string::npos);
    // Transfers of new files went to the file list, which is gone.
    EXPECT_EQ(text.find("<f+++++++++"), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(logDir), fs::directory_iterator()), 1);
    // They list the user's names: the user's alone.
    EXPECT_EQ(fs::status(logDir).permissions() | fs::status(result.resultFile).permissions(), fs::perms(0700));

    EXPECT_FALSE(result.lastBackTime.empty());
    EXPECT_EQ(store.ReadTaskValue("Photos task", "Last_Back_Time"), result.lastBackTime);
    EXPECT_FALSE(GetNasContext()->IsTaskRunning());

    ASSERT_FALSE(positions.empty());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.back(), 100);
    EXPECT_EQ(std::count(positions.begin(), positions.end(), 100), 1);

    // A task deleted while it backs up is not written back into the store.
    store.SaveTaskList({task}, "Photos task");
    EXPECT_TRUE(RunTask().success);
    EXPECT_EQ(store.ReadTaskValue("Photos task", "Last_Back_Time"), CTaskStore::kReadDefault);
}

TEST_F(Backup, FailuresEndWithTheirMessage)
{
    const fs::path src = dir / "src";
    WriteFile(src / "f", "x");
    AddFolder(src);
    const std::string server =
        "BackUP Task : Photos task ,Backup server not available, please check NAS link or reboot the NAS!!";

    // The service is down: one box says so, and why.
    ASSERT_TRUE(nas->dev->Ok("rsync port closed"));
    BackupRunResult r = RunTask();
    EXPECT_FALSE(r.success);
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{server + "\nSocket Connect Fail!!\nSocket Error code: 10061 ;\n"
                                                                "The attempt to connect was forcefully rejected."}));
    EXPECT_EQ(r.resultFile, "");
    // A failed backup is no last backup.
    EXPECT_EQ(store.ReadTaskValue("Photos task", "Last_Back_Time"), CTaskStore::kReadDefault);
    EXPECT_EQ(r.lastBackTime, "");
    EXPECT_FALSE(GetNasContext()->IsTaskRunning());
    EXPECT_EQ(r.description, "Photos task : backup processing Error!!");
    ASSERT_TRUE(nas->dev->Ok("rsync port open"));

    // The module is not offered: rsync's own error line, and it stays in the result.
    boxes.Clear();
    ASSERT_TRUE(nas->dev->Ok("rsync module missing disk1"));
    r = RunTask();
    EXPECT_FALSE(r.success);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0].rfind("rsync error: ", 0), 0u) << boxes.Texts()[0];
    EXPECT_NE(boxes.Texts()[0].find("(code 5)"), std::string::npos);
    EXPECT_NE(ReadFile(r.resultFile).find("Unknown module 'disk1'"), std::string::npos);
    EXPECT_FALSE(positions.empty() && positions.back() == 100);
    ASSERT_TRUE(nas->dev->Ok("rsync module missing off"));

    // The source folder is gone: no later folder runs.
    boxes.Clear();
    task.folders.push_front({"gone", "", "", (dir / "gone").string()});
    r = RunTask();
    EXPECT_FALSE(r.success);
    EXPECT_EQ(boxes.Texts(),
              (std::vector<std::string>{"Please check the Source Folder Path is correct!! ",
                                        "BackUP Task : Photos task ,process initial error, please try again!!"}));
    EXPECT_FALSE(fs::exists(Device("src")));
    task.folders.pop_front();

    // A second folder of the same last name (a task stored by an older
    // version) would merge into the first's on the device: refused before
    // anything is copied.
    boxes.Clear();
    WriteFile(dir / "other" / "src" / "g", "y");
    task.folders.push_back({"other src", "", "", (dir / "other" / "src").string() + "/"});
    r = RunTask();
    EXPECT_FALSE(r.success);
    EXPECT_EQ(boxes.Texts(),
              (std::vector<std::string>{"Two folders of this task are named \"src\".\nFolders of one task need "
                                        "different names!!",
                                        "BackUP Task : Photos task ,process initial error, please try again!!"}));
    EXPECT_EQ(r.description, "Photos task : backup processing Error!!");
    EXPECT_FALSE(fs::exists(Device("src")));
    task.folders.pop_back();

    // Nothing to back up, or nowhere to: a failure, not "Finish!!"; and a
    // result file whose name is too long fails the run, which names no file.
    struct Case {
        const char* what;
        bool folders;
        int folderSet;
        std::string name;
    };
    for (const Case& c : {Case{"no folders", false, 1, "Photos task"}, Case{"no device folder", true, 0, "Photos task"},
                          Case{"result name too long", true, 1, std::string(250, 'n')}}) {
        boxes.Clear();
        BackupTaskInfo odd = task;
        odd.taskName = c.name;
        odd.nasFolderSet = c.folderSet;
        if (!c.folders)
            odd.folders.clear();
        platform::JobControl control;
        r = RunBackupJob(odd, 1700000000, control);
        EXPECT_EQ(r.description, c.name + " : backup processing Error!!") << c.what;
        EXPECT_EQ(r.resultFile, "") << c.what;
        EXPECT_EQ(boxes.Texts().size(), 1u) << c.what;
    }

    // No rsync to run.
    boxes.Clear();
    CRsycBackup engine;
    engine.SetRsyncProgram((dir / "no-such-rsync").string());
    engine.SetTask(&task);
    engine.Run();
    EXPECT_FALSE(engine.IsSuccess());
    EXPECT_EQ(boxes.Texts(),
              (std::vector<std::string>{"BackUP Task : Photos task ,process execute error, please try again!!"}));
}

TEST_F(Backup, KilledOrStoppedRsyncEndsTheRun)
{
    const fs::path src = dir / "big";
    WriteFile(src / "f1", std::string(4 << 20, 'a'));
    AddFolder(src);
    // An rsync that is killed outright half a second into a slow transfer.
    const fs::path wrapper = dir / "rsync-killed";
    WriteFile(wrapper, "#!/bin/sh\n(sleep 0.5; kill -9 $$) &\nexec rsync --bwlimit=512 \"$@\"\n");
    fs::permissions(wrapper, fs::perms::owner_all);

    CRsycBackup engine;
    engine.SetRsyncProgram(wrapper.string());
    engine.SetTask(&task);
    engine.SetStartTime(1700000000);
    engine.Run();
    EXPECT_FALSE(engine.IsSuccess());
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], "rsync error: rsync ended by signal 9 (Killed)");
    EXPECT_NE(ReadFile(engine.GetResultFile()).find("rsync error: rsync ended by signal 9"), std::string::npos);

    // The exit status decides, summary or not: 24 (files vanished) is a
    // backup, 23 (some files not transferred) is not, with its code kept.
    for (int code : {24, 23}) {
        boxes.Clear();
        const fs::path exits = dir / ("rsync-exit-" + std::to_string(code));
        WriteFile(exits, "#!/bin/sh\nrsync \"$@\" && exit " + std::to_string(code) + "\n");
        fs::permissions(exits, fs::perms::owner_all);
        CRsycBackup ending;
        ending.SetRsyncProgram(exits.string());
        ending.SetTask(&task);
        ending.Run();
        EXPECT_EQ(ending.IsSuccess(), code == 24 ? 1 : 0) << code;
        const bool kept =
            ReadFile(ending.GetResultFile()).find("rsync error: rsync ended with code 23") != std::string::npos;
        EXPECT_EQ(kept, code == 23);
        EXPECT_EQ(boxes.Texts().size(), code == 24 ? 0u : 1u);
    }
    // A restore that missed files (24) did not bring the backup back.
    GetNasContext()->m_deviceAddress = task.nasIp;
    CRsycRestore missed;
    missed.SetRsyncProgram((dir / "rsync-exit-24").string());
    missed.SetTask(&task);
    missed.SetTargetPath((dir / "restored").string());
    missed.Run();
    EXPECT_EQ(missed.IsSuccess(), 0);
    EXPECT_EQ(fs::file_size(dir / "restored" / "big" / "f1"), 4u << 20); // rsync itself went well

    // A stop request ends rsync (its whole group) and the run at once.
    boxes.Clear();
    task.nasFolderName = "fresh share"; // nothing there yet: a slow transfer
    fs::create_directories(dir / "disk1" / "fresh share");
    std::stop_source stop;
    platform::JobControl control;
    control.stop = stop.get_token();
    CRsycBackup slow;
    const fs::path throttled = dir / "rsync-slow";
    WriteFile(throttled, "#!/bin/sh\nexec rsync --bwlimit=256 \"$@\"\n");
    fs::permissions(throttled, fs::perms::owner_all);
    slow.SetRsyncProgram(throttled.string());
    slow.SetControl(&control);
    slow.SetTask(&task);
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        stop.request_stop();
    });
    const auto t0 = std::chrono::steady_clock::now();
    slow.Run();
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_FALSE(slow.IsSuccess());
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_NE(ReadFile(slow.GetResultFile()).find("rsync error: stopped by the user"), std::string::npos);
}

// A device whose rsync port takes the connection and never answers: the
// run ends by itself on the program's clock, as a failure with its result
// file, no last backup time, and the task free again. rsync runs without a
// terminal, in a session of its own.
TEST_F(Backup, StalledServiceEndsTheRun)
{
    WriteFile(dir / "src" / "f", "x");
    AddFolder(dir / "src");
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    task.nasIp = "127.0.0.1";
    const fs::path wrapper = dir / "rsync-session";
    WriteFile(wrapper, "#!/bin/sh\ncut -d' ' -f6 /proc/$$/stat > '" + (dir / "session").string() + "'\necho $$ >> '" +
                           (dir / "session").string() + "'\nexec rsync \"$@\"\n");
    fs::permissions(wrapper, fs::perms::owner_all);

    platform::FastClock fast(20);
    platform::ScopedClock scoped(fast);
    // The device: takes rsync's greeting (the last bytes that move) and says nothing.
    std::atomic<int64_t> lastByte{-1};
    int peer = -1;
    std::thread device([&] {
        while (lastByte < 0 && (peer = ::accept(listener, nullptr, nullptr)) >= 0) {
            char buf[256];
            if (::read(peer, buf, sizeof buf) > 0)
                lastByte = platform::TickMs();
            else
                ::close(peer); // the engine's probe
        }
    });
    CRsycBackup engine;
    engine.SetRsyncProgram(wrapper.string());
    engine.SetPort(ntohs(address.sin_port));
    platform::JobControl control;
    const BackupRunResult r = engine.RunJob(task, 1700000000, control, "backup");
    const int64_t end = platform::TickMs();
    ::shutdown(listener, SHUT_RDWR);
    device.join();
    ::close(peer);
    ::close(listener);

    ASSERT_GE(lastByte, 0);
    EXPECT_LT(end - lastByte, 180000);
    EXPECT_GE(end - lastByte, CRsyncEngine::kStallMs);
    EXPECT_EQ(r.description, "Photos task : backup processing Error!!");
    EXPECT_NE(ReadFile(r.resultFile).find("rsync error: nothing moved for 150 seconds"), std::string::npos);
    EXPECT_EQ(store.ReadTaskValue("Photos task", "Last_Back_Time"), CTaskStore::kReadDefault);
    EXPECT_FALSE(GetNasContext()->IsTaskRunning());
    std::istringstream session(ReadFile(dir / "session"));
    std::string sid, pid;
    session >> sid >> pid;
    EXPECT_EQ(sid, pid);
}

// rsync never outlives the program: a program killed in a run takes its
// rsync along, and the run's private folder, locked while the run lives, is
// removed at the next start with the folders of other runs whose program is
// gone (one left half made included). A folder that an older copy's run,
// which locks nothing, still writes its log in stays.
TEST_F(Backup, RsyncEndsWithTheProgram)
{
    WriteFile(dir / "src" / "big", testsupport::RandomBytes(4 << 20, 1));
    AddFolder(dir / "src");
    const fs::path tmp = dir / "tmp", pidFile = dir / "rsync.pid";
    WriteFile(tmp / "tolvane-rsync-left" / "KEY.txt", "a log");
    fs::create_directories(tmp / ".tolvane-rsync-half");
    WriteFile(tmp / "tolvane-rsync-older" / "KEY.txt", "");
    const int olderLog = ::open((tmp / "tolvane-rsync-older" / "KEY.txt").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(olderLog, 0);
    const fs::path wrapper = dir / "rsync-slow";
    WriteFile(wrapper, "#!/bin/sh\necho $$ > '" + pidFile.string() + ".new'\nmv '" + pidFile.string() + ".new' '" +
                           pidFile.string() + "'\nexec rsync --bwlimit=64 \"$@\"\n");
    fs::permissions(wrapper, fs::perms::owner_all);
    const char* oldTmp = getenv("TMPDIR");
    const std::string keptTmp = oldTmp ? oldTmp : "";
    setenv("TMPDIR", tmp.c_str(), 1);
    auto folders = [&tmp] {
        std::set<std::string> names;
        for (const fs::directory_entry& e : fs::directory_iterator(tmp))
            names.insert(e.path().filename().string());
        return names;
    };
    // A copy of this program runs the task; rsync alone would take a minute.
    const pid_t program = ::fork();
    if (program == 0) {
        CRsycBackup engine;
        engine.SetRsyncProgram(wrapper.string());
        engine.SetTask(&task);
        engine.Run();
        _exit(0);
    }
    ASSERT_GT(program, 0);
    pid_t rsync = -1;
    for (int i = 0; i < 1000 && rsync <= 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        rsync = fs::exists(pidFile) ? std::stoi(ReadFile(pidFile)) : -1;
    }
    ASSERT_GT(rsync, 0);
    // While the program runs its run's folder stays, and so does the older
    // copy's; the others go.
    ASSERT_EQ(folders().size(), 4u);
    EXPECT_EQ(CRsyncEngine::RemoveStaleTempFolders(), 2);
    std::set<std::string> running = folders();
    ASSERT_EQ(running.erase("tolvane-rsync-older"), 1u);
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running.begin()->rfind("tolvane-rsync-", 0), 0u);
    EXPECT_NE(*running.begin(), "tolvane-rsync-left");
    ::close(olderLog);

    ::kill(program, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(program, &status, 0), program);
    // Gone, or a zombie left for its new parent to reap.
    auto alive = [rsync] {
        const std::string stat = ReadFile("/proc/" + std::to_string(rsync) + "/stat");
        const size_t paren = stat.rfind(')');
        return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z';
    };
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {
        gone = !alive();
        if (!gone)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone);
    EXPECT_EQ(CRsyncEngine::RemoveStaleTempFolders(), 2);
    EXPECT_TRUE(folders().empty());
    if (oldTmp)
        setenv("TMPDIR", keptTmp.c_str(), 1);
    else
        unsetenv("TMPDIR");
    if (!gone)
        ::kill(rsync, SIGKILL);
}

// A run's folder is locked from the moment it has its name: another copy
// starting up meanwhile never removes it, and a run always gets one.
TEST(TempFolders, MadeWhileAnotherCopyCleansUp)
{
    TempDir tmp;
    const char* oldTmp = getenv("TMPDIR");
    const std::string keptTmp = oldTmp ? oldTmp : "";
    setenv("TMPDIR", tmp.path().c_str(), 1);
    std::atomic<bool> making{true};
    std::thread otherCopy([&] {
        while (making)
            CRsyncEngine::RemoveStaleTempFolders();
    });
    int failed = 0, lost = 0;
    for (int i = 0; i < 3000; ++i) {
        int lock = -1;
        const std::string folder = CRsyncEngine::MakeTempFolder(&lock);
        if (folder.empty()) {
            ++failed;
            continue;
        }
        // Still there, and still ours, after the other copy had its go.
        const int probe = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        lost += probe < 0 || ::flock(probe, LOCK_EX | LOCK_NB) == 0;
        if (probe >= 0)
            ::close(probe);
        ::rmdir(folder.c_str());
        ::close(lock);
    }
    making = false;
    otherCopy.join();
    if (oldTmp)
        setenv("TMPDIR", keptTmp.c_str(), 1);
    else
        unsetenv("TMPDIR");
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(lost, 0);
    EXPECT_TRUE(fs::is_empty(tmp.path()));
}

// Logs written by the installed rsync (a local copy logs the same lines as
// one to a daemon), read line by line and as they grow.
TEST_F(Backup, ParsesLogsOfTheInstalledRsync)
{
    MakeAwkwardTree(dir / "src");
    const std::string log = (dir / "run.log").string();
    auto runRsync = [&] {
        platform::Process p;
        CRsycBackup command;
        ASSERT_TRUE(
            p.Start(command.BuildCommand((dir / "src").string(), log, EmulatedNas::kAddress, "disk1", "my backup")));
        ASSERT_TRUE(p.Wait(20000));
        ASSERT_EQ(p.ExitCode(), 0);
    };
    runRsync();

    CRsycBackup engine;
    engine.ResetLog(log);
    EXPECT_EQ(engine.PollLog(), 0);
    // 12 entries: the folder, its 2 sub-folders and 9 files (the empty folder counts).
    EXPECT_EQ(engine.TotalCount(), 12);
    EXPECT_EQ(engine.FileCount(), 9);
    EXPECT_EQ(engine.DirCount(), 3);
    EXPECT_EQ(engine.FolderProgress(), 100);
    EXPECT_TRUE(engine.IsSuccess());

    // A second run: one changed file, by its itemize code.
    fs::last_write_time(dir / "src" / "empty", fs::file_time_type::clock::now() - std::chrono::hours(1));
    WriteFile(dir / "src" / "a b  c.txt", "spaces, longer");
    const auto size = fs::file_size(log);
    runRsync();
    std::string appended = ReadFile(log).substr(size);
    int times = 0, changed = 0, summaries = 0;
    CRsycBackup second;
    size_t start = 0;
    for (size_t nl; (nl = appended.find('\n', start)) != std::string::npos; start = nl + 1) {
        int kind = second.ParseLogLine(appended.substr(start, nl - start));
        times += kind == CRsycBackup::LINE_FILE_TIME;
        changed += kind == CRsycBackup::LINE_FILE_CHANGED;
        summaries += kind == CRsycBackup::LINE_SUMMARY;
        EXPECT_NE(kind, CRsycBackup::LINE_ERROR);
    }
    EXPECT_EQ(times, 1);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(summaries, 1);
    EXPECT_EQ(second.TotalCount(), 12);

    // Read as it grows: a line cut in the middle is taken once it is whole.
    const std::string whole = ReadFile(log);
    const std::string grow = (dir / "grow.log").string();
    CRsycBackup reader;
    reader.ResetLog(grow);
    EXPECT_EQ(reader.PollLog(), 1); // no log yet
    const size_t cut = whole.find("files to consider") + 3;
    WriteFile(grow, whole.substr(0, cut));
    EXPECT_EQ(reader.PollLog(), 1);
    EXPECT_EQ(reader.TotalCount(), 0);
    WriteFile(grow, whole);
    EXPECT_EQ(reader.PollLog(), 0);
    EXPECT_EQ(reader.TotalCount(), 12);
    EXPECT_EQ(reader.FileCount(), 11); // both runs' transfers
}

TEST(BackupLog, CommandLineAndPaths)
{
    CRsycBackup engine;
    engine.SetRsyncProgram("rsync");
    EXPECT_EQ(engine.BuildCommand("/home/u/a b//c/", "/tmp/x/K.txt", "198.18.1.10", "disk1", "my share"),
              (std::vector<std::string>{"rsync", "-rltpD", "--human-readable", "--stats", "--progress", "--chmod=a+rwx",
                                        "--log-file=/tmp/x/K.txt", "--no-inc-recursive", "--contimeout=30",
                                        "--timeout=60", "/home/u/a b/c/", "QUOM@198.18.1.10::disk1/my share/c/"}));
    engine.SetPort(8730);
    EXPECT_EQ(engine.BuildCommand("/a", "/l", "198.18.1.10", "disk2", "s").back(), "QUOM@198.18.1.10::disk2/s/a/");
    EXPECT_EQ(engine.BuildCommand("/a", "/l", "198.18.1.10", "disk2", "s").at(10), "--port=8730");
    // A device path the service would read as a pattern: its folder is sent
    // first by name (an empty folder), then the path is named escaped.
    TempDir scratch;
    CRsycBackup odd;
    odd.SetRsyncProgram("rsync");
    EXPECT_TRUE(odd.BuildFirstCommand("/h/a b", "/l", "198.18.1.10", "disk1", "s", scratch / "first").empty());
    EXPECT_EQ(odd.BuildFirstCommand("/h/x*", "/l", "198.18.1.10", "disk1", "s [1]", scratch / "first"),
              (std::vector<std::string>{"rsync", "--dirs", "--stats", "--log-file=/l", "--contimeout=30",
                                        "--timeout=60", scratch / "first" / "x*", "QUOM@198.18.1.10::disk1/s \\[1]/"}));
    EXPECT_TRUE(fs::is_directory(scratch / "first" / "x*"));
    EXPECT_EQ(odd.BuildCommand("/h/x*", "/l", "198.18.1.10", "disk1", "s").back(), "QUOM@198.18.1.10::disk1/s/x\\*/");
    EXPECT_EQ(CRsycRestore().BuildCommand("/r/x y", "/l", "198.18.1.10", "disk1", "sh/Photos [2019]"),
              (std::vector<std::string>{"rsync", "-rlt", "--ignore-times",
                                        "--chmod=Du=rwx,Dgo=,Fu=rw,Fgo=", "--human-readable", "--stats", "--progress",
                                        "--log-file=/l", "--no-inc-recursive", "--contimeout=30", "--timeout=60",
                                        "QUOM@198.18.1.10::disk1/sh/Photos \\[2019]/", "/r/x y/"}));
    // A part of a source is a pattern only when it holds "*", "?" or "[".
    for (const auto& [path, escaped] : std::map<std::string, std::string>{{"a\\b ]", "a\\b ]"},
                                                                          {"a\\b*?[", "a\\\\b\\*\\?\\["},
                                                                          {"trail ", "trail "},
                                                                          {"d/s [1]/a\\b/", "d/s \\[1]/a\\b/"}})
        EXPECT_EQ(CRsyncEngine::EscapeSource(path), escaped) << path;
    EXPECT_EQ(CRsycBackup::NormalisePath("/"), "/");
    EXPECT_EQ(CRsycBackup::NormalisePath("//a///b//"), "/a/b");
    EXPECT_TRUE(CRsycBackup::IsFileListLine("2026/12/09 15:53:23 [10820] cd+++++++++ src/"));
    EXPECT_FALSE(CRsycBackup::IsFileListLine("2026/12/09 15:53:23 [10820] <f.st...... src/sub/f2"));
    EXPECT_FALSE(CRsycBackup::IsFileListLine("2026/12/09 15:53:23 [10820] total size is 9  speedup is 0.02"));

    // A full device: both of rsync's sides log the failure; one box tells it.
    Boxes boxes;
    const std::string full[] = {
        "2026/12/09 15:53:23 [10820] rsync error: error in file IO (code 11) at receiver.c(380) [receiver=3.2.7]",
        "2026/12/09 15:53:23 [10820] rsync error: error in file IO (code 11) at io.c(1700) [sender=3.2.7]"};
    for (const std::string& line : full)
        EXPECT_EQ(engine.ParseLogLine(line), CRsyncEngine::LINE_ERROR);
    EXPECT_EQ(boxes.Take().size(), 1u);
}

} // namespace
