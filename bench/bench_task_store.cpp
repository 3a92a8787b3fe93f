// Loading the task store, next to the per-key reads of the profile
// functions in the same run (each read looks the file up anew, as loads did
// before they read the file once):
//   - 60 tasks of 15 folders each, with a schedule on every other task;
//   - one task of 5,000 folders: 20,000 folder keys in a file of about
//     3 MB. The per-key side reads the first 1,000 folders only (every read
//     of it takes the whole file again); counter est_all_s scales that to
//     all 5,000.
//   build/bin/bench_task_store
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <list>
#include <string>
#include <unistd.h>

#include "Profile.h"
#include "Schedule.h"
#include "TaskStore.h"

namespace fs = std::filesystem;

namespace {

const int kManyFolders = 5000; // 20,000 folder keys
const int kPerKeyFolders = 1000;

// A folder for the files, on tmpfs where there is one, removed at exit.
std::string g_dir;
void RemoveDir() { fs::remove_all(g_dir); }
std::string Folder()
{
    if (g_dir.empty()) {
        g_dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/bench-taskstore-XXXXXX" : "/tmp/bench-taskstore-XXXXXX";
        if (!::mkdtemp(g_dir.data()))
            std::abort();
        std::atexit(RemoveDir);
    }
    return g_dir;
}

// The file as the store writes it, made in one go (each write of the store
// reaches the disk on its own, which would make a setup of minutes).
std::string MakeStore(const std::string& name, int tasks, int folders)
{
    const std::string file = Folder() + "/" + name;
    std::string names;
    std::string sections;
    for (int t = 0; t < tasks; ++t) {
        const std::string task = "Task " + std::to_string(t);
        names += task + ":";
        std::string section = "[" + task + "]\n";
        std::string keys;
        for (int f = 0; f < folders; ++f) {
            const std::string path = "/home/user/Documents/Projects/" + task + "/Photographs and scans of " +
                                     std::string(static_cast<size_t>(180 + f % 200), 'x') + " number " +
                                     std::to_string(f);
            const std::string key = MakeMD5Key(path);
            keys += key + ":";
            section += key + "_Folder_name=Folder number " + std::to_string(f) + "\n" + key + "_Folder_ModifyDate=\n" +
                       key + "_Folder_size=1.23 MB\n" + key + "_Folder_path=" + path + "\n";
        }
        section += "Total_local_Folder_number=" + std::to_string(folders) + "\nTotal_local_Folder_name=" + keys + "\n";
        section += "NAS_Folder_name=backups\nNAS_Folder_disk=Disk1\nNAS_Folder_type=Samba\nNAS_Folder_status=Public\n"
                   "NAS_Folder_user=admin\nNAS_IP=198.18.7.2\nNAS_MAC=02:00:5E:10:00:01\nNAS_Community=c0mm\n"
                   "NAS_User=admin\nLast_Back_Time=\nTask_Back_Size=18.45 MB\n";
        std::string schedules;
        if (t % 2 == 0) {
            const BackupScheduleInfo s = schedule::MakeSchedule("day", "", 1900000000 + t * 60);
            schedules = s.key + ":";
            section += s.key + "_set_type=day\n" + s.key + "_set_date=\n" + s.key + "_next_set_year=2030\n" + s.key +
                       "_next_set_month=3\n" + s.key + "_next_set_day=17\n" + s.key + "_next_set_hour=18\n" + s.key +
                       "_next_set_minute=" + std::to_string(t) + "\n" + s.key + "_next_set_second=0\n";
        }
        section += "Total_schedule_name=" + schedules + "\n";
        sections += section;
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << "[INI_Nas_BackUp_Task_Setting]\nTotal_task_number=" << tasks << "\nTotal_task_name=" << names << "\n"
        << sections;
    return file;
}

// A load with one profile read per key, in the order a load takes them;
// at most maxFolders folders of each task.
std::list<BackupTaskInfo> PerKeyLoad(const std::string& file, int maxFolders)
{
    auto Read = [&file](const std::string& section, const std::string& key) {
        return platform::GetPrivateProfileString(section.c_str(), key.c_str(), CTaskStore::kReadDefault, file);
    };
    std::list<BackupTaskInfo> tasks;
    for (const std::string& name : SplitNameList(Read(CTaskStore::kSettingSection, "Total_task_name"))) {
        BackupTaskInfo task;
        task.taskName = name;
        for (auto [field, key] : {std::pair{&task.nasFolderName, "NAS_Folder_name"},
                                  {&task.nasFolderDisk, "NAS_Folder_disk"},
                                  {&task.nasFolderType, "NAS_Folder_type"},
                                  {&task.nasFolderStatus, "NAS_Folder_status"},
                                  {&task.nasFolderUser, "NAS_Folder_user"},
                                  {&task.nasIp, "NAS_IP"},
                                  {&task.nasMac, "NAS_MAC"},
                                  {&task.nasCommunity, "NAS_Community"},
                                  {&task.nasUser, "NAS_User"},
                                  {&task.lastBackTime, "Last_Back_Time"}})
            *field = Read(name, key);
        int count = 0;
        for (const std::string& key : SplitNameList(Read(name, "Total_local_Folder_name"))) {
            if (count++ == maxFolders)
                break;
            task.folders.push_back({Read(name, key + "_Folder_name"), "", Read(name, key + "_Folder_size"),
                                    Read(name, key + "_Folder_path")});
        }
        task.taskBackSize = Read(name, "Task_Back_Size");
        const std::string schedules = Read(name, "Total_schedule_name");
        if (!schedules.empty() && schedules != CTaskStore::kReadDefault) {
            for (const std::string& key : SplitNameList(schedules)) {
                BackupScheduleInfo s;
                s.key = key;
                s.setType = Read(name, key + "_set_type");
                s.setDate = Read(name, key + "_set_date");
                for (const char* part : {"_next_set_year", "_next_set_month", "_next_set_day", "_next_set_hour",
                                         "_next_set_minute", "_next_set_second"})
                    s.nextRun = s.nextRun * 100 + std::atoi(Read(name, key + part).c_str());
                task.schedules.push_back(s);
            }
        }
        tasks.push_back(std::move(task));
    }
    return tasks;
}

size_t Folders(const std::list<BackupTaskInfo>& tasks)
{
    size_t n = 0;
    for (const BackupTaskInfo& t : tasks)
        n += t.folders.size();
    return n;
}

const std::string& SixtyTasks()
{
    static const std::string file = MakeStore("sixty.ini", 60, 15);
    return file;
}

const std::string& ManyFolders()
{
    static const std::string file = MakeStore("many.ini", 1, kManyFolders);
    return file;
}

void BM_Load_60x15(benchmark::State& state)
{
    const CTaskStore store(SixtyTasks());
    for (auto _ : state) {
        const std::list<BackupTaskInfo> tasks = store.LoadTasks(false);
        if (Folders(tasks) != 60 * 15)
            state.SkipWithError("not every folder loaded");
    }
}
BENCHMARK(BM_Load_60x15)->Unit(benchmark::kMillisecond);

void BM_PerKeyReads_60x15(benchmark::State& state)
{
    for (auto _ : state) {
        const std::list<BackupTaskInfo> tasks = PerKeyLoad(SixtyTasks(), 15);
        if (Folders(tasks) != 60 * 15)
            state.SkipWithError("not every folder loaded");
    }
}
BENCHMARK(BM_PerKeyReads_60x15)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Load_20000Keys(benchmark::State& state)
{
    const CTaskStore store(ManyFolders());
    state.counters["file_MB"] = static_cast<double>(fs::file_size(ManyFolders())) / 1e6;
    for (auto _ : state) {
        const std::list<BackupTaskInfo> tasks = store.LoadTasks(false);
        if (Folders(tasks) != kManyFolders)
            state.SkipWithError("not every folder loaded");
    }
}
BENCHMARK(BM_Load_20000Keys)->Unit(benchmark::kMillisecond);

void BM_PerKeyReads_20000Keys_First1000Folders(benchmark::State& state)
{
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const std::list<BackupTaskInfo> tasks = PerKeyLoad(ManyFolders(), kPerKeyFolders);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (Folders(tasks) != kPerKeyFolders)
            state.SkipWithError("not every folder loaded");
    }
    state.counters["est_all_s"] =
        seconds / static_cast<double>(state.iterations()) * static_cast<double>(kManyFolders) / kPerKeyFolders;
}
BENCHMARK(BM_PerKeyReads_20000Keys_First1000Folders)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_SaveUnchanged_60x15(benchmark::State& state)
{
    const CTaskStore store(SixtyTasks());
    const std::list<BackupTaskInfo> tasks = store.LoadTasks(false);
    for (auto _ : state)
        store.SaveTasks(tasks);
}
BENCHMARK(BM_SaveUnchanged_60x15)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
