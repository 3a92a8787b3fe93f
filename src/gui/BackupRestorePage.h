#pragma once
// The Backup/Restore page: the logged-in user's backup tasks as icons (plain,
// with a schedule, running), the commands for the selected task in the task
// panel and in a right-click menu, the task wizard, the task property view,
// the progress window of runs and the schedule check every 30 s. The page
// owns every task of the store (of every user) and saves them; runs get
// copies of their task and report back by value, and every outcome becomes
// a System Log row of the main window.
#include <QPointer>
#include <ctime>
#include <list>
#include <memory>
#include <string>

#include "BackupProgress.h"
#include "BackupRuns.h"
#include "BackupTask.h"
#include "PageView.h"
#include "Schedue_manage_page.h"
#include "TaskStore.h"
#include "Worker.h"

class CTaskWizardpage1;
class CAddTaskWS_P2;
class CAddTaskWZ_p3;
class CAddTaskWZ_P0;

// The task property view: the schedule manage dialog showing one task's
// information, folders and schedule; it changes nothing.
class CTaskPropertyDlg : public CSchedue_manage_page {
    Q_OBJECT
public:
    explicit CTaskPropertyDlg(QWidget* parent = nullptr);

    void SetType(const std::string& type) { m_type = type; }
    void SetSetDate(const std::string& setDate) { m_setDate = setDate; }
    void SetNextRun(std::time_t nextRun) { m_nextRun = nextRun; }
    void SetTask(BackupTaskInfo* task) { m_task = task; }

    std::string InfoLabels() const;
    std::string InfoValues() const;
    std::string ScheduleText() const;

protected:
    bool OnInitDialog() override;

private:
    // The task's information, each caption beside its value.
    void ShowTaskInfo();
    void FitTaskInfo();
    std::string m_type;
    std::string m_setDate;
    std::time_t m_nextRun = 0;
    BackupTaskInfo* m_task = nullptr;
};

class CBackupRestorePage : public CPageView {
    Q_OBJECT
public:
    enum : unsigned {
        // Task panel groups and links (string ids).
        IDS_TASK_GROUP = 698,
        IDS_INFO_GROUP = 699,
        IDS_TIPS_GROUP = 707,
        IDS_ADD_TASK = 700,
        IDS_DELETE_TASK = 701,
        IDS_EDIT_TASK = 702,
        IDS_BACKUP_NOW = 703,
        IDS_REMOVE_SCHEDULE = 720,
        IDS_RESTORE_ORIGINAL = 721,
        IDS_RESTORE_OTHER = 722,
        IDS_SCHEDULE_SETTING = 723,
        IDS_SHOW_PROPERTY = 724,
        // Menu commands.
        ID_ADD_TASK = 40022,
        ID_DELETE_TASK = 40015,
        ID_EDIT_TASK = 40016,
        ID_BACKUP_NOW = 40009,
        ID_REMOVE_SCHEDULE = 40023,
        ID_RESTORE_ORIGINAL = 40024,
        ID_RESTORE_OTHER = 40025,
        ID_SCHEDULE_SETTING = 40018,
        ID_SHOW_PROPERTY = 40026,
        IDR_ADD_TASK_MENU = 248,
    };
    // List images.
    enum : int { IMAGE_TASK = 0, IMAGE_SCHEDULED = 1, IMAGE_RUNNING = 2 };
    static constexpr int64_t kScheduleCheckMs = 30000;

    explicit CBackupRestorePage(QWidget* parent = nullptr);
    ~CBackupRestorePage() override;

    // After a login: the logged-in user's tasks, nothing selected.
    void Refresh() override;
    void OnTaskPanelLink(unsigned id) override;
    void OnListRClick(int item) override;
    void OnListItemSelected(int item) override;
    void OnListDblClk(int item) override;
    void OnListClick(int item) override;
    void OnPageCommand(unsigned id) override;

    // The list shows the logged-in user's tasks.
    void RefreshTaskList();
    bool HasSchedule(const std::string& name) const;
    bool HasBackup(const std::string& name) const;
    std::string GetTaskInfoText(const std::string& name) const;
    void ResetTaskPanel();

