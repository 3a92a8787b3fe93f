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

namespace {
// What keeps the device from answering, or its answer from being read, as
// the engine's status tells it.
std::string UnreachedDevice(const std::string& address, int status)
{
    switch (status) {
    case SNMP_ENGINE_TIMEOUT: return "device not answering at " + address;
    case SNMP_ENGINE_FAILURE: return "no route to the device at " + address;
    case SNMP_ENGINE_BAD_ADDRESS: return "the device address " + address + " is not an address";
    default:
        if (status > 0)
            return "device at " + address + " answered with error " + std::to_string(status);
        return "device at " + address + " could not be asked (error " + std::to_string(status) + ")";
    }
}
} // namespace

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
        check.reason = disk.status == 0 ? "disk of the device at " + task.nasIp + " not ready"
                                        : UnreachedDevice(task.nasIp, disk.status);
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
        check.reason = UnreachedDevice(task.nasIp, rc);
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

// The key under which the store holds the schedule.
const std::string& StoredKey(const BackupScheduleInfo& s) { return s.storedKey.empty() ? s.key : s.storedKey; }

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

// The due schedules that wait on a run of this program: seen due while
// another task ran, or come due while a pass ran its backups. Their wait is
// not lateness: they run when the runner is free, however long that took.
class WaitingSchedules {
public:
    static void Add(const std::string& taskName, const std::string& key)
    {
        const std::lock_guard<std::mutex> lock(Mutex());
        Names().insert(taskName + '\n' + key);
    }
    static bool Has(const std::string& taskName, const std::string& key)
    {
        const std::lock_guard<std::mutex> lock(Mutex());
        return Names().count(taskName + '\n' + key) != 0;
    }
    // Settled: it waits no more.
    static void Drop(const std::string& taskName, const std::string& key)
    {
        const std::lock_guard<std::mutex> lock(Mutex());
        Names().erase(taskName + '\n' + key);
    }

private:
    static std::mutex& Mutex()
    {
        static std::mutex mutex;
        return mutex;
    }
    static std::set<std::string>& Names()
    {
        static std::set<std::string> names;
        return names;
    }
};

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
    if (!out.success || control.Stopped() || !StillStored(task.taskName, StoredKey(task.schedules.front())))
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
// False when the store could not take it: the schedule is moved on in
// memory all the same, keeping the key it is stored under, so that it does
// not come due again before its next run.
bool AdvanceAndRekey(const std::string& taskName, BackupScheduleInfo& s)
{
    const std::string from = StoredKey(s);
    s.nextRun = schedule::AdvanceRun(s);
    s.key = schedule::ScheduleKey(s.nextRun, s.setType, s.setDate);
    s.storedKey.clear();
    if (CTaskStore().MoveSchedule(taskName, from, s))
        return true;
    s.storedKey = from;
    return false;
}

bool IsRoutine(const BackupScheduleInfo& s)
{
    return s.setType == "day" || s.setType == "week" || s.setType == "month";
}

// What one pass shares: its moment, its stop, and where its results go.
struct SchedulePass {
    std::time_t now;
    const platform::JobControl& control;
    const std::function<void(const ScheduleRunResult&)>& recorded;
    std::vector<ScheduleRunResult> results;

    void Record(ScheduleRunResult out)
    {
        if (recorded)
            recorded(out);
        results.push_back(std::move(out));
    }
};

// A schedule moved on in memory only is stored with the first pass whose
// write succeeds, the page told of it without a row. False when the task,
// or this schedule of it, is no longer stored: nothing is written.
bool StorePendingMove(SchedulePass& pass, BackupTaskInfo& task)
{
    if (task.schedules.empty() || task.schedules.front().storedKey.empty())
        return true;
    BackupScheduleInfo& s = task.schedules.front();
    const std::lock_guard<std::recursive_mutex> edit(CTaskStore::EditLock());
    // Stored meanwhile by the page's own save, or stored now.
    const bool stored = StillStored(task.taskName, s.key);
    if (!stored && !StillStored(task.taskName, s.storedKey))
        return false;
    if (!stored && !CTaskStore().MoveSchedule(task.taskName, s.storedKey, s))
        return true;
    s.storedKey.clear();
    ScheduleRunResult out;
    out.taskName = task.taskName;
    out.oldKey = s.key;
    out.schedule = s;
    pass.Record(std::move(out));
    return true;
}

