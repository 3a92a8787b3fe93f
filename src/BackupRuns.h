#pragma once
// The runs of backup tasks: Backup Now, the two restores and the schedule
// pass, with the device checks made before a run. Each run takes its task
// by value and runs only while no other task runs: the running task is taken
// in the program's context in one step and given back at the end. Blocking;
// for worker threads. Device checks and engine failures are shown in message
// boxes from the thread that runs them.
#include <ctime>
#include <list>
#include <string>
#include <vector>

#include "BackupTask.h"
#include "Job.h"
#include "RsycBackup.h"

// Whether the task's device folder is still there: disk 1 ready and a share
// of that name on that disk. Shows the reason when it is not.
bool CheckNasFolder(const BackupTaskInfo& task);

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
    std::string description;  // "<task> : backup processing Finish!!" or "... Error!!" when it ran
};

// One pass over the tasks (copies) at the clock's present moment: every due
// schedule whose task can run is backed up unless more than an hour late,
// then moved on (or, for a one-time schedule, finished) in the store; a due
// schedule waits while another task runs. Results in task order.
std::vector<ScheduleRunResult> RunDueSchedules(std::list<BackupTaskInfo> tasks, const platform::JobControl& control);
