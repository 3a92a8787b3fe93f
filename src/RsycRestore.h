#pragma once
// The restore engine: copies a backup task's folders back from the task's
// shared folder on the device, either each into its own local folder or all
// into one folder the user chose (<target>/<folder name>/), with the same
// rsync runs, progress and result files as the backup engine. A task of
// another device than the one logged in is refused.
#include <ctime>
#include <string>
#include <vector>

#include "BackupTask.h"
#include "Job.h"
#include "RsyncEngine.h"
#include "RsycBackup.h"

class CRsycRestore : public CRsyncEngine {
public:
    // RestoreFolder's results.
    enum : int {
        RESTORE_OK = RUN_OK,
        RESTORE_INITIAL_ERROR = RUN_INITIAL_ERROR, // an argument is empty, or the local folder cannot be made
        RESTORE_EXECUTE_ERROR = RUN_EXECUTE_ERROR, // rsync could not be started
        RESTORE_SERVER_ERROR = RUN_SERVER_ERROR,   // the service cannot be reached, or it is another device
    };
    static constexpr int64_t kFirstPollMs = 12000;

    CRsycRestore();
    ~CRsycRestore() override;

    // 1: each folder back into its own path; 0: into the target folder.
    void SetRestoreToOriginal(int toOriginal) { m_restoreToOriginal = toOriginal; }
    void SetTargetPath(const std::string& path) { m_targetPath = path; }
    void SetTargetName(const std::string& name) { m_targetName = name; }

    // RestoreToOriginal or RestoreToOtherPlace; see IsSuccess and GetResultFile.
    void Run() override;
    void RestoreToOriginal();
    void RestoreToOtherPlace();
    // One folder: the device's remoteFolder (share/name) into localPath,
    // which is made when it is missing. A RESTORE_* code.
    int RestoreFolder(const std::string& localPath, const std::string& nasIp, const std::string& remoteFolder,
                      const std::string& disk, const std::string& folderName, const std::string& taskName,
                      int folderNumber);

    // The rsync arguments for one folder.
    std::vector<std::string> BuildCommand(const std::string& localPath, const std::string& logFile,
                                          const std::string& nasIp, const std::string& module,
                                          const std::string& remoteFolder) const override;

private:
    // Runs the folders; local(folder) gives each one's destination.
    template <class Local> void RestoreFolders(const Local& local, const std::string& folderName);

    std::string m_targetPath;
    std::string m_targetName;
    int m_restoreToOriginal = 0;
};

// One restore run of a task, for a worker thread, as RunBackupJob: refused
// while another task runs. toOriginal 0 restores into targetPath.
BackupRunResult RunRestoreJob(BackupTaskInfo task, std::time_t startTime, int toOriginal, const std::string& targetPath,
                              const std::string& targetName, const platform::JobControl& control);