    // The commands on the task at the list's selection mark.
    void AddTask();
    void DeleteTask();
    int EditTask();
    void BackupNow();
    int RemoveSchedule();
    void RestoreToOriginal();
    void RestoreToOtherPlace();
    int ScheduleSetting();
    int ShowProperty();

    // One schedule pass on the schedule worker, unless one is under way.
    void CheckSchedules();
    // A System Log row to the main window.
    void PostTaskResult(int kind, const std::string& description, const std::string& filePath);
    // Centres the progress window over the main window (it is not shown).
    void ShowProgress();

    const std::list<BackupTaskInfo>& Tasks() const { return m_tasks; }
    const CTaskStore& Store() const { return m_store; }
    CBackupProgress* ProgressWindow() const { return m_progress.data(); }
    CTaskWizardpage1* Wizard1() const { return m_wizard1.get(); }
    CAddTaskWS_P2* Wizard2() const { return m_wizard2.get(); }
    CAddTaskWZ_p3* ScheduleDialog() const { return m_scheduleDlg.get(); }
    CAddTaskWZ_P0* NameDialog() const { return m_nameDlg.get(); }
    int PanelMode() const { return m_panelMode; }
    // Waits up to waitMs for the runs under way (events keep running).
    bool WaitRuns(int waitMs);

protected:
    void OnInitialUpdate() override;

private:
    // The task of the row at the selection mark: its name, "" when none.
    std::string SelectedName() const;
    BackupTaskInfo* FindTask(const std::string& name);
    const BackupTaskInfo* FindTask(const std::string& name) const;
    void FocusList();
    void Refuse(const std::string& text);
    bool Ask(const std::string& question);
    // False, the schedule kept, when the task file could not drop it.
    bool RemoveScheduleOf(const std::string& name);
    // The task list to the store; a failed write is shown in a box.
    void SaveTasks();
    void ReportStoreWrite(bool written);
    // A backup or restore of a copy of the task in the progress window.
    void StartRun(int kind, std::function<BackupRunResult(const platform::JobControl&)> job);
    // A run of the named task once no run is under way and its device
    // folder is still there (else `folderMissing` is shown): `run` gets a
    // copy of the task as it is now and the run's start time.
    using TaskRun = std::function<BackupRunResult(const BackupTaskInfo&, std::time_t, const platform::JobControl&)>;
    void RunTask(int kind, const std::string& name, const std::string& folderMissing, const TaskRun& run);
    void OnRunDone(int kind, const BackupRunResult& result, const std::string& name);
    // One task's outcome of a schedule pass: the task list, a System Log
    // row, and a box nobody has to answer for a failure.
    void OnScheduleResult(const ScheduleRunResult& r);
    // CheckNasFolder of a copy of the task, on the worker behind the busy
    // popup. True when the folder is there; else the user has been told:
    // refusal when it is not, the failure when the check broke off.
    bool CheckNasFolderBehindPopup(const std::string& name, const std::string& refusal);
    // Every task's folders measured on a worker; the sizes show when they arrive.
    void StartMeasuringTasks();

    std::unique_ptr<CTaskWizardpage1> m_wizard1;
    std::unique_ptr<CAddTaskWS_P2> m_wizard2;
    std::unique_ptr<CAddTaskWZ_p3> m_scheduleDlg;
    std::unique_ptr<CAddTaskWZ_P0> m_nameDlg;
    // Owned by the page; a child of the main window, which may go first.
    QPointer<CBackupProgress> m_progress;
    std::list<BackupTaskInfo> m_tasks;
    std::string m_restoreTargetName;
    std::string m_restoreTargetPath;
    int m_panelMode = 1;
    CTaskStore m_store;
    platform::gui::Worker m_schedule;
    platform::gui::Worker m_check; // the device folder check behind the busy popup
    platform::gui::Worker m_sizes; // the folder walks of the loaded tasks
};
