#include "TaskStore.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Clock.h"
#include "FolderSize.h"
#include "Pendrix.h"
#include "Profile.h"
#include "Schedule.h"
#include "stdafx.h"

namespace {

const char* const kScheduleSuffixes[8] = {"_set_type",     "_set_date",      "_next_set_year",   "_next_set_month",
                                          "_next_set_day", "_next_set_hour", "_next_set_minute", "_next_set_second"};

const char* const kFolderSuffixes[4] = {"_Folder_name", "_Folder_ModifyDate", "_Folder_size", "_Folder_path"};

std::string Decimal(long long n) { return std::to_string(n); }

} // namespace

std::string MakeMD5Key(const std::string& text)
{
    char out[256] = {};
    MD5Generate(text.c_str(), out);
    DebugTrace("MD5%s", out);
    return out;
}

std::list<std::string> SplitNameList(const std::string& list)
{
    std::list<std::string> names;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos)
            end = list.size();
        if (end > start)
            names.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

size_t TaskNameCharacters(const std::string& name)
{
    size_t count = 0;
    for (unsigned char c : name)
        count += (c & 0xC0) != 0x80;
    return count;
}

int CheckTaskName(const std::string& name)
{
    if (name.empty())
        return TASK_NAME_EMPTY;
    // "[" and "]" end a section name, ":" separates the list of names, line
    // breaks end the line, and surrounding blanks do not survive a read.
    if (name.find_first_of("[]:\r\n") != std::string::npos || name.front() == ' ' || name.back() == ' ' ||
        name.front() == '\t' || name.back() == '\t')
        return TASK_NAME_BAD_CHARACTER;
    if (platform::SameProfileName(name, CTaskStore::kSettingSection))
        return TASK_NAME_RESERVED;
    if (TaskNameCharacters(name) > kMaxTaskNameCharacters)
        return TASK_NAME_TOO_LONG;
    return TASK_NAME_OK;
}

int CheckNewTaskName(const std::string& name, const std::list<BackupTaskInfo>& tasks)
{
    int rc = CheckTaskName(name);
    if (rc != TASK_NAME_OK)
        return rc;
    for (const BackupTaskInfo& t : tasks)
        if (platform::SameProfileName(t.taskName, name))
            return TASK_NAME_TAKEN;
    return TASK_NAME_OK;
}

std::string TaskNameMessage(int code)
{
    switch (code) {
    case TASK_NAME_EMPTY: return "Please input the Task name!!";
    case TASK_NAME_BAD_CHARACTER:
        return "The Task name can't contain \"[\", \"]\" or \":\", nor begin or end with a blank!!";
    case TASK_NAME_RESERVED: return "This name is reserved, please choose another Task name!!";
    case TASK_NAME_TAKEN: return "The Task name already exists, please choose another one!!";
    case TASK_NAME_TOO_LONG:
        return "The Task name must be at most " + std::to_string(kMaxTaskNameCharacters) + " characters long!!";
    default: return "";
    }
}

CTaskStore::CTaskStore() : m_file(PathBeside(GetNasContext()->IniPath())) {}

CTaskStore::CTaskStore(std::string file) : m_file(std::move(file)) {}

std::string CTaskStore::PathBeside(const std::string& iniPath)
{
    // Only the file name changes: a folder whose name holds "quom.ini" stays.
    size_t slash = iniPath.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : iniPath.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? iniPath : iniPath.substr(slash + 1);
    const std::string from = "quom.ini";
    bool replaced = false;
    for (size_t at = name.find(from); at != std::string::npos; at = name.find(from, at)) {
        name.replace(at, from.size(), kFileName);
        at += std::strlen(kFileName);
        replaced = true;
    }
    if (!replaced)
        name = kFileName;
    return folder + name;
}

