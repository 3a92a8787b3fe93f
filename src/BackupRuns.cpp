#include "BackupRuns.h"

#include <mutex>
#include <set>
#include <strings.h>

#include "Clock.h"
#include "MessageBox.h"
#include "NasBackupFolders.h"
#include "NasMib.h"
#include "RsycRestore.h"
#include "Schedule.h"
#include "SnmpHelpers.h"
#include "TaskStore.h"
#include "stdafx.h"
#include "y_snmp.h"

bool CheckNasFolder(const BackupTaskInfo& task)
{
    const NasFolderCheck check = FindNasFolder(task);
    if (!check.box.empty())
        platform::MessageBox(check.box);
    return check.found;
}

NasFolderCheck FindNasFolder(const BackupTaskInfo& task)
{
    NasFolderCheck check;
    if (task.nasIp.empty()) {
        check.box = "NO NAS ,Dicovery again!";
        check.reason = "no device chosen for the task";
        return check;
    }
    NasDiskCheck disk = CheckNasDisk(task.nasIp, task.nasCommunity);
    if (!disk.ready) {
        check.box = disk.message;
        if (disk.status == 0)
            check.reason = "disk of the device at " + task.nasIp + " not ready";
        else if (disk.status == SNMP_ENGINE_TIMEOUT)
            check.reason = "device not answering at " + task.nasIp;
        else
            check.reason = "device at " + task.nasIp + " answered with error " + std::to_string(disk.status);
        return check;
    }
    CSnmpEngine engine = DeviceEngine(task.nasIp, task.nasCommunity);
    bool found = false;
    const int rc =
        SnmpWalkColumn(engine, nasmib::kFolderShareName, 1, [&](const std::string& oid, const std::string& name) {
            std::string location;
            if (engine.SimpleGet(NasCell(nasmib::kFolderLocation, NasRowOf(oid)), location) != 0)
                location.clear();
            found = name == task.nasFolderName && location == task.nasFolderDisk;
            return !found;
        });
    check.found = found;
    // A walk cut short by the device says nothing about the folder.
    if (!found && rc != 0)
        check.reason = "device not answering at " + task.nasIp;
    else if (!found)
        check.reason = "device folder " + task.nasFolderName + " on " + task.nasFolderDisk + " not found";
    return check;
}

std::string NewDeviceAddress(const BackupTaskInfo& task)
{
    const LoginCopy login = CopyLogin();
    if (task.nasMac.empty() || login.mac.empty() || login.address.empty() || login.address == task.nasIp ||
        ::strcasecmp(task.nasMac.c_str(), login.mac.c_str()) != 0)
        return "";
    return login.address;
}

bool FollowLoggedInDevice(BackupTaskInfo& task)
{
    const std::string address = NewDeviceAddress(task);
    if (address.empty())
        return true;
    task.nasIp = address;
    const std::lock_guard<std::recursive_mutex> edit(CTaskStore::EditLock());
    const CTaskStore store;
    // A task deleted meanwhile stays deleted.
    return !store.HasTask(task.taskName) || store.WriteTaskValue(task.taskName, "NAS_IP", address);
}

std::string LatenessText(std::time_t seconds)
{
    const long long minutes = seconds / 60;
    const long long days = minutes / 1440;
    std::string text = std::to_string(minutes / 60 % 24) + " h " + std::to_string(minutes % 60) + " min";
    return days > 0 ? std::to_string(days) + " d " + text : text;
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
    if (!store.HasTask(taskName))
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

// Appends a block to the task's result file of the pass (made when
// missing) and returns the file, "" when it cannot be written.
std::string RecordInResultFile(const std::string& taskName, std::time_t passStart, const std::string& header,
                               const std::string& lines)
{
    const std::string file = CRsyncEngine::ResultFileName("B_", taskName, passStart);
    return CRsyncEngine::SplitLog("", file, "", header, lines) == 0 ? file : std::string();
}

// The scheduled backup of one task, already marked as running: every
// folder is tried, and any folder that fails fails the task, as does a task
// with no folder, no device folder or two folders of one name. Nothing is
// shown: what went wrong goes to the result file and to out.notice.
void ScheduledBackup(BackupTaskInfo& task, std::time_t now, const platform::JobControl& control, ScheduleRunResult& out)
{
    CRsycBackup engine;
    engine.SetControl(&control);
    engine.SetStartTime(now);
    engine.SetUnattended(true);
    engine.SetTask(&task);
    control.Say("Backup processing");
    engine.BackupTask();
    out.ran = true;
    out.success = engine.IsSuccess() && !control.Stopped();
    out.resultFile = engine.GetResultFile();
    out.description = task.taskName + (out.success ? " : backup processing Finish!!" : " : backup processing Error!!");
    if (!out.success && !control.Stopped()) {
        std::string lines;
        for (const std::string& note : engine.Notes())
            lines += (lines.empty() ? "" : "\r\n") + note;
        if (lines.empty())
            lines = "Backup processing Error!!";
        const std::string file = RecordInResultFile(task.taskName, now, "Backup processing Error!!", lines);
        if (!file.empty())
            out.resultFile = file;
        out.notice = task.taskName + ": " + (engine.Notes().empty() ? lines : engine.Notes().front());
    }
    control.Say("Backup finish");
    // The last backup time is that of the last good backup; a run stopped
    // because the program ends is no backup either.
    out.lastBackTime = task.lastBackTime;
    const std::lock_guard<std::recursive_mutex> edit(CTaskStore::EditLock());
    if (!out.success || control.Stopped() || !StillStored(task.taskName, out.oldKey))
        return;
    const std::string stamp = schedule::FormatTime(platform::WallNow(), "%X, %x");
    if (!CTaskStore().RecordLastBackTime(task.taskName, stamp)) {
        // The time shown stays the one the task file holds.
        const std::string note = "the last backup time could not be stored";
        out.description += "; " + note;
        out.notice = task.taskName + ": " + note;
        return;
    }
    out.lastBackTime = stamp;
    task.lastBackTime = stamp;
}

// The schedule moved on by one period, its store keys renamed after it.
// False, the schedule left as it was, when the store could not take it.
bool AdvanceAndRekey(const std::string& taskName, BackupScheduleInfo& s, std::time_t now)
{
    BackupScheduleInfo moved = s;
    moved.nextRun = schedule::AdvanceRun(s, now);
    moved.key = schedule::ScheduleKey(moved.nextRun, s.setType, s.setDate);
    if (!CTaskStore().MoveSchedule(taskName, s.key, moved))
        return false;
    s = moved;
    return true;
}

} // namespace

