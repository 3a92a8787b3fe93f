#pragma once
// What the backup and the restore engine share: rsync started from an
// argument list in its own process group, its log followed as it grows to
// report progress, the exit status deciding, and the log split into a result
// file (kept under LOG/ in the program folder) and a file list.
//
// The engines run on a worker thread; they report through the JobControl
// they are given (status texts, a position 0-100 that never goes back and
// reaches 100 only when the whole run succeeded) and honour its stop request
// by ending rsync.
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "BackupTask.h"
#include "Job.h"

namespace platform {
class Process;
}

// The running task of the program's context, taken for as long as this
// lives: Taken() is false when another task ran already.
class RunningTaskGuard {
public:
    explicit RunningTaskGuard(const std::string& taskName);
    ~RunningTaskGuard();
    RunningTaskGuard(const RunningTaskGuard&) = delete;
    RunningTaskGuard& operator=(const RunningTaskGuard&) = delete;
    bool Taken() const { return m_taken; }

private:
    bool m_taken;
};

// What a backup or restore run hands back to the window that started it.
struct BackupRunResult {
    bool started = false; // false: another task was running, nothing was done
    bool success = false;
    std::string resultFile;   // "" when no folder got as far as rsync
    std::string lastBackTime; // as written to the task store (backups)
    // "<task> : backup processing Finish!!" or "... Error!!", followed by
    // "; <what>" when the run could not store what it did.
    std::string description;
};

class CRsyncEngine {
public:
    // Results of one folder's run.
    enum : int {
        RUN_OK = 0,
        RUN_INITIAL_ERROR = -1, // an argument is empty, or the local path cannot be used
        RUN_EXECUTE_ERROR = -2, // rsync could not be started
        RUN_SERVER_ERROR = -4,  // the device's rsync service cannot be reached
    };
    // Kinds of log lines (ParseLogLine).
    enum LogLine : int {
        LINE_OTHER = -1,
        LINE_ERROR = -2,       // "rsync error: ..."
        LINE_BUILDING = 1,     // "building file list"
        LINE_SUMMARY = 2,      // "total size is ...": rsync is done
        LINE_NEW_FILE = 3,     // a new file
        LINE_NEW_DIR = 4,      // cd+++++++++
        LINE_FILE_TIME = 5,    // a file whose time changed
        LINE_TOTAL = 7,        // "N files to consider"
        LINE_FILE_CHANGED = 8, // any other file transfer
        LINE_DIR_CHANGED = 9,  // .d..........
    };

    static constexpr unsigned kRsyncPort = 873;
    static constexpr int kConnectTimeoutMs = 5000;
    static constexpr int64_t kPollMs = 3000;
    // rsync's own limits, in seconds: for the TCP connect to the device's
    // service (the connect only) and for a transfer in which nothing arrives
    // or leaves. The second also ends a service that takes the connection
    // but never sends its greeting: rsync gives up on such a greeting by
    // itself, after about 90 s as measured. rsync sends keep-alive messages
    // while it works without data, so a long file-list build or checksum
    // does not trip them.
    static constexpr int kRsyncConnectTimeoutS = 30;
    static constexpr int kRsyncIoTimeoutS = 60;
    // The engine's own watchdog on the program's clock: rsync is stopped and
    // the run fails when neither its log nor any of its processes' reads and
    // writes moved for this long (a wait rsync's timers do not cover, such as
    // a read of a hung local disk). It is longer than rsync's own end of a
    // silent greeting, so that end comes from rsync with its own message.
    static constexpr int64_t kStallMs = 150000;

    virtual ~CRsyncEngine();
    CRsyncEngine(const CRsyncEngine&) = delete;
    CRsyncEngine& operator=(const CRsyncEngine&) = delete;

    // Where progress goes and where a stop comes from (may be null).
    void SetControl(const platform::JobControl* control) { m_control = control; }
    void SetTask(BackupTaskInfo* task) { m_task = task; }
    void SetStartTime(std::time_t start) { m_startTime = start; }
    // How many folders the caller runs one after the other (Run sets it
    // from the task); the position spans them all.
    void SetFolderCount(int count) { m_folderCount = count > 0 ? count : 1; }
    // A run nobody watches (a schedule's): what would be shown in a box is
    // kept in Notes() instead, and a folder that fails does not end the run.
    void SetUnattended(bool unattended) { m_unattended = unattended; }
    const std::vector<std::string>& Notes() const { return m_notes; }

