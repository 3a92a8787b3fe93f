#pragma once
// The backup engine: copies the local folders of a task to the task's shared
// folder on the device by running rsync once per folder against the device's
// rsync service, follows rsync's log to report progress, and keeps a result
// file of every run under LOG/ in the program folder.
//
// The engine runs on a worker thread; it reports through the JobControl it
// is given (status texts, a position 0-100 that never goes back and reaches
// 100 only when the whole run succeeded) and honours its stop request by
// ending rsync. Failures are shown in message boxes, as the user expects.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "BackupTask.h"
#include "Job.h"

namespace platform {
class Process;
}

class CRsycBackup {
public:
    // BackupFolder's results.
    enum : int {
        BACKUP_OK = 0,
        BACKUP_INITIAL_ERROR = -1,  // an argument is empty, or the local path is not a folder
        BACKUP_EXECUTE_ERROR = -2,  // rsync could not be started
        BACKUP_SERVER_ERROR = -4,   // the device's rsync service cannot be reached
    };
    // Kinds of log lines (ParseLogLine).
    enum LogLine : int {
        LINE_OTHER = -1,
        LINE_ERROR = -2,        // "rsync error: ..."
        LINE_BUILDING = 1,      // "building file list"
        LINE_SUMMARY = 2,       // "total size is ...": rsync is done
        LINE_NEW_FILE = 3,      // <f+++++++++
        LINE_NEW_DIR = 4,       // cd+++++++++
        LINE_FILE_TIME = 5,     // <f..t......
        LINE_TOTAL = 7,         // "N files to consider"
        LINE_FILE_CHANGED = 8,  // any other file transfer <f...
        LINE_DIR_CHANGED = 9,   // .d..........
    };

    static constexpr unsigned kRsyncPort = 873;
    static constexpr int kConnectTimeoutMs = 5000;
    static constexpr int64_t kFirstPollMs = 10000;
    static constexpr int64_t kPollMs = 3000;

    CRsycBackup();
    virtual ~CRsycBackup();
    CRsycBackup(const CRsycBackup&) = delete;
    CRsycBackup& operator=(const CRsycBackup&) = delete;

    // Where progress goes and where a stop comes from (may be null).
    void SetControl(const platform::JobControl* control) { m_control = control; }
    void SetTask(BackupTaskInfo* task) { m_task = task; }
    void SetStartTime(std::time_t start) { m_startTime = start; }

    // Backs up every folder of the task; see IsSuccess and GetResultFile.
    void Run();
    // One folder; a BACKUP_* code. folderNumber counts from 1.
    int BackupFolder(const std::string& localPath, const std::string& nasIp, const std::string& shareName,
                     const std::string& disk, const std::string& folderName, const std::string& taskName,
                     int folderNumber);

    int IsSuccess() const { return m_success; }
    std::string GetResultFile() const { return m_resultFile; }

    // The rsync program: bin/rsync beside the program when it is there, else
    // "rsync" from PATH. Tests may name another.
    void SetRsyncProgram(const std::string& program) { m_rsync = program; }
    std::string RsyncProgram() const;
    // The port of the device's rsync service (873).
    void SetPort(unsigned port) { m_port = port; }
    // The program folder (that of the login memory), ending in "/".
    static std::string ProgramFolder();

    // The rsync arguments for one folder.
    std::vector<std::string> BuildCommand(const std::string& localPath, const std::string& logFile,
                                          const std::string& nasIp, const std::string& module,
                                          const std::string& shareName) const;
    // "/a//b/" -> "/a/b"; "" stays "".
    static std::string NormalisePath(const std::string& path);

    // Log reading. ParseLogLine classifies one line and counts it;
    // PollLog reads what was appended to the log since the last call.
    int ParseLogLine(const std::string& line);
    void ResetLog(const std::string& logFile);
    // Reads the new lines; returns 0 once the summary or an error line has
    // been seen, else 1. Updates the progress.
    int PollLog();
    int FileCount() const { return m_fileCount; }
    int DirCount() const { return m_dirCount; }
    int TotalCount() const { return m_totalCount; }
    // The progress of the current folder from the counts: 5 to 100.
    int FolderProgress() const;

    // Appends the log to the result and file-list files (each after a line
    // of stars and the folder's header). extra is appended to the result.
    static void SplitLog(const std::string& logFile, const std::string& resultFile, const std::string& fileListFile,
                         const std::string& folder, const std::string& extra = "");
    // Whether a log line goes to the file list (else to the result).
    static bool IsFileListLine(const std::string& line);

private:
    void Say(const std::string& text) const;
    void ReportProgress(int folderPercent);
    bool Stopped() const { return m_control && m_control->Stopped(); }
    // Follows rsync until it ends or a stop ends it.
    void Follow(platform::Process& rsync);

    const platform::JobControl* m_control = nullptr;
    BackupTaskInfo* m_task = nullptr;
    int m_success = 1;
    int m_fileCount = 0;
    int m_dirCount = 0;
    int m_totalCount = 0;
    std::time_t m_startTime = 0;
    std::string m_resultFile;

    std::string m_rsync;
    unsigned m_port = kRsyncPort;
    // Progress over the whole run.
    int m_folderNumber = 1;
    int m_folderCount = 1;
    int m_lastPercent = -1;
    // The log being followed.
    std::string m_logFile;
    int64_t m_logOffset = 0;
    std::string m_pending;
    bool m_sawSummary = false;
    bool m_sawError = false;
};

// What a backup run hands back to the window that started it.
struct BackupRunResult {
    bool success = false;
    std::string resultFile;   // "" when no folder got as far as rsync
    std::string lastBackTime; // as written to the task store
    std::string description;  // "<task> : backup processing Finish!!" or "... Error!!"
};

// One Backup Now run of a task, for a worker thread: marks the task as the
// running one in the program's context for the run's length, runs the engine
// and hands back the outcome. The task is a copy; the store is updated.
BackupRunResult RunBackupJob(BackupTaskInfo task, std::time_t startTime, const platform::JobControl& control);