// The task's schedule due now, nullptr when it has none that is: not yet
// due, another task runs (left for a later pass), or a one-time schedule
// already finished.
BackupScheduleInfo* FindDueSchedule(BackupTaskInfo& task, std::time_t now)
{
    if (task.schedules.empty())
        return nullptr;
    BackupScheduleInfo& s = task.schedules.front();
    if (now < s.nextRun)
        return nullptr;
    if (GetNasContext()->IsTaskRunning()) {
        if (!schedule::IsLate(now, s.nextRun))
            WaitingSchedules::Add(task.taskName, s.key);
        return nullptr;
    }
    if (!IsRoutine(s) && !(s.setType == "one" && s.setDate == "unexecute"))
        return nullptr;
    return &s;
}

// A schedule whose time cannot be read, or that would not move on (a day
// of the month that cannot be read), would come due on every pass: it is
// reported once and left alone, without a backup or a look at the device.
// False when it can run and move on.
bool ReportUnmovable(SchedulePass& pass, const BackupScheduleInfo& s, ScheduleRunResult out)
{
    if (s.nextRun != schedule::kUnreadableRun && (!IsRoutine(s) || schedule::AdvanceRun(s) > s.nextRun))
        return false;
    if (FirstReportOfBroken(out.taskName, s.key)) {
        out.description = out.taskName + " : schedule Error!! its time cannot be read, it is not run";
        out.notice = out.taskName + ": its schedule's time cannot be read, it is not run";
        out.resultFile = RecordInResultFile(
            out.taskName, pass.now, "Scheduled backup due at " + schedule::FormatTime(s.nextRun, "%X, %x"),
            "Backup processing Error!! its schedule's time cannot be read, it is not run");
        pass.Record(std::move(out));
    }
    return true;
}

// Why the due run does not happen: more than an hour late (not counting a
// wait on another run), or the device folder out of reach; "" when it runs.
std::string WhyNotRun(const BackupTaskInfo& task, const BackupScheduleInfo& s, std::time_t now)
{
    if (!WaitingSchedules::Has(task.taskName, s.key) && schedule::IsLate(now, s.nextRun))
        return LatenessText(now - s.nextRun) + " late, not run";
    const NasFolderCheck device = FindNasFolder(task);
    return device.found ? std::string() : device.reason;
}

// The backup of a due schedule. The test and the taking of the running task
// are one step: false, nothing run, when a task started meanwhile, which
// leaves this schedule for a later pass.
bool RunSchedule(BackupTaskInfo& task, const SchedulePass& pass, ScheduleRunResult& out)
{
    const RunningTaskGuard running(task.taskName);
    if (!running.Taken())
        return false;
    ScheduledBackup(task, pass.now, pass.control, out);
    return true;
}

// What moving a schedule on did.
struct MoveOutcome {
    bool gone = false;         // the task, or this schedule of it, is no longer stored: nothing written
    bool stored = true;        // the store took the move (or the finish)
    bool toldUnstored = false; // an earlier pass said that its move could not be stored
    int missed = 1;            // the runs passed over, this one included
};

// The schedule moved on past now (a one-time schedule finished), in memory
// and in the store. The check and the move are one step against the page's
// edits. A late routine schedule passes over every run it missed at once.
MoveOutcome MoveScheduleOn(const std::string& taskName, BackupScheduleInfo& s, std::time_t now)
{
    MoveOutcome outcome;
    const std::lock_guard<std::recursive_mutex> edit(CTaskStore::EditLock());
    if (!StillStored(taskName, StoredKey(s))) {
        outcome.gone = true;
        return outcome;
    }
    if (!IsRoutine(s)) {
        s.setDate = "finish";
        outcome.stored = CTaskStore().WriteTaskValue(taskName, s.key + "_set_date", "finish");
        return outcome;
    }
    outcome.toldUnstored = !s.storedKey.empty();
    if (schedule::IsLate(now, s.nextRun)) {
        for (std::time_t next; (next = schedule::AdvanceRun(s)) > s.nextRun && schedule::IsLate(now, next);
             ++outcome.missed)
            s.nextRun = next;
    }
    outcome.stored = AdvanceAndRekey(taskName, s);
    return outcome;
}

// The row, the notice and the result file of a settled schedule: why it
// did not run, and whether its move, or its device's new address, could not
// be stored.
void RecordSettled(SchedulePass& pass, ScheduleRunResult out, const BackupScheduleInfo& s, std::string skipped,
                   const MoveOutcome& moved, bool addressStored = true)
{
    if (!skipped.empty()) {
        // Every run missed is passed over now: one record for all.
        if (moved.missed > 1)
            skipped = std::to_string(moved.missed) + " runs missed, the first " + skipped;
        out.description = out.taskName + " : backup processing Error!! " + skipped;
        out.notice = out.taskName + ": " + skipped;
        out.resultFile = RecordInResultFile(
            out.taskName, pass.now, "Scheduled backup due at " + schedule::FormatTime(out.schedule.nextRun, "%X, %x"),
            "Backup processing Error!! " + skipped);
    }
    const auto tell = [&out](bool failed, const std::string& note) {
        if (!failed)
            return;
        out.description += "; " + note;
        out.notice = (out.notice.empty() ? out.taskName + ": " : out.notice + "; ") + note;
    };
    tell(!moved.stored && !moved.toldUnstored,
         IsRoutine(s) ? "its next run could not be stored" : "its finish could not be stored");
    tell(!addressStored, "its device's new address could not be stored");
    out.schedule = s;
    pass.Record(std::move(out));
}

} // namespace