    // Runs every folder of the task (SetTask); see IsSuccess and GetResultFile.
    virtual void Run() = 0;
    // One run of a task for a worker thread: marks the task as the running
    // one in the program's context for the run's length (refused while
    // another task runs), runs the engine on it and hands back the outcome,
    // described as a "backup" or "restore" run (kind).
    BackupRunResult RunJob(BackupTaskInfo& task, std::time_t startTime, const platform::JobControl& control,
                           const std::string& kind);

    // The rsync arguments for one folder: the device's module/remote folder
    // and localPath, the log written to logFile.
    virtual std::vector<std::string> BuildCommand(const std::string& localPath, const std::string& logFile,
                                                  const std::string& nasIp, const std::string& module,
                                                  const std::string& remote) const = 0;

    // The rsync arguments of a run that has to go before the folder's own
    // (BuildCommand), its log written to logFile; none by default. scratch
    // names a private folder, missing yet, that the run may make and use:
    // it is removed after the run.
    virtual std::vector<std::string> BuildFirstCommand(const std::string& /*localPath*/, const std::string& /*logFile*/,
                                                       const std::string& /*nasIp*/, const std::string& /*module*/,
                                                       const std::string& /*remote*/,
                                                       const std::string& /*scratch*/) const
    {
        return {};
    }

    int IsSuccess() const { return m_success; }
    std::string GetResultFile() const { return m_resultFile; }

    // The rsync program: bin/rsync beside the program when it is there, else
    // "rsync" from PATH. Tests may name another.
    void SetRsyncProgram(const std::string& program) { m_rsync = program; }
    std::string RsyncProgram() const;
    // The port of the device's rsync service (873).
    void SetPort(unsigned port) { m_port = port; }
    // The watchdog's limit (kStallMs).
    void SetStallLimit(int64_t ms) { m_stallMs = ms; }
    // A remote path as an rsync source: the daemon expands each part of a
    // source that holds "*", "?" or "[" as a pattern, so in such a part those
    // and "\\" are escaped.
    static std::string EscapeSource(const std::string& path);
    // The program folder (that of the login memory), ending in "/".
    static std::string ProgramFolder();
    // Removes the private temporary folders (TMPDIR) of runs whose program
    // is gone: those of this user whose lock nobody holds and in which no
    // process has anything open. For the start of the program. How many
    // went.
    static int RemoveStaleTempFolders();
    // A run's private temporary folder (TMPDIR, 0700), ending in "/": locked
    // (flock, exclusive) before it appears under its name, the lock's
    // descriptor in *lock until the run closes it. "" (errno says why) when
    // none can be made.
    static std::string MakeTempFolder(int* lock);
    // The result file of a task's run started at start:
    // LOG/<prefix><task>_<stamp>_result.txt in the program folder (LOG/ is
    // made when missing).
    static std::string ResultFileName(const std::string& prefix, const std::string& taskName, std::time_t start);
    // "/a//b/" -> "/a/b"; "" stays "".
    static std::string NormalisePath(const std::string& path);

    // Log reading. ParseLogLine classifies one line and counts it;
    // PollLog reads what was appended to the log since the last call.
    int ParseLogLine(std::string_view line);
    void ResetLog(const std::string& logFile);
    // Reads the new lines; returns 0 once the summary or an error line has
    // been seen, else 1. Updates the progress.
    int PollLog();
    // CPU time this engine's thread spent reading logs (all polls so far).
    double PollCpuSeconds() const { return static_cast<double>(m_pollCpuNs) / 1e9; }
    int PollCount() const { return m_polls; }
    int FileCount() const { return m_fileCount; }
    int DirCount() const { return m_dirCount; }
    int TotalCount() const { return m_totalCount; }
    // The progress of the current folder from the counts: 5 to 100.
    int FolderProgress() const;

