#pragma once
// The runs of backup tasks: Backup Now, the two restores and the schedule
// pass, with the device checks made before a run. Each run takes its task
// by value and runs only while no other task runs: the running task is taken
// in the program's context in one step and given back at the end. Blocking;
// for worker threads. Device checks and engine failures of the runs a user
// starts are shown in message boxes from the thread that runs them; a
// schedule pass shows none and waits for nobody: it records every failure
// and hands back the text to tell the user.
#include <ctime>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "BackupTask.h"
#include "Job.h"
#include "RsycBackup.h"

// Whether the task's device folder is still there: disk 1 ready and a share
// of that name on that disk. Shows the reason when it is not.
bool CheckNasFolder(const BackupTaskInfo& task);

// The same check without a box: the device's box text ("" when the device
// answered) and the reason in words when the folder cannot be reached.
struct NasFolderCheck {
    bool found = false;
    std::string box;
    std::string reason;
};
NasFolderCheck FindNasFolder(const BackupTaskInfo& task);

// A task follows its device to a new address: when the device logged in to
// is the task's (its NAS_MAC, case ignored) and is at another address now,
// NewDeviceAddress gives that address ("" otherwise: a task of another
// device is never redirected), and FollowLoggedInDevice puts it in the task
// and stores it as its NAS_IP. False when it could not be stored (the task
// has it all the same).
std::string NewDeviceAddress(const BackupTaskInfo& task);
bool FollowLoggedInDevice(BackupTaskInfo& task);

// "2 h 10 min", "3 d 0 h 5 min" (whole minutes).
std::string LatenessText(std::time_t seconds);

// Backup Now and the restores; started == false when another task ran.
BackupRunResult DoBackup(BackupTaskInfo task, std::time_t startTime, const platform::JobControl& control);
BackupRunResult DoRestoreToOriginal(BackupTaskInfo task, std::time_t startTime, const platform::JobControl& control);
BackupRunResult DoRestoreToOtherPlace(BackupTaskInfo task, const std::string& targetName, const std::string& targetPath,
                                      std::time_t startTime, const platform::JobControl& control);

// What a schedule pass did with one task's due schedule.
struct ScheduleRunResult {
    std::string taskName;
    std::string oldKey;          // the schedule's key before the pass
    BackupScheduleInfo schedule; // the schedule after the pass (finished, or moved on and re-keyed)
    bool ran = false;            // a backup ran
    bool success = false;        // every folder of it was backed up
    std::string resultFile;
    std::string lastBackTime; // when it ran
    // The System Log row: "<task> : backup processing Finish!!" or "... Error!!"
    // when it ran; "<task> : backup processing Error!! <reason>" when it did
    // not; "" when the pass only stored a move kept in memory until then.
    std::string description;
    std::string notice; // what to tell the user without waiting ("" nothing)
};

// One pass over the tasks (copies) at the clock's present moment: every due
// schedule whose task can run is backed up unless more than an hour late,
// then moved on (or, for a one-time schedule, finished) in the store; a due
// schedule waits while another task runs, and a wait on a run of this
// program (another task's, or a pass's own) does not make it late. A late
// schedule moves on past every run it missed. A due schedule that is not
// run, and a run that fails, is recorded in the task's result file of the
// pass; so is a run stopped because the program ends, which ends the pass
// and leaves its schedule due for the next start. Results in task order;
// each goes to recorded as soon as it is settled. A move the store
// cannot take is kept in the schedule handed back (its storedKey set), said
// once, and stored by the first later pass given that schedule whose write
// succeeds.
// A pass that ended by an exception outside any task's step, recorded in
// a result file of its own; the file, "" when it cannot be written.
std::string RecordFailedSchedulePass(const std::string& what);

std::vector<ScheduleRunResult> RunDueSchedules(std::list<BackupTaskInfo> tasks, const platform::JobControl& control,
                                               const std::function<void(const ScheduleRunResult&)>& recorded = {});