void CTaskStore::CreateTaskStore() const
{
    struct stat st {};
    if (::stat(m_file.c_str(), &st) == 0) {
        if (S_ISREG(st.st_mode) && (st.st_mode & 077) != 0)
            ::chmod(m_file.c_str(), st.st_mode & 0700);
        return;
    }
    int fd = ::open(m_file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    ::close(fd);
    platform::WritePrivateProfileString(kSettingSection, "Total_task_number", "0", m_file);
    platform::WritePrivateProfileString(kSettingSection, "Total_task_name", "", m_file);
}

bool CTaskStore::WriteTaskValue(const std::string& section, const std::string& key, const std::string& value) const
{
    return platform::WritePrivateProfileString(section.c_str(), key.c_str(), value == kClear ? nullptr : value.c_str(),
                                               m_file);
}

bool CTaskStore::WriteValue(const std::string& section, const std::string& key, const std::string& value) const
{
    return platform::WritePrivateProfileString(section.c_str(), key.c_str(), value.c_str(), m_file);
}

std::string CTaskStore::ReadTaskValue(const std::string& section, const std::string& key) const
{
    return platform::GetPrivateProfileString(section.c_str(), key.c_str(), kReadDefault, m_file);
}

std::list<BackupTaskInfo> CTaskStore::LoadTasks(bool measure) const
{
    // One reading of the file for the whole load.
    const platform::ProfileSnapshot file(m_file);
    std::list<BackupTaskInfo> tasks;
    for (const std::string& name : SplitNameList(file.Get(kSettingSection, "Total_task_name", kReadDefault))) {
        // A name whose section is gone (a delete cut short by an older
        // program) is no task: it is dropped, and its name is free again.
        if (file.HasSection(name))
            tasks.push_back(LoadTask(file, name, measure));
    }
    return tasks;
}

BackupTaskInfo CTaskStore::LoadTask(const std::string& name, bool measure) const
{
    return LoadTask(platform::ProfileSnapshot(m_file), name, measure);
}

BackupTaskInfo CTaskStore::LoadTask(const platform::ProfileSnapshot& file, const std::string& name, bool measure)
{
    auto Read = [&file, &name](const std::string& key) { return file.Get(name, key, kReadDefault); };
    BackupTaskInfo task;
    task.taskName = name;
    task.nasFolderName = Read("NAS_Folder_name");
    task.nasFolderDisk = Read("NAS_Folder_disk");
    task.nasFolderType = Read("NAS_Folder_type");
    task.nasFolderStatus = Read("NAS_Folder_status");
    task.nasFolderUser = Read("NAS_Folder_user");
    task.nasIp = Read("NAS_IP");
    task.nasMac = Read("NAS_MAC");
    task.nasCommunity = Read("NAS_Community");
    task.nasUser = Read("NAS_User");
    task.lastBackTime = Read("Last_Back_Time");
    task.nasFolderSet = 1;

    uint64_t total = 0;
    for (const std::string& key : SplitNameList(Read("Total_local_Folder_name"))) {
        BackupFolderInfo folder;
        LoadTaskFolder(file, folder, name, key);
        if (measure)
            total += GetFolderSize(folder.path);
        task.folders.push_back(folder);
    }
    task.totalBytes = total;
    if (measure) {
        task.taskBackSize = FormatFileSize(static_cast<int64_t>(total));
    } else {
        task.taskBackSize = Read("Task_Back_Size");
        if (task.taskBackSize == kReadDefault)
            task.taskBackSize.clear();
    }

    std::string schedules = Read("Total_schedule_name");
    if (!schedules.empty() && schedules != kReadDefault) {
        for (const std::string& key : SplitNameList(schedules)) {
            BackupScheduleInfo schedule;
            LoadTaskSchedule(file, schedule, name, key);
            task.schedules.push_back(schedule);
        }
    }
    return task;
}

void CTaskStore::LoadTaskFolder(const platform::ProfileSnapshot& file, BackupFolderInfo& folder,
                                const std::string& section, const std::string& key)
{
    folder.folderName = file.Get(section, key + "_Folder_name", kReadDefault);
    folder.sizeText = file.Get(section, key + "_Folder_size", kReadDefault);
    folder.path = file.Get(section, key + "_Folder_path", kReadDefault);
}

void CTaskStore::LoadTaskSchedule(const platform::ProfileSnapshot& file, BackupScheduleInfo& schedule,
                                  const std::string& section, const std::string& key)
{
    schedule.key = key;
    schedule.setType = file.Get(section, key + "_set_type", kReadDefault);
    schedule.setDate = file.Get(section, key + "_set_date", kReadDefault);
    // Each part a whole decimal number in its range; one that is not leaves
    // the run unreadable, rather than a time made of whatever it held.
    bool readable = true;
    auto part = [&](const char* suffix, int low, int high) {
        const std::string text = file.Get(section, key + suffix, kReadDefault);
        int value = 0;
        const char* end = text.data() + text.size();
        const auto [at, error] = std::from_chars(text.data(), end, value);
        if (error != std::errc() || at != end || value < low || value > high) {
            readable = false;
            return low;
        }
        return value;
    };
    std::tm t{};
    t.tm_year = part("_next_set_year", kFirstRunYear, kLastRunYear) - 1900;
    t.tm_mon = part("_next_set_month", 1, 12) - 1;
    t.tm_mday = part("_next_set_day", 1, 31);
    t.tm_hour = part("_next_set_hour", 0, 23);
    t.tm_min = part("_next_set_minute", 0, 59);
    t.tm_sec = part("_next_set_second", 0, 60);
    t.tm_isdst = -1;
    schedule.nextRun = readable ? platform::MakeLocalTime(t) : schedule::kUnreadableRun;
}

bool CTaskStore::HasTask(const std::string& taskName) const
{
    for (const std::string& name : SplitNameList(ReadTaskValue(kSettingSection, "Total_task_name")))
        if (name == taskName)
            return true;
    return false;
}

bool CTaskStore::RecordLastBackTime(const std::string& taskName, const std::string& value) const
{
    const std::lock_guard<std::recursive_mutex> edit(EditLock());
    return HasTask(taskName) && WriteTaskValue(taskName, "Last_Back_Time", value);
}

std::recursive_mutex& CTaskStore::EditLock()
{
    static std::recursive_mutex lock;
    return lock;
}

bool CTaskStore::SaveTasks(const std::list<BackupTaskInfo>& tasks) const
{
    const std::lock_guard<std::recursive_mutex> edit(EditLock());
    // Every write lands on disk on its own; a value the file holds already
    // is left alone, so saving after one change writes only that change.
    // What the file holds is read once, before the first write: under the
    // edit lock no other writer of the program runs, and each section is
    // looked at before this save writes to it. Only the schedule's keys go
    // through the "CLR" path: a folder, share or user may well be named
    // "CLR".
    const platform::ProfileSnapshot stored(m_file);
    bool ok = true;
    auto Write = [this, &ok, &stored](const std::string& section, const std::string& key, const std::string& value,
                                      bool schedule = false) {
        static const char kMissing[] = "\x01missing";
        if (!(schedule && value == kClear) && stored.Get(section, key, kMissing) == value)
            return true;
        const bool written = schedule ? WriteTaskValue(section, key, value) : WriteValue(section, key, value);
        ok = ok && written;
        return written;
    };
    // The keys a stored list names that its new form does not, removed
    // once the new list is in the file.
    auto RemoveDropped = [this](const std::string& section, const std::string& stored, const std::string& now,
                                const auto& suffixes) {
        if (stored == kReadDefault)
            return;
        const std::list<std::string> kept = SplitNameList(now);
        for (const std::string& key : SplitNameList(stored)) {
            if (std::find(kept.begin(), kept.end(), key) != kept.end())
                continue;
            for (const char* suffix : suffixes)
                platform::WritePrivateProfileString(section.c_str(), (key + suffix).c_str(), nullptr, m_file);
        }
    };
    std::string names;
    for (const BackupTaskInfo& task : tasks) {
        const std::string& section = task.taskName;
        if (section.empty() || section.find_first_of("]\r\n") != std::string::npos) {
            ok = false; // no section can hold it: a listed name would load as a ghost task
            continue;
        }
        names += section + ":";
        const std::string storedFolders = stored.Get(section, "Total_local_Folder_name", kReadDefault);
        const std::string storedSchedules = stored.Get(section, "Total_schedule_name", kReadDefault);
        std::string folderKeys;
        for (const BackupFolderInfo& folder : task.folders) {
            std::string key = MakeMD5Key(folder.path);
            bool written = Write(section, key + "_Folder_name", folder.folderName);
            written = Write(section, key + "_Folder_ModifyDate", folder.modifyDate) && written;
            written = Write(section, key + "_Folder_size", folder.sizeText) && written;
            written = Write(section, key + "_Folder_path", folder.path) && written;
            // A key whose folder is not in the file would load as a folder of
            // default texts.
            if (written)
                folderKeys += key + ":";
        }
        Write(section, "Total_local_Folder_number", Decimal(static_cast<long long>(task.folders.size())));
        const bool folderList = Write(section, "Total_local_Folder_name", folderKeys);
        Write(section, "NAS_Folder_name", task.nasFolderName);
        Write(section, "NAS_Folder_disk", task.nasFolderDisk);
        Write(section, "NAS_Folder_type", task.nasFolderType);
        Write(section, "NAS_Folder_status", task.nasFolderStatus);
        Write(section, "NAS_Folder_user", task.nasFolderUser);
        Write(section, "NAS_IP", task.nasIp);
        Write(section, "NAS_MAC", task.nasMac);
        Write(section, "NAS_Community", task.nasCommunity);
        Write(section, "NAS_User", task.nasUser);
        Write(section, "Last_Back_Time", task.lastBackTime);
        Write(section, "Task_Back_Size", task.taskBackSize);
        std::string scheduleKeys;
        for (const BackupScheduleInfo& s : task.schedules) {
            scheduleKeys += s.key + ":";
            std::tm t = platform::LocalTime(s.nextRun);
            Write(section, s.key + "_set_type", s.setType, true);
            Write(section, s.key + "_set_date", s.setDate, true);
            Write(section, s.key + "_next_set_year", Decimal(t.tm_year + 1900), true);
            Write(section, s.key + "_next_set_month", Decimal(t.tm_mon + 1), true);
            Write(section, s.key + "_next_set_day", Decimal(t.tm_mday), true);
            Write(section, s.key + "_next_set_hour", Decimal(t.tm_hour), true);
            Write(section, s.key + "_next_set_minute", Decimal(t.tm_min), true);
            Write(section, s.key + "_next_set_second", Decimal(t.tm_sec), true);
        }
        const bool scheduleList = Write(section, "Total_schedule_name", scheduleKeys, true);
        if (folderList)
            RemoveDropped(section, storedFolders, folderKeys, kFolderSuffixes);
        if (scheduleList)
            RemoveDropped(section, storedSchedules, scheduleKeys, kScheduleSuffixes);
    }
    Write(kSettingSection, "Total_task_number", Decimal(static_cast<long long>(tasks.size())));
    Write(kSettingSection, "Total_task_name", names);
    return ok;
}

bool CTaskStore::SaveTaskList(const std::list<BackupTaskInfo>& tasks, const std::string& deletedName) const
{
    const std::lock_guard<std::recursive_mutex> edit(EditLock());
    // The list first, then the section: a delete cut short in between
    // leaves a section that no list names, which a task of that name takes
    // over when it is saved, never a listed task without its section.
    std::string names;
    int count = 0;
    for (const BackupTaskInfo& task : tasks) {
        if (task.taskName == deletedName)
            continue;
        names += task.taskName + ":";
        ++count;
    }
    bool ok = WriteValue(kSettingSection, "Total_task_number", Decimal(count));
    ok = WriteValue(kSettingSection, "Total_task_name", names) && ok;
    // A section still listed (the list could not be written) stays.
    if (ok)
        ok = platform::WritePrivateProfileString(deletedName.c_str(), nullptr, nullptr, m_file);
    return ok;
}

bool CTaskStore::DeleteScheduleKeys(const std::string& section, const std::string& key) const
{
    const std::lock_guard<std::recursive_mutex> edit(EditLock());
    if (!WriteTaskValue(section, "Total_schedule_name", ""))
        return false;
    for (const char* suffix : kScheduleSuffixes)
        platform::WritePrivateProfileString(section.c_str(), (key + suffix).c_str(), nullptr, m_file);
    return true;
}

bool CTaskStore::MoveSchedule(const std::string& section, const std::string& oldKey,
                              const BackupScheduleInfo& moved) const
{
    const std::lock_guard<std::recursive_mutex> edit(EditLock());
    const std::tm t = platform::LocalTime(moved.nextRun);
    const std::string values[8] = {moved.setType,         moved.setDate,      Decimal(t.tm_year + 1900),
                                   Decimal(t.tm_mon + 1), Decimal(t.tm_mday), Decimal(t.tm_hour),
                                   Decimal(t.tm_min),     Decimal(t.tm_sec)};
    for (size_t i = 0; i < 8; ++i)
        if (!WriteTaskValue(section, moved.key + kScheduleSuffixes[i], values[i]))
            return false;
    std::string list = ReadTaskValue(section, "Total_schedule_name");
    if (list == kReadDefault)
        list.clear();
    const std::string old = oldKey + ":";
    for (size_t at; !oldKey.empty() && (at = list.find(old)) != std::string::npos;)
        list.erase(at, old.size());
    if (list.find(moved.key + ":") == std::string::npos)
        list += moved.key + ":";
    if (!WriteTaskValue(section, "Total_schedule_name", list))
        return false;
    if (oldKey != moved.key)
        for (const char* suffix : kScheduleSuffixes)
            WriteTaskValue(section, oldKey + suffix, kClear);
    return true;
}
