#include "RsycBackup.h"

#include <set>
#include <sys/stat.h>

#include "Clock.h"
#include "MessageBox.h"
#include "Schedule.h"
#include "TaskStore.h"
#include "stdafx.h"

namespace {

bool IsFolder(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string CRsycBackup::DeviceFolderName(const std::string& localPath)
{
    const std::string path = NormalisePath(localPath);
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool CRsycBackup::CheckFolderNames(const BackupTaskInfo& task, std::string* problem)
{
    std::set<std::string> names;
    for (const BackupFolderInfo& folder : task.folders) {
        const std::string name = DeviceFolderName(folder.path);
        if (!names.insert(name).second) {
            const std::string text =
                "Two folders of this task are named \"" + name + "\".\nFolders of one task need different names!!";
            if (problem)
                *problem = text;
            else
                platform::MessageBox(text);
            return false;
        }
    }
    return true;
}

CRsycBackup::CRsycBackup() : CRsyncEngine('<', true, kFirstPollMs) {}
CRsycBackup::~CRsycBackup() = default;

std::vector<std::string> CRsycBackup::BuildCommand(const std::string& localPath, const std::string& logFile,
                                                   const std::string& nasIp, const std::string& module,
                                                   const std::string& shareName) const
{
    std::vector<std::string> command{RsyncProgram(), "-rltpD", "--human-readable", "--stats", "--progress",
                                     "--chmod=a+rwx", "--log-file=" + logFile,
                                     // The whole file list first: the log then states how
                                     // many files there are, which the progress needs.
                                     "--no-inc-recursive"};
    for (std::string& option : ConnectionOptions())
        command.push_back(std::move(option));
    command.push_back(NormalisePath(localPath));
    command.push_back("QUOM@" + nasIp + "::" + module + "/" + shareName + "/");
    return command;
}

int CRsycBackup::BackupFolder(const std::string& localPath, const std::string& nasIp, const std::string& shareName,
                              const std::string& disk, const std::string& folderName, const std::string& taskName,
                              int folderNumber)
{
    if (nasIp.empty() || shareName.empty() || disk.empty() || localPath.empty())
        return BACKUP_INITIAL_ERROR;
    const std::string source = NormalisePath(localPath);
    // The root folder would copy the whole computer into the share.
    if (!IsFolder(source) || source == "/") {
        Tell("Please check the Source Folder Path is correct!! ");
        return BACKUP_INITIAL_ERROR;
    }

    if (!ProbeService(nasIp))
        return BACKUP_SERVER_ERROR;

    return RunFolder(source, nasIp, shareName, disk, folderName, "B_", "Copy file from Folder: " + source, taskName,
                     folderNumber);
}

void CRsycBackup::Run()
{
    DebugTrace("run");
    BackupTask();
    // The last backup time is that of the last good backup.
    if (!m_success)
        return;
    const std::string now = schedule::FormatTime(platform::WallNow(), "%X, %x");
    m_task->lastBackTime = now;
    CTaskStore().WriteTaskValue(m_task->taskName, "Last_Back_Time", now);
}

void CRsycBackup::BackupTask()
{
    if (!m_task) {
        m_success = 0;
        return;
    }
    // A task whose device folder was never chosen has nowhere to go.
    if (!m_task->nasFolderSet) {
        Tell(Printf("BackUP Task : %s ,process initial error, please try again!!", m_task->taskName));
        m_success = 0;
        Say("Backup processing Error!!");
        return;
    }
    // Folders that would merge on the device are refused before anything is copied.
    std::string clash;
    if (!CheckFolderNames(*m_task, &clash)) {
        Tell(clash);
        Tell(Printf("BackUP Task : %s ,process initial error, please try again!!", m_task->taskName));
        m_success = 0;
        Say("Backup processing Error!!");
        return;
    }
    Say("Backup processing");
    RunFolders(
        [this](const BackupFolderInfo& folder, int number) {
            Say("Backup processing : \n    copy file from " + folder.path);
            return BackupFolder(folder.path, m_task->nasIp, m_task->nasFolderName, m_task->nasFolderDisk,
                                folder.folderName, m_task->taskName, number);
        },
        {"BackUP Task : %s ,process initial error, please try again!!",
         "BackUP Task : %s ,process execute error, please try again!!",
         "BackUP Task : %s ,Backup server not available, please check NAS link or reboot the NAS!!",
         "Backup processing Finish!!", "Backup processing Error!!"});
}

BackupRunResult RunBackupJob(BackupTaskInfo task, std::time_t startTime, const platform::JobControl& control)
{
    CRsycBackup engine;
    return engine.RunJob(task, startTime, control, "backup");
}
