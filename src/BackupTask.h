#pragma once
// The in-memory records of the backup subsystem: a task with its local source
// folders and its schedule, and the System Log row a run reports. Plain
// values; times are seconds since the epoch (local time is applied when they
// are shown).
#include <cstdint>
#include <list>
#include <string>

struct BackupFolderInfo {
    std::string folderName; // display name of the local folder
    std::string modifyDate; // never filled; stored as ""
    std::string sizeText;   // size of the folder as text
    std::string path;       // full local path: the folder's identity
};

struct BackupScheduleInfo {
    std::string setType; // "one", "day", "week" or "month"
    std::string setDate; // "unexecute"/"finish", "", a weekday name or a day of the month
    int64_t nextRun = 0; // next time the schedule is due
    std::string key;     // 32 upper-case hexadecimal digits naming its store keys
    // The key the store still holds it under when it was moved on in memory
    // but the store could not take the move; "" when stored as it is.
    std::string storedKey;
};

struct BackupTaskInfo {
    std::string taskName;     // the task's identity
    std::string lastBackTime; // "%X, %x" of the last backup's end; "" = never
    std::string nasUser;      // user who created the task
    int32_t nasFolderSet = 0; // 1 once a device folder is chosen (always 1 when loaded)
    std::string nasCommunity;
    std::string nasIp;
    std::string nasMac;
    std::list<BackupFolderInfo> folders;
    std::string taskBackSize; // total size of the folders as text
    uint64_t totalBytes = 0;
    std::string nasFolderName;
    std::string nasFolderDisk; // "Disk1" or "Disk2"
    std::string nasFolderType;
    std::string nasFolderStatus; // "Public" or "Private"
    std::string nasFolderUser;
    std::list<BackupScheduleInfo> schedules; // empty or exactly one
};

// A System Log row: the line and the result file of the run ("" when none).
struct LogRowMessage {
    std::string description;
    std::string filePath;
};

// Kinds of System Log rows (wParam of WM_ADD_LOG).
enum LogRowKind : int { LOG_SYSTEM = 0, LOG_BACKUP = 1, LOG_RESTORE = 2, LOG_SCHEDULE = 3 };
