#pragma once
// The task store: every backup task of every user of the computer, with its
// local folders and its schedule, in "Nas_BackUp_Task.ini" beside the login
// memory "quom.ini". Read and written through the profile functions only.
//
// Layout: section "INI_Nas_BackUp_Task_Setting" holds "Total_task_number" and
// "Total_task_name" (names each followed by ":"); each task has a section of
// its own named after it. Folder keys are MakeMD5Key(path), schedule keys
// MakeMD5Key of the schedule's text (Schedule.h).
#include <cstddef>
#include <list>
#include <mutex>
#include <string>

#include "BackupTask.h"

namespace platform {
class ProfileSnapshot;
}

// 32 upper-case hexadecimal digits: the MD5 digest of text (Pendrix).
std::string MakeMD5Key(const std::string& text);

// Splits a ":"-joined list; empty items are skipped.
std::list<std::string> SplitNameList(const std::string& list);

// The longest task name, in characters (a UTF-8 sequence counts as one): the
// name is part of the file names of every run's results.
constexpr size_t kMaxTaskNameCharacters = 20;
// Characters of a name as the user counts them.
size_t TaskNameCharacters(const std::string& name);

// Whether a task name may be stored: not empty, at most
// kMaxTaskNameCharacters, no "[" or "]" (they would end the section name),
// no line break, no surrounding blanks (the profile functions drop them),
// not the store's own section name. Returns 0 when it may, else one of the
// codes below.
enum TaskNameCheck : int {
    TASK_NAME_OK = 0,
    TASK_NAME_EMPTY = -1,
    TASK_NAME_BAD_CHARACTER = -2,
    TASK_NAME_RESERVED = -3,
    TASK_NAME_TAKEN = -4,
    TASK_NAME_TOO_LONG = -5,
};
int CheckTaskName(const std::string& name);
// CheckTaskName, then: a task of that name already exists, regardless of case
// (section names are matched without regard to case).
int CheckNewTaskName(const std::string& name, const std::list<BackupTaskInfo>& tasks);
// The message for a CheckTaskName code ("" for TASK_NAME_OK).
std::string TaskNameMessage(int code);

class CTaskStore {
public:
    static constexpr const char* kSettingSection = "INI_Nas_BackUp_Task_Setting";
    static constexpr const char* kFileName = "Nas_BackUp_Task.ini";
    // Every read defaults to this text.
    static constexpr const char* kReadDefault = "GetPrivateProfileString fail!!";
    // Given to WriteTaskValue, deletes the key.
    static constexpr const char* kClear = "CLR";

    // The store beside the context's login memory.
    CTaskStore();
    // The store in that file (tests, tools).
    explicit CTaskStore(std::string file);

    const std::string& File() const { return m_file; }
    // The store's path for a login memory path: its file name replaced.
    static std::string PathBeside(const std::string& iniPath);

    // Creates the file with an empty task list when it is missing. The file
    // holds device communities: it is made private to the user, and one
    // that others may read is made so.
    void CreateTaskStore() const;
    // Every task of the store, in store order, from one reading of the file;
    // a listed name without a section is left out. With measure, a task's
    // size is that of its folders on disk now (a walk of each); without, it
    // is the size text stored with the task, and totalBytes is 0.
    std::list<BackupTaskInfo> LoadTasks(bool measure = true) const;
    BackupTaskInfo LoadTask(const std::string& name, bool measure = true) const;
    // The parts of a load, on one reading of the file. A schedule whose next
    // run has a part that is not a number in its range (a year outside
    // kFirstRunYear..kLastRunYear, a month outside 1-12, ...) loads with
    // next run schedule::kUnreadableRun.
    static BackupTaskInfo LoadTask(const platform::ProfileSnapshot& file, const std::string& name, bool measure);
    static void LoadTaskFolder(const platform::ProfileSnapshot& file, BackupFolderInfo& folder,
                               const std::string& section, const std::string& key);
    static void LoadTaskSchedule(const platform::ProfileSnapshot& file, BackupScheduleInfo& schedule,
                                 const std::string& section, const std::string& key);
    static constexpr int kFirstRunYear = 1970;
    static constexpr int kLastRunYear = 9999;

    // Rewrites every task and both list keys. False when a value could not
    // be written (the file, or a value the file cannot hold: a folder whose
    // keys were not written is left out of its task's list). The keys of
    // folders and schedules that a task's stored lists named and its new
    // lists do not are removed last, once the new lists are written: a save
    // cut short anywhere leaves each list naming keys that are all there.
    bool SaveTasks(const std::list<BackupTaskInfo>& tasks) const;
    // Rewrites the task list without deletedName, then removes its section.
    // False when a write failed.
    bool SaveTaskList(const std::list<BackupTaskInfo>& tasks, const std::string& deletedName) const;

    // "Total_schedule_name" := "" and the schedule's eight keys removed.
    // False when the list could not be emptied: the file still holds the
    // schedule. Keys left behind once the list is empty name nothing.
    bool DeleteScheduleKeys(const std::string& section, const std::string& key) const;
    // The task's schedule stored as moved (its next run, and so its key,
    // changed) in place of the one under oldKey: the new keys first, then
    // the list, then the old keys go. Whichever write does not happen (a
    // crash, a full disk), the task loads with a whole schedule, the old one
    // or the moved one. False when the new schedule did not reach the list.
    bool MoveSchedule(const std::string& section, const std::string& oldKey, const BackupScheduleInfo& moved) const;

    // One key; value "CLR" removes it. Only the schedule keys take "CLR":
    // every other value is written with WriteValue. False when the write
    // failed.
    bool WriteTaskValue(const std::string& section, const std::string& key, const std::string& value) const;
    // One key, written as it is ("CLR" included).
    bool WriteValue(const std::string& section, const std::string& key, const std::string& value) const;
    // One key, or the default text when it is missing.
    std::string ReadTaskValue(const std::string& section, const std::string& key) const;

    // Whether the task list names the task.
    bool HasTask(const std::string& taskName) const;
    // The task's "Last_Back_Time", written under the edit lock and only while
    // the task is still listed: a task deleted meanwhile stays deleted. False
    // when the task is gone or the write failed.
    bool RecordLastBackTime(const std::string& taskName, const std::string& value) const;

    // Held by every rewrite of tasks, lists and schedules above, and by
    // whoever must look at the store and write to it in one step (the
    // schedule pass checking that a task still has its schedule before it
    // moves it on), so that no edit of the page lands between the two.
    static std::recursive_mutex& EditLock();

private:
    std::string m_file;
};
