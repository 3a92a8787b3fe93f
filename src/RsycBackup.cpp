#include "RsycBackup.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
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
    const std::string clash = FindFolderClash(task);
    if (!clash.empty()) {
        if (problem)
            *problem = clash;
        else
            platform::MessageBox(clash);
        return false;
    }
    return true;
}

namespace {

bool SameText(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Whether the backups of both tasks go into one folder of one device: the
// device by its address or its MAC (the address may have changed since),
// the disk as the run picks its module.
bool SameDeviceFolder(const BackupTaskInfo& a, const BackupTaskInfo& b)
{
    const bool sameDevice =
        (!a.nasIp.empty() && a.nasIp == b.nasIp) || (!a.nasMac.empty() && SameText(a.nasMac, b.nasMac));
    return a.nasFolderSet && b.nasFolderSet && sameDevice &&
           (a.nasFolderDisk == "Disk1") == (b.nasFolderDisk == "Disk1") && !a.nasFolderName.empty() &&
           a.nasFolderName == b.nasFolderName;
}

} // namespace

std::string CRsycBackup::FindFolderClash(const BackupTaskInfo& task, const std::list<BackupTaskInfo>& tasks)
{
    for (const BackupTaskInfo& other : tasks) {
        if (other.taskName == task.taskName || !SameDeviceFolder(task, other))
            continue;
        for (const BackupFolderInfo& mine : task.folders) {
            const std::string name = DeviceFolderName(mine.path);
            for (const BackupFolderInfo& theirs : other.folders) {
                if (DeviceFolderName(theirs.path) == name)
                    return "A folder named \"" + name + "\" of task \"" + other.taskName + "\" is backed up into " +
                           task.nasFolderName + " on " + task.nasFolderDisk +
                           " already.\nTasks that back up into one NAS folder need different folder names!!";
            }
        }
    }
    return "";
}

std::string CRsycBackup::FindFolderClash(const BackupTaskInfo& task)
{
    if (!task.nasFolderSet)
        return "";
    const CTaskStore store;
    if (store.ReadTaskValue(CTaskStore::kSettingSection, "Total_task_name") == CTaskStore::kReadDefault)
        return ""; // no task file, or no task in it
    return FindFolderClash(task, store.LoadTasks(false));
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
    // The folder's contents into a folder of its name: a task folder that is
    // a link to a folder elsewhere is backed up as that folder, not as the
    // link; links inside it stay links.
    const std::string source = NormalisePath(localPath);
    command.push_back(source == "/" ? source : source + "/");
    // The service expands a pattern in the destination as well: escaped,
    // the path matches only the folder of exactly its name, which the first
    // run has made.
    command.push_back("QUOM@" + nasIp +
                      "::" + EscapeSource(module + "/" + shareName + "/" + DeviceFolderName(localPath) + "/"));
    return command;
}

std::vector<std::string> CRsycBackup::BuildFirstCommand(const std::string& localPath, const std::string& logFile,
                                                        const std::string& nasIp, const std::string& module,
                                                        const std::string& shareName, const std::string& scratch) const
{
    const std::string name = DeviceFolderName(localPath);
    const std::string remote = module + "/" + shareName + "/" + name + "/";
    if (EscapeSource(remote) == remote)
        return {};
    // An empty folder of that name; were it not made, rsync would say that
    // its source is missing.
    std::error_code error;
    std::filesystem::create_directories(scratch + "/" + name, error);
    std::vector<std::string> command{RsyncProgram(), "--dirs", "--stats", "--log-file=" + logFile};
    for (std::string& option : ConnectionOptions())
        command.push_back(std::move(option));
    command.push_back(scratch + "/" + name);
    command.push_back("QUOM@" + nasIp + "::" + EscapeSource(module + "/" + shareName + "/"));
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
    m_unstored.clear();
    BackupTask();
    // The last backup time is that of the last good backup.
    if (!m_success)
        return;
    const std::string now = schedule::FormatTime(platform::WallNow(), "%X, %x");
    const CTaskStore store;
    if (store.RecordLastBackTime(m_task->taskName, now)) {
        m_task->lastBackTime = now;
    } else if (store.HasTask(m_task->taskName)) {
        // The time shown stays the one the task file holds.
        m_unstored = "the last backup time could not be stored";
        Tell(Printf("BackUP Task : %s ,", m_task->taskName) + m_unstored + ".\nPlease check that " + store.File() +
             " can be written.");
    }
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
