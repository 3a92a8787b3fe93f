#include "RsycRestore.h"

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

#include "MessageBox.h"
#include "stdafx.h"

namespace {

// path and its missing parents, each made 0700; false when one cannot be made.
bool MakeFolders(const std::string& path)
{
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/')
            continue;
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

// The folder's name on the device: the backup gave rsync the local folder
// itself, which rsync names after the path's last part.
std::string DeviceName(const BackupFolderInfo& folder)
{
    const std::string path = CRsyncEngine::NormalisePath(folder.path);
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name that makes one folder inside another ("", ".", ".." and names with
// "/" would not).
bool IsPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

} // namespace

CRsycRestore::CRsycRestore() : CRsyncEngine('>', false, kFirstPollMs) {}
CRsycRestore::~CRsycRestore() = default;

std::vector<std::string> CRsycRestore::BuildCommand(const std::string& localPath, const std::string& logFile,
                                                    const std::string& nasIp, const std::string& module,
                                                    const std::string& remoteFolder) const
{
    // Links as links and the files' times come back. The device keeps every
    // file open to all, so modes are not taken from it: a file or folder that
    // is there keeps its own mode, a new one is the user's alone. Every file
    // is brought back whatever its size and time say: a file changed in place
    // since, its size and time kept, is the backup's again (rsync sends only
    // what differs).
    std::vector<std::string> command{RsyncProgram(), "-rlt", "--ignore-times",
                                     "--chmod=Du=rwx,Dgo=,Fu=rw,Fgo=", "--human-readable", "--stats", "--progress",
                                     "--log-file=" + logFile,
                                     // The whole file list first, for the progress.
                                     "--no-inc-recursive"};
    for (std::string& option : ConnectionOptions())
        command.push_back(std::move(option));
    command.push_back("QUOM@" + nasIp + "::" + EscapeSource(module + "/" + remoteFolder + "/"));
    command.push_back(NormalisePath(localPath) + "/");
    return command;
}

int CRsycRestore::RestoreFolder(const std::string& localPath, const std::string& nasIp, const std::string& remoteFolder,
                                const std::string& disk, const std::string& folderName, const std::string& taskName,
                                int folderNumber)
{
    if (nasIp.empty() || remoteFolder.empty() || disk.empty() || localPath.empty())
        return RESTORE_INITIAL_ERROR;
    if (!ProbeService(nasIp))
        return RESTORE_SERVER_ERROR;
    // Only the device logged in to may restore into this computer.
    std::string current;
    {
        CNasContext* context = GetNasContext();
        context->Lock();
        current = context->m_deviceAddress;
        context->Unlock();
    }
    if (current != nasIp)
        return RESTORE_SERVER_ERROR;

    // rsync makes the last folder of the destination only: the whole path
    // is made here, so a deleted folder (and its missing parents) comes back;
    // folders made here are the user's alone.
    const std::string destination = NormalisePath(localPath);
    std::error_code error;
    if (!MakeFolders(destination) || !std::filesystem::is_directory(destination, error)) {
        platform::MessageBox("Please check the Target Folder Path is correct!! ");
        return RESTORE_INITIAL_ERROR;
    }

    return RunFolder(destination, nasIp, remoteFolder, disk, folderName, "R_",
                     "Copy file from NAS Folder: " + remoteFolder, taskName, folderNumber);
}

template <class Local> void CRsycRestore::RestoreFolders(const Local& local, const std::string& folderName)
{
    RunFolders(
        [&](const BackupFolderInfo& folder, int number) {
            const std::string name = DeviceName(folder);
            if (!IsPlainName(name))
                return static_cast<int>(RESTORE_INITIAL_ERROR);
            const std::string path = local(folder);
            Say("Restore processing : \n    copy file to " + path);
            return RestoreFolder(path, m_task->nasIp, m_task->nasFolderName + "/" + name, m_task->nasFolderDisk,
                                 folderName.empty() ? folder.folderName : folderName, m_task->taskName, number);
        },
        {"Restore Task : %s ,process initial error, please try again!!",
         "Restore Task : %s ,process execute error, please try again!!",
         "Restore Task : %s ,Restore server not available, please check NAS link or reboot the NAS!!",
         "Restore processing Finish!!", "Restore processing Error!!"});
}

void CRsycRestore::RestoreToOriginal()
{
    // Without a device folder there is nothing to restore from (its folders
    // would be looked for at the disk's top).
    if (!m_task->nasFolderSet || m_task->nasFolderName.empty() || m_task->nasFolderDisk.empty()) {
        platform::MessageBox(Printf("Restore Task : %s ,process initial error, please try again!!", m_task->taskName));
        m_success = 0;
        Say("Restore processing Error!!");
        return;
    }
    Say("Restore processing");
    RestoreFolders([](const BackupFolderInfo& folder) { return folder.path; }, "");
}

void CRsycRestore::RestoreToOtherPlace()
{
    // Without a device folder there is nothing to restore from.
    if (m_task->nasFolderName.empty() || m_task->nasFolderDisk.empty()) {
        m_success = 0;
        return;
    }
    if (m_targetPath.empty()) {
        platform::MessageBox("Please select A Folder to Save the DATA !!");
        m_success = 0;
        return;
    }
    const std::string target = NormalisePath(m_targetPath);
    Say("Restore processing : \n    copy file to " + target);
    RestoreFolders(
        [&target](const BackupFolderInfo& folder) {
            return target + "/" + (IsPlainName(folder.folderName) ? folder.folderName : DeviceName(folder));
        },
        m_targetName);
}

void CRsycRestore::Run()
{
    DebugTrace("run");
    if (!m_task) {
        m_success = 0;
        return;
    }
    if (m_restoreToOriginal)
        RestoreToOriginal();
    else
        RestoreToOtherPlace();
}

BackupRunResult RunRestoreJob(BackupTaskInfo task, std::time_t startTime, int toOriginal, const std::string& targetPath,
                              const std::string& targetName, const platform::JobControl& control)
{
    CRsycRestore engine;
    engine.SetRestoreToOriginal(toOriginal);
    engine.SetTargetName(targetName);
    engine.SetTargetPath(targetPath);
    return engine.RunJob(task, startTime, control, "restore");
}