std::string RecordFailedSchedulePass(const std::string& what)
{
    return RecordInResultFile("schedule check", platform::WallNow(), "Scheduled backup check",
                              "Backup processing Error!! the schedule check failed: " + what);
}

namespace {

// Settles one task's due schedule: run or not, moved on, recorded. False
// when the pass ends here (the program ends).
bool SettleTask(SchedulePass& pass, BackupTaskInfo& task)
{
    if (!StorePendingMove(pass, task))
        return true;
    BackupScheduleInfo* due = FindDueSchedule(task, pass.now);
    if (!due)
        return true;
    BackupScheduleInfo& s = *due;
    ScheduleRunResult out;
    out.taskName = task.taskName;
    out.oldKey = s.key;
    out.schedule = s;
    if (ReportUnmovable(pass, s, out))
        return true;
    // A task deleted, or given another schedule, since the pass began.
    if (!StillStored(task.taskName, StoredKey(s)))
        return true;
    // A task whose device moved to a new address follows it there.
    const bool addressStored = FollowLoggedInDevice(task);
    const std::string skipped = WhyNotRun(task, s, pass.now);
    if (skipped.empty() && !RunSchedule(task, pass, out))
        return true;
    // Stopped because the program ends: the schedule stays due, for the
    // next start to take up; a run cut short says so in its result file.
    if (pass.control.Stopped()) {
        if (out.ran) {
            const std::string file =
                RecordInResultFile(task.taskName, pass.now, "Backup processing stopped",
                                   "Backup processing Error!! stopped because the program ended; it runs again at "
                                   "the next start");
            if (!file.empty())
                out.resultFile = file;
            pass.Record(std::move(out));
        }
        return false;
    }
    const MoveOutcome moved = MoveScheduleOn(task.taskName, s, pass.now);
    WaitingSchedules::Drop(task.taskName, out.oldKey);
    if (moved.gone) {
        if (out.ran)
            pass.Record(std::move(out));
        return true;
    }
    RecordSettled(pass, std::move(out), s, skipped, moved, addressStored);
    return true;
}

// A task's step that ended by an exception is recorded as a run not made,
// its schedule moved on when it is still due, so that neither this pass's
// other tasks nor the next pass wait on it.
void RecordFailedStep(SchedulePass& pass, BackupTaskInfo& task, const std::string& oldKey, const std::string& what)
{
    if (task.schedules.empty())
        return;
    ScheduleRunResult out;
    out.taskName = task.taskName;
    out.oldKey = oldKey;
    out.schedule = task.schedules.front();
    MoveOutcome moved;
    if (BackupScheduleInfo* due = FindDueSchedule(task, pass.now))
        moved = MoveScheduleOn(task.taskName, *due, pass.now);
    moved.missed = 1;
    RecordSettled(pass, std::move(out), task.schedules.front(), "the schedule check failed: " + what, moved);
}

} // namespace

std::vector<ScheduleRunResult> RunDueSchedules(std::list<BackupTaskInfo> tasks, const platform::JobControl& control,
                                               const std::function<void(const ScheduleRunResult&)>& recorded)
{
    DebugTrace("enter schedule check");
    SchedulePass pass{platform::WallNow(), control, recorded, {}};
    for (BackupTaskInfo& task : tasks) {
        if (control.Stopped())
            break;
        const std::string oldKey = task.schedules.empty() ? std::string() : task.schedules.front().key;
        try {
            if (!SettleTask(pass, task))
                break;
        } catch (const std::exception& e) {
            RecordFailedStep(pass, task, oldKey, e.what());
        }
    }
    // What came due while this pass ran has waited on it: the next pass
    // takes it up.
    const std::time_t end = platform::WallNow();
    for (const BackupTaskInfo& task : tasks)
        if (!task.schedules.empty() && task.schedules.front().nextRun > pass.now &&
            task.schedules.front().nextRun <= end)
            WaitingSchedules::Add(task.taskName, task.schedules.front().key);
    return std::move(pass.results);
}
