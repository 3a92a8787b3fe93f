#pragma once
// The "Schedule manage" dialog: a task list, the task's folders and device
// folder, and schedule controls. It serves as the base of the task property
// view, which fills it; its own handlers only change the schedule controls,
// and "APPLY" changes nothing while no task of its list is selected.
#include <ctime>
#include <memory>
#include <string>

#include "Dialog.h"

class QComboBox;
class QDateTimeEdit;
class QLabel;
namespace platform::gui {
class ListCtrl;
}
namespace Ui {
class Schedue_manage_page;
}

class CSchedue_manage_page : public platform::gui::Dialog {
    Q_OBJECT
public:
    enum : int {
        IDD = 264,
        IDC_DAILY = 1313,
        IDC_WEEKLY = 1314,
        IDC_MONTHLY = 1315,
        IDC_TASK_LIST = 1316,
        IDC_FOLDER_LIST = 1317,
        IDC_NAS_FOLDER_LIST = 1318,
        IDC_TASK_LIST_LABEL = 1319,
        IDC_BACKUP_FOLDER = 1320,
        IDC_NAS_IP = 1321,
        IDC_TASK_INFO_FRAME = 1322,
        IDC_EXECUTE_TIME = 1323,
        IDC_SCHEDULE_FRAME = 1324,
        IDC_SCHEDULE_TEXT = 1325,
        IDC_CREATOR = 1326,
        IDC_NAS_FOLDER = 1327,
        IDC_EXECUTE_TIME_LABEL = 1328,
        IDC_ON_EACH_LABEL = 1329,
        IDC_DAY_COMBO = 1330,
    };

    explicit CSchedue_manage_page(QWidget* parent = nullptr);
    ~CSchedue_manage_page() override;

    // 0: a click on the task list does nothing.
    void SetSelectionHandling(int on) { m_selectionHandling = on; }
    int SelectionHandling() const { return m_selectionHandling; }

    void OnDaily();
    void OnWeekly();
    void OnMonthly();

    QWidget* GetDlgItem(int id) const;
    platform::gui::ListCtrl* TaskList() const;
    platform::gui::ListCtrl* FolderList() const;
    platform::gui::ListCtrl* NasFolderList() const;
    QComboBox* DayCombo() const;
    // 0 Daily, 1 weekly, 2 Monthly.
    int Frequency() const;
    // The execute time shown by the picker.
    void SetExecuteTime(std::time_t t);

protected:
    void OnOK() override;
    void OnTaskListClick(int row);

    std::unique_ptr<Ui::Schedue_manage_page> m_ui;
    int m_selectionHandling = 1;
};
