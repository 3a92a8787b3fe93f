#include "Schedue_manage_page.h"

#include <QButtonGroup>
#include <QDateTime>

#include "Clock.h"
#include "ListCtrl.h"
#include "Schedule.h"
#include "ScheduleDayChoice.h"
#include "stdafx.h"
#include "ui_Schedue_manage_page.h"

using platform::gui::ListCtrl;

CSchedue_manage_page::CSchedue_manage_page(QWidget* parent)
    : Dialog(parent)
    , m_ui(std::make_unique<Ui::Schedue_manage_page>())
{
    m_ui->setupUi(this);
    auto* frequency = new QButtonGroup(this);
    frequency->addButton(m_ui->dailyRadio, schedule::DAILY);
    frequency->addButton(m_ui->weeklyRadio, schedule::WEEKLY);
    frequency->addButton(m_ui->monthlyRadio, schedule::MONTHLY);
    m_ui->dailyRadio->setChecked(true);
    OnChecked(m_ui->dailyRadio, [this] { OnDaily(); });
    OnChecked(m_ui->weeklyRadio, [this] { OnWeekly(); });
    OnChecked(m_ui->monthlyRadio, [this] { OnMonthly(); });
    connect(m_ui->applyButton, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(m_ui->exitButton, &QPushButton::clicked, this, [this] { OnCancel(); });
    ListCtrl::Notify notify;
    notify.onClick = [this](int row) { OnTaskListClick(row); };
    m_ui->taskList->SetNotify(notify);
    for (ListCtrl* list : {m_ui->taskList, m_ui->folderList, m_ui->nasFolderList})
        list->SetView(ListCtrl::Report);

    m_ui->taskListLabel->setBuddy(m_ui->taskList);
    m_ui->executeTimeLabel->setBuddy(m_ui->executeTime);
    m_ui->onEachLabel->setBuddy(m_ui->dayCombo);
    m_ui->nasIpLabel->setBuddy(m_ui->nasFolderList);
    m_ui->backupFolderLabel->setBuddy(m_ui->folderList);
    m_ui->taskList->SetAccessibleName("Tasks");
    m_ui->folderList->SetAccessibleName("Backup folders");
    m_ui->nasFolderList->SetAccessibleName("NAS folder and NAS IP");
    m_ui->taskListLabel->setAccessibleName("Please select a TASK");
    m_ui->nasIpLabel->setAccessibleName("NAS IP");
    m_ui->nasFolderLabel->setAccessibleName("NAS folder");
    m_ui->taskInfoFrame->setAccessibleName("Task Info");
    m_ui->scheduleFrame->setAccessibleName("Schedule setting");
    m_ui->frequencyBox->setAccessibleName("Backup frequency");
    m_ui->dailyRadio->setAccessibleName("Daily");
    m_ui->weeklyRadio->setAccessibleName("Weekly");
    m_ui->monthlyRadio->setAccessibleName("Monthly");
    m_ui->executeTimeLabel->setAccessibleName("Execute time");
    m_ui->executeTime->setAccessibleName("Execute time");
    m_ui->onEachLabel->setAccessibleName("On each");
    m_ui->dayCombo->setAccessibleName("On each");
    m_ui->applyButton->setAccessibleName("Apply");
    m_ui->exitButton->setAccessibleName("Exit");
    m_ui->scheduleText->hide();
    // The fields are placed by hand: each grows, about its row's middle, to
    // the height its font and frame need (the rows leave room for that).
    for (QWidget* field : {static_cast<QWidget*>(m_ui->executeTime), static_cast<QWidget*>(m_ui->dayCombo)}) {
        const int need = field->minimumSizeHint().height();
        if (need > field->height())
            field->setGeometry(field->x(), field->y() - (need - field->height()) / 2, field->width(), need);
    }
    SetExecuteTime(platform::WallNow());
    OnDaily();
}

CSchedue_manage_page::~CSchedue_manage_page() = default;

QWidget* CSchedue_manage_page::GetDlgItem(int id) const
{
    switch (id) {
    case 1: return m_ui->applyButton;
    case 2: return m_ui->exitButton;
    case IDC_DAILY: return m_ui->dailyRadio;
    case IDC_WEEKLY: return m_ui->weeklyRadio;
    case IDC_MONTHLY: return m_ui->monthlyRadio;
    case IDC_TASK_LIST: return m_ui->taskList;
    case IDC_FOLDER_LIST: return m_ui->folderList;
    case IDC_NAS_FOLDER_LIST: return m_ui->nasFolderList;
    case IDC_TASK_LIST_LABEL: return m_ui->taskListLabel;
    case IDC_BACKUP_FOLDER: return m_ui->backupFolderLabel;
    case IDC_NAS_IP: return m_ui->nasIpLabel;
    case IDC_TASK_INFO_FRAME: return m_ui->taskInfoFrame;
    case IDC_EXECUTE_TIME: return m_ui->executeTime;
    case IDC_SCHEDULE_FRAME: return m_ui->scheduleFrame;
    case IDC_SCHEDULE_TEXT: return m_ui->scheduleText;
    case IDC_CREATOR: return m_ui->creatorLabel;
    case IDC_NAS_FOLDER: return m_ui->nasFolderLabel;
    case IDC_EXECUTE_TIME_LABEL: return m_ui->executeTimeLabel;
    case IDC_ON_EACH_LABEL: return m_ui->onEachLabel;
    case IDC_DAY_COMBO: return m_ui->dayCombo;
    default: return nullptr;
    }
}

ListCtrl* CSchedue_manage_page::TaskList() const { return m_ui->taskList; }
ListCtrl* CSchedue_manage_page::FolderList() const { return m_ui->folderList; }
ListCtrl* CSchedue_manage_page::NasFolderList() const { return m_ui->nasFolderList; }
QComboBox* CSchedue_manage_page::DayCombo() const { return m_ui->dayCombo; }

int CSchedue_manage_page::Frequency() const
{
    if (m_ui->weeklyRadio->isChecked())
        return schedule::WEEKLY;
    if (m_ui->monthlyRadio->isChecked())
        return schedule::MONTHLY;
    return schedule::DAILY;
}

void CSchedue_manage_page::SetExecuteTime(std::time_t t)
{
    std::tm l = platform::LocalTime(t);
    m_ui->executeTime->setDateTime(
        QDateTime(QDate(l.tm_year + 1900, l.tm_mon + 1, l.tm_mday), QTime(l.tm_hour, l.tm_min, l.tm_sec)));
}

void CSchedue_manage_page::OnDaily() { ShowScheduleDays(m_ui->executeTime, m_ui->dayCombo, ScheduleRepeat::Daily); }

void CSchedue_manage_page::OnWeekly() { ShowScheduleDays(m_ui->executeTime, m_ui->dayCombo, ScheduleRepeat::Weekly); }

void CSchedue_manage_page::OnMonthly() { ShowScheduleDays(m_ui->executeTime, m_ui->dayCombo, ScheduleRepeat::Monthly); }

void CSchedue_manage_page::OnTaskListClick(int)
{
    // The property view switches selection handling off; nothing else uses
    // this dialog's own task list.
}

void CSchedue_manage_page::OnOK()
{
    DebugTrace("enter manage");
    if (m_ui->taskList->GetSelectionMark() < 0)
        return;
    // A selected task: its schedule is set by the schedule dialog of the
    // task page, so the dialog stays open here as well.
}
