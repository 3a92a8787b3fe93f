#include "BackupRuns.h"

#include <mutex>
#include <set>

#include "Clock.h"
#include "MessageBox.h"
#include "NasBackupFolders.h"
#include "NasMib.h"
#include "RsycRestore.h"
#include "Schedule.h"
#include "TaskStore.h"
#include "stdafx.h"
#include "y_snmp.h"

bool CheckNasFolder(const BackupTaskInfo& task)
{
    if (task.nasIp.empty()) {
        platform::MessageBox("NO NAS ,Dicovery again!");
        return false;
    }
    NasDiskCheck disk = CheckNasDisk(task.nasIp, task.nasCommunity);
    if (!disk.ready) {
        platform::MessageBox(disk.message);
        return false;
    }
    CSnmpEngine engine;
    engine.SetAddress(task.nasIp);
    engine.SetReadCommunity(task.nasCommunity);
    engine.SetWriteCommunity(task.nasCommunity);
    const char* root = nasmib::kFolderShareName;
    std::string oid = root;
    char next[64];
    char value[261];
    bool found = false;
    while (engine.GetNext(oid.c_str(), next, sizeof next, value, sizeof value, root) == 0) {
        oid = next;
        const std::string name = value;
        std::string location;
        if (engine.SimpleGet(nasmib::kFolderLocation + oid.substr(oid.rfind('.')), location) != 0)
            location.clear();
        if (name == task.nasFolderName && location == task.nasFolderDisk)
            found = true;
    }
    return found;
}

BackupRunResult DoBackup(BackupTaskInfo task, std::time_t startTime, const platform::JobControl& control)
{
    return RunBackupJob(std::move(task), startTime, control);
}

BackupRunResult DoRestoreToOriginal(BackupTaskInfo task, std::time_t startTime, const platform::JobControl& control)
{
    return RunRestoreJob(std::move(task), startTime, 1, "", "", control);
}

BackupRunResult DoRestoreToOtherPlace(BackupTaskInfo task, const std::string& targetName, const std::string& targetPath,
                                      std::time_t startTime, const platform::JobControl& control)
{
    return RunRestoreJob(std::move(task), startTime, 0, targetPath, targetName, control);
}

namespace {

// Whether the store still holds the task with this schedule: the page may
// have deleted the task or replaced its schedule while the pass ran.
bool StillStored(const std::string& taskName, const std::string& key)
{
    CTaskStore store;
    bool task = false;
    for (const std::string& name : SplitNameList(store.ReadTaskValue(CTaskStore::kSettingSection, "Total_task_name")))
        task = task || name == taskName;
    if (!task)
        return false;
    for (const std::string& k : SplitNameList(store.ReadTaskValue(taskName, "Total_schedule_name")))
        if (k == key)
            return true;
    return false;
}

// A schedule that cannot move on is reported once per run of the program.
bool FirstReportOfBroken(const std::string& taskName, const std::string& key)
{
    static std::mutex mutex;
    static std::set<std::string> reported;
    const std::lock_guard<std::mutex> lock(mutex);
    return reported.insert(taskName + '\n' + key).second;
}

// The scheduled backup of one task, already marked as running: every
// folder is tried, and any folder that fails fails the task, as does a task
// with no folder, no device folder or two folders of one name.
void ScheduledBackup(BackupTaskInfo& task, std::time_t now, const platform::JobControl& control, ScheduleRunResult& out)
{
    CRsycBackup engine;
    engine.SetControl(&control);
    engine.SetStartTime(now);
    engine.SetFolderCount(static_cast<int>(task.folders.size()));
    control.Say("Backup processing");
    // Folders that would merge on the device are refused before anything is copied.
    const bool nowhere = !task.nasFolderSet || !CRsycBackup::CheckFolderNames(task);
    bool failed = task.folders.empty() || nowhere;
    int number = 1;
    for (const BackupFolderInfo& folder : task.folders) {
        if (nowhere)
            break;
        if (control.Stopped()) {
            failed = true;
            break;
        }
        control.Say("Backup processing : \n    copy file from " + folder.path);
        if (engine.BackupFolder(folder.path, task.nasIp, task.nasFolderName, task.nasFolderDisk, folder.folderName,
                                task.taskName, number) != CRsycBackup::BACKUP_OK)
            failed = true;
        ++number;
    }
    out.ran = true;
    out.success = !failed && engine.IsSuccess();
    out.resultFile = engine.GetResultFile();
    out.description = task.taskName + (out.success ? " : backup processing Finish!!" : " : backup processing Error!!");
    control.Say("Backup finish");
    // The last backup time is that of the last good backup; a run stopped
    // because the program ends is no backup either.
    out.lastBackTime = task.lastBackTime;
    const std::lock_guard<std::recursive_mutex> edit(CTaskStore::EditLock());
    if (!out.success || control.Stopped() || !StillStored(task.taskName, out.oldKey))
        return;
    out.lastBackTime = schedule::FormatTime(platform::WallNow(), "%X, %x");
    task.lastBackTime = out.lastBackTime;
    CTaskStore().WriteTaskValue(task.taskName, "Last_Back_Time", out.lastBackTime);
}

// The schedule moved on by one period, its store keys renamed after it.
void AdvanceAndRekey(const std::string& taskName, BackupScheduleInfo& s, std::time_t now)
{
    BackupScheduleInfo moved = s;
    moved.nextRun = schedule::AdvanceRun(s, now);
    moved.key = schedule::ScheduleKey(moved.nextRun, s.setType, s.setDate);
    CTaskStore().MoveSchedule(taskName, s.key, moved);
    s = moved;
}

} // namespace