std::vector<ScheduleRunResult> RunDueSchedules(std::list<BackupTaskInfo> tasks, const platform::JobControl& control,
                                               const std::function<void(const ScheduleRunResult&)>& recorded)
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
        // A schedule whose time cannot be read, or that would not move on (a
        // day of the month that cannot be read), would come due on every
        // pass: it is reported once and left alone, without a backup or a
        // look at the device.
        if (s.nextRun == schedule::kUnreadableRun || (routine && schedule::AdvanceRun(s, now) <= s.nextRun)) {
            if (FirstReportOfBroken(task.taskName, s.key)) {
                out.description = task.taskName + " : schedule Error!! its time cannot be read, it is not run";
                out.notice = task.taskName + ": its schedule's time cannot be read, it is not run";
                out.resultFile = RecordInResultFile(
                    task.taskName, now, "Scheduled backup due at " + schedule::FormatTime(s.nextRun, "%X, %x"),
                    "Backup processing Error!! its schedule's time cannot be read, it is not run");
                if (recorded)
                    recorded(out);
                results.push_back(std::move(out));
            }
            continue;
        }
        // A task deleted, or given another schedule, since the pass began.
        if (!StillStored(task.taskName, s.key))
            continue;
        // A task whose device moved to a new address follows it there.
        const bool addressStored = FollowLoggedInDevice(task);
        // Why the due run does not happen ("" when it does).
        std::string skipped;
        if (late) {
            skipped = LatenessText(now - s.nextRun) + " late, not run";
        } else {
            const NasFolderCheck device = FindNasFolder(task);
            if (!device.found)
                skipped = device.reason;
        }
        if (skipped.empty()) {
            // The test and the taking of the running task are one step: a
            // task started meanwhile leaves this schedule for a later pass.
            const RunningTaskGuard running(task.taskName);
            if (!running.Taken())
                continue;
            ScheduledBackup(task, now, control, out);
        }
        // Stopped because the program ends: the schedule stays due, for the
        // next start to take up.
        if (control.Stopped()) {
            if (out.ran)
                results.push_back(std::move(out));
            break;
        }
        bool unstored = false;
        {
            // The check and the move on are one step against the page's edits.
            const std::lock_guard<std::recursive_mutex> edit(CTaskStore::EditLock());
            if (!StillStored(task.taskName, s.key)) {
                if (out.ran) {
                    if (recorded)
                        recorded(out);
                    results.push_back(std::move(out));
                }
                continue;
            }
            if (routine && late) {
                // Every run missed is passed over now: one record for all.
                int missed = 1;
                for (std::time_t next; (next = schedule::AdvanceRun(s, now)) > s.nextRun && schedule::IsLate(now, next);
                     ++missed)
                    s.nextRun = next;
                if (missed > 1)
                    skipped = std::to_string(missed) + " runs missed, the first " + skipped;
            }
            if (routine && !AdvanceAndRekey(task.taskName, s, now)) {
                // The store keeps the schedule as it was, and so does the page.
                s = out.schedule;
                unstored = true;
            } else if (!routine) {
                s.setDate = "finish";
                unstored = !CTaskStore().WriteTaskValue(task.taskName, s.key + "_set_date", "finish");
            }
        }
        if (!skipped.empty()) {
            out.description = task.taskName + " : backup processing Error!! " + skipped;
            out.notice = task.taskName + ": " + skipped;
            out.resultFile = RecordInResultFile(
                task.taskName, now, "Scheduled backup due at " + schedule::FormatTime(out.schedule.nextRun, "%X, %x"),
                "Backup processing Error!! " + skipped);
        }
        const auto tell = [&](bool failed, const std::string& note) {
            if (!failed)
                return;
            out.description += "; " + note;
            out.notice = (out.notice.empty() ? task.taskName + ": " : out.notice + "; ") + note;
        };
        tell(unstored, routine ? "its next run could not be stored" : "its finish could not be stored");
        tell(!addressStored, "its device's new address could not be stored");
        out.schedule = s;
        if (recorded)
            recorded(out);
        results.push_back(std::move(out));
    }
    return results;
}
