// The task store's load on arbitrary file contents (the input is the file's
// bytes). The load reads the file once; every value it gives is the one a
// read of that key on its own gives, only listed names load, in list order,
// and a schedule's next run is either made of parts that are whole numbers
// in their ranges or marked unreadable.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <list>
#include <string>
#include <unistd.h>

#include "Clock.h"
#include "Schedule.h"
#include "TaskStore.h"

namespace {

std::string g_dir;

void RemoveDir() { std::filesystem::remove_all(g_dir); }

// The file every input is written to, in a folder removed at exit.
std::string FilePath()
{
    if (g_dir.empty()) {
        g_dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm/fuzz-taskstore-XXXXXX" : "/tmp/fuzz-taskstore-XXXXXX";
        if (!mkdtemp(g_dir.data()))
            std::abort();
        std::atexit(RemoveDir);
    }
    return g_dir + "/" + CTaskStore::kFileName;
}

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// A part of a stored time read on its own: a whole decimal number within
// [low, high].
bool InRange(const std::string& text, long low, long high, int& value)
{
    if (text.empty() || !(text.front() == '-' || (text.front() >= '0' && text.front() <= '9')))
        return false;
    char* end = nullptr;
    const long long n = std::strtoll(text.c_str(), &end, 10);
    if (end != text.c_str() + text.size() || n < low || n > high)
        return false;
    value = static_cast<int>(n);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string file = FilePath();
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const CTaskStore store(file);
    const std::list<BackupTaskInfo> tasks = store.LoadTasks(false);

    // Each loaded name is listed, in list order.
    const std::list<std::string> listed =
        SplitNameList(store.ReadTaskValue(CTaskStore::kSettingSection, "Total_task_name"));
    auto next = listed.begin();
    for (const BackupTaskInfo& task : tasks) {
        while (next != listed.end() && *next != task.taskName)
            ++next;
        Check(next != listed.end());
        ++next;

        const std::string& name = task.taskName;
        auto Read = [&store, &name](const std::string& key) { return store.ReadTaskValue(name, key); };
        Check(task.nasFolderName == Read("NAS_Folder_name") && task.nasFolderDisk == Read("NAS_Folder_disk") &&
              task.nasFolderType == Read("NAS_Folder_type") && task.nasFolderStatus == Read("NAS_Folder_status") &&
              task.nasFolderUser == Read("NAS_Folder_user") && task.nasIp == Read("NAS_IP") &&
              task.nasMac == Read("NAS_MAC") && task.nasCommunity == Read("NAS_Community") &&
              task.nasUser == Read("NAS_User") && task.lastBackTime == Read("Last_Back_Time"));
        const std::string size = Read("Task_Back_Size");
        Check(task.taskBackSize == (size == CTaskStore::kReadDefault ? "" : size));

        const std::list<std::string> folderKeys = SplitNameList(Read("Total_local_Folder_name"));
        Check(task.folders.size() == folderKeys.size());
        auto key = folderKeys.begin();
        for (const BackupFolderInfo& folder : task.folders) {
            Check(folder.folderName == Read(*key + "_Folder_name") && folder.sizeText == Read(*key + "_Folder_size") &&
                  folder.path == Read(*key + "_Folder_path"));
            ++key;
        }

        const std::string scheduleList = Read("Total_schedule_name");
        const std::list<std::string> scheduleKeys =
            scheduleList == CTaskStore::kReadDefault ? std::list<std::string>() : SplitNameList(scheduleList);
        Check(task.schedules.size() == scheduleKeys.size());
        key = scheduleKeys.begin();
        for (const BackupScheduleInfo& s : task.schedules) {
            Check(s.key == *key && s.setType == Read(*key + "_set_type") && s.setDate == Read(*key + "_set_date"));
            std::tm t{};
            int year = 0, month = 0;
            const bool readable =
                InRange(Read(*key + "_next_set_year"), CTaskStore::kFirstRunYear, CTaskStore::kLastRunYear, year) &&
                InRange(Read(*key + "_next_set_month"), 1, 12, month) &&
                InRange(Read(*key + "_next_set_day"), 1, 31, t.tm_mday) &&
                InRange(Read(*key + "_next_set_hour"), 0, 23, t.tm_hour) &&
                InRange(Read(*key + "_next_set_minute"), 0, 59, t.tm_min) &&
                InRange(Read(*key + "_next_set_second"), 0, 60, t.tm_sec);
            t.tm_year = year - 1900;
            t.tm_mon = month - 1;
            Check(s.nextRun == (readable ? platform::MakeLocalTime(t) : schedule::kUnreadableRun));
            ++key;
        }
    }
    return 0;
}
