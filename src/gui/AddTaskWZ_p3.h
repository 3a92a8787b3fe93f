#pragma once
// The schedule step of the task wizard, also "Schedule Setting" of a task: a
// one-time run at a date and time, or a daily, weekly or monthly run at a
// time of day. "Finish" asks the user to confirm the schedule and, on Yes,
// puts it in the task in place of the old one (whose store keys go at once).
#include <ctime>
#include <memory>
#include <string>

#include "BackupTask.h"
#include "Dialog.h"

namespace Ui {
class AddTaskWZ_p3;
}

class CAddTaskWZ_p3 : public platform::gui::Dialog {
    Q_OBJECT
public:
    enum : int {
        IDD = 209,
        IDC_DAILY = 1255,
        IDC_WEEKLY = 1256,
        IDC_MONTHLY = 1257,
        IDC_EXECUTE_TIME = 1258,
        IDC_DAY_COMBO = 1259,
        IDC_FIRST_LABEL = 1260,
        IDC_SECOND_LABEL = 1261,
        IDC_SET_TIME_FRAME = 1262,
        IDC_INSTRUCTION = 1269,
        IDC_ONE_TIME = 1344,
        IDC_ROUTINE = 1345,
        IDC_ONE_TIME_DATE = 1346,
        IDC_ONE_TIME_TIME = 1347,
    };

    explicit CAddTaskWZ_p3(QWidget* parent = nullptr);
    ~CAddTaskWZ_p3() override;

    void SetTask(BackupTaskInfo* task) { m_task = task; }

    static int DaysInMonth(int year, int month);

    void OnOneTime();
    void OnRoutine();
    void OnDaily();
    void OnWeekly();
    void OnMonthly();
    // True when the user said Yes and the task in memory got the schedule.
    bool SaveRoutineSchedule();
    bool SaveOneTimeSchedule();

    QWidget* GetDlgItem(int id) const;
    // The pickers' values (for tests and the confirmation text).
    void SetExecuteTime(int hour, int minute, int second);
    void SetOneTime(int year, int month, int day, int hour, int minute, int second);
    int Frequency() const;
    int Mode() const { return m_mode; }

protected:
    bool OnInitDialog() override;
    void OnOK() override;

private:
    bool Confirm(const std::string& text, const BackupScheduleInfo& schedule);
    void SetTexts(const char* first, const char* second, const std::string& instruction);
    // The one-time date and time, or the routine's frequency, time and day,
    // each with its labels' buddies.
    void ShowTimeFields(bool oneTime);

    std::unique_ptr<Ui::AddTaskWZ_p3> m_ui;
    int m_mode = 1; // 0 one-time, 1 routine
    BackupTaskInfo* m_task = nullptr;
};