    // Appends the log to the result and file-list files, each after a line
    // of stars and the header line. extra is appended to the result. An
    // empty fileListFile leaves the file-list lines out. 0, or the errno of
    // the write that failed.
    static int SplitLog(const std::string& logFile, const std::string& resultFile, const std::string& fileListFile,
                        const std::string& header, const std::string& extra = "", char direction = '<');
    // Whether a log line goes to the file list (else to the result): new
    // files, files whose time changed and new folders. direction is '<' for
    // files sent to the device, '>' for files received from it.
    static bool IsFileListLine(std::string_view line, char direction = '<');

protected:
    // direction: '<' the engine sends, '>' it receives. errorBoxes: whether
    // rsync's error lines are told (Tell: a box, or a note when unattended).
    CRsyncEngine(char direction, bool errorBoxes, int64_t firstPollMs);

    // The device's rsync service answers on its port; else false, and why
    // is kept for the run's box (RunFolders).
    bool ProbeService(const std::string& nasIp);
    // A box for the user watching the run, or a note of an unattended one.
    void Tell(const std::string& text);
    // The options both engines give rsync for its connection: the time-outs,
    // and the service's port when it is not the usual one.
    std::vector<std::string> ConnectionOptions() const;

    // One rsync run of a folder between localPath and remote on the disk's
    // module (BuildCommand), its log named after folderName and remote:
    // filePrefix "B_" or "R_" names the result file, header heads its block.
    // RUN_OK once rsync ran and its log went into the result file.
    int RunFolder(const std::string& localPath, const std::string& nasIp, const std::string& remote,
                  const std::string& disk, const std::string& folderName, const std::string& filePrefix,
                  const std::string& header, const std::string& taskName, int folderNumber);

    // The texts of a whole run: the boxes for a folder that failed ("%s"
    // takes the task name), then the last status of a good and a failed run.
    struct FolderRunTexts {
        const char* initialError;
        const char* executeError;
        const char* serverError;
        const char* finished;
        const char* failed;
    };
    // Runs runOne(folder, number) on each folder of the task in turn, the
    // first numbered 1. A stop request or the first folder that fails (its
    // box shown) ends the run, unless it is unattended, when every folder is
    // tried; 100 is reported only when all went well. A task without folders
    // fails with the initial-error box.
    void RunFolders(const std::function<int(const BackupFolderInfo&, int)>& runOne, const FolderRunTexts& texts);

    void Say(const std::string& text) const;
    void ReportProgress(int folderPercent);
    bool Stopped() const { return m_control && m_control->Stopped(); }
    // Follows rsync until it ends or a stop ends it.
    void Follow(platform::Process& rsync);
    // Starts rsync with command, its log logFile, and follows it to its end:
    // "" when it copied, else the reason for the result file. *started is
    // false when rsync could not be started.
    std::string RunRsync(const std::vector<std::string>& command, const std::string& logFile, bool* started);
    static std::string Printf(const char* format, const std::string& text);

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
    int64_t m_stallMs = kStallMs;
    // Progress over the whole run.
    int m_folderNumber = 1;
    int m_folderCount = 1;
    int m_lastPercent = -1;
    bool m_unattended = false;
    std::vector<std::string> m_notes;
    std::string m_serverReason; // why the service of the folder's run was not reached
    std::string m_unstored;     // what the run could not store, for its row ("" nothing)

private:
    // The run's log in a private temporary folder; "" when none can be made
    // (Tell said why: a box, or a note of an unattended run).
    std::string MakeLogFile(const std::string& key);
    // The run's log and private folder removed, its lock let go.
    void DropTempFolder(const std::string& logFile);

    const char m_direction;
    const bool m_errorBoxes;
    const int64_t m_firstPollMs;
    // The log being followed.
    std::string m_logFile;
    std::string m_tempFolder;
    int m_tempLock = -1; // holds the lock on m_tempFolder
    int64_t m_logOffset = 0;
    std::string m_pending;
    bool m_sawSummary = false;
    bool m_sawError = false;
    bool m_stalled = false;
    int64_t m_pollCpuNs = 0;
    int m_polls = 0;
};
