#pragma once
// The backup engine: copies the local folders of a task to the task's shared
// folder on the device by running rsync once per folder against the device's
// rsync service (CRsyncEngine), and keeps a result file of every run under
// LOG/ in the program folder. Failures are shown in message boxes, as the
// user expects, or kept as notes in a run nobody watches.
#include <cstdint>
#include <ctime>
#include <list>
#include <string>
#include <vector>

#include "BackupTask.h"
#include "Job.h"
#include "RsyncEngine.h"

class CRsycBackup : public CRsyncEngine {
public:
    // BackupFolder's results.
    enum : int {
        BACKUP_OK = RUN_OK,
        BACKUP_INITIAL_ERROR = RUN_INITIAL_ERROR, // an argument is empty, or the local path is not a folder
        BACKUP_EXECUTE_ERROR = RUN_EXECUTE_ERROR, // rsync could not be started
        BACKUP_SERVER_ERROR = RUN_SERVER_ERROR,   // the device's rsync service cannot be reached
    };
    static constexpr int64_t kFirstPollMs = 10000;

    CRsycBackup();
    ~CRsycBackup() override;

    // Backs up every folder of the task and, when all went well, writes its
    // last backup time; see IsSuccess and GetResultFile.
    void Run() override;
    // The folders of the task (SetTask) without the last backup time.
    void BackupTask();
    // One folder; a BACKUP_* code. folderNumber counts from 1.
    int BackupFolder(const std::string& localPath, const std::string& nasIp, const std::string& shareName,
                     const std::string& disk, const std::string& folderName, const std::string& taskName,
                     int folderNumber);

    // The rsync arguments for one folder.
    std::vector<std::string> BuildCommand(const std::string& localPath, const std::string& logFile,
                                          const std::string& nasIp, const std::string& module,
                                          const std::string& shareName) const override;
    // A device folder whose path the service would read as a pattern (it
    // holds "*", "?" or "["): an empty folder of its name is sent into the
    // share first, as names in rsync's file list are taken as they stand;
    // the folder's own run then names it escaped, which matches only it.
    std::vector<std::string> BuildFirstCommand(const std::string& localPath, const std::string& logFile,
                                               const std::string& nasIp, const std::string& module,
                                               const std::string& shareName, const std::string& scratch) const override;
    // The name of a local folder's copy on the device: rsync names it after
    // the path's last part, compared byte for byte (the device's file system
    // tells case apart).
    static std::string DeviceFolderName(const std::string& localPath);
    // Whether every folder of the task has a copy of its own on the device;
    // two with one name would merge there, as would a folder whose copy
    // would merge with one of another task of the task file
    // (FindFolderClash). Shows why not, or puts it in *problem when given.
    static bool CheckFolderNames(const BackupTaskInfo& task, std::string* problem = nullptr);
    // Whether a folder of the task would land where a folder of one of the
    // other tasks lands: the same device (by address or MAC), disk, device
    // folder and folder name there. The refusal's text, naming the other
    // task and the folder; "" when none. The overload reads the task file.
    static std::string FindFolderClash(const BackupTaskInfo& task, const std::list<BackupTaskInfo>& tasks);
    static std::string FindFolderClash(const BackupTaskInfo& task);

    // Whether a log line of a backup goes to the file list (else to the result).
    static bool IsFileListLine(const std::string& line) { return CRsyncEngine::IsFileListLine(line, '<'); }
};

// One Backup Now run of a task, for a worker thread: marks the task as the
// running one in the program's context for the run's length (refused while
// another task runs), runs the engine and hands back the outcome. The task is
// a copy; the store is updated.
BackupRunResult RunBackupJob(BackupTaskInfo task, std::time_t startTime, const platform::JobControl& control);