std::vector<ScheduleRunResult> RunDueSchedules(std::list<BackupTaskInfo> tasks, const platform::JobControl& control)
{
    DebugTrace("enter schedule check");
    std::vector<ScheduleRunResult> results;
    const std::time_t now = platform::WallNow();
    CNasContext* context = GetNasContext();
    for (BackupTaskInfo& task : tasks) {
        if (control.Stopped())
            break;
        if (task.schedules.empty())
            continue;
        BackupScheduleInfo& s = task.schedules.front();
        // Not yet due, or another task runs: left for a later pass.
        if (now < s.nextRun || context->IsTaskRunning())
            continue;
        const bool late = schedule::IsLate(now, s.nextRun);
        const bool routine = s.setType == "day" || s.setType == "week" || s.setType == "month";
        if (!routine && !(s.setType == "one" && s.setDate == "unexecute"))
            continue;

        ScheduleRunResult out;
        out.taskName = task.taskName;
        out.oldKey = s.key;
        out.schedule = s;
        // A schedule that would not move on (a day of the month that cannot
        // be read) would come due on every pass: it is reported once and
        // left alone, without a backup or a look at the device.
        if (routine && schedule::AdvanceRun(s, now) <= s.nextRun) {
            if (FirstReportOfBroken(task.taskName, s.key)) {
                out.description = task.taskName + " : schedule Error!! its time cannot be read, it is not run";
                results.push_back(std::move(out));
            }
            continue;
        }
        // A task deleted, or given another schedule, since the pass began.
        if (!StillStored(task.taskName, s.key))
            continue;
        if (CheckNasFolder(task) && !late) {
            // The test and the taking of the running task are one step: a
            // task started meanwhile leaves this schedule for a later pass.
            if (!context->TryStartTask(task.taskName))
                continue;
            struct Release {
                CNasContext* context;
                ~Release() { context->EndTask(); }
            } release{context};
            ScheduledBackup(task, now, control, out);
        }
        // Stopped because the program ends: the schedule stays due, for the
        // next start to take up.
        if (control.Stopped()) {
            if (out.ran)
                results.push_back(std::move(out));
            break;
        }
        {
            // The check and the move on are one step against the page's edits.
            const std::lock_guard<std::recursive_mutex> edit(CTaskStore::EditLock());
            if (!StillStored(task.taskName, s.key)) {
                if (out.ran)
                    results.push_back(std::move(out));
                continue;
            }
            if (routine) {
                AdvanceAndRekey(task.taskName, s, now);
            } else {
                s.setDate = "finish";
                CTaskStore().WriteTaskValue(task.taskName, s.key + "_set_date", "finish");
            }
        }
        out.schedule = s;
        results.push_back(std::move(out));
    }
    return results;
}
