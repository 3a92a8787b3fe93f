#include "AddTaskWZ_p3.h"

#include <QButtonGroup>
#include <QDateTime>

#include "Clock.h"
#include "MessageBoxes.h"
#include "Schedule.h"
#include "ScheduleDayChoice.h"
#include "ui_AddTaskWZ_p3.h"

using namespace platform::gui;

namespace {
const char kSecondLine[] = "\nOnce the schedule is set, the program backs the chosen folders up to the NAS by itself.";

QDateTime ToQt(std::time_t t)
{
    std::tm l = platform::LocalTime(t);
    return QDateTime(QDate(l.tm_year + 1900, l.tm_mon + 1, l.tm_mday), QTime(l.tm_hour, l.tm_min, l.tm_sec));
}
} // namespace

CAddTaskWZ_p3::CAddTaskWZ_p3(QWidget* parent) : Dialog(parent), m_ui(std::make_unique<Ui::AddTaskWZ_p3>())
{
    m_ui->setupUi(this);
    auto* modes = new QButtonGroup(this);
    modes->addButton(m_ui->oneTimeRadio, 0);
    modes->addButton(m_ui->routineRadio, 1);
    auto* frequency = new QButtonGroup(this);
    frequency->addButton(m_ui->dailyRadio, schedule::DAILY);
    frequency->addButton(m_ui->weeklyRadio, schedule::WEEKLY);
    frequency->addButton(m_ui->monthlyRadio, schedule::MONTHLY);
    OnChecked(m_ui->oneTimeRadio, [this] { OnOneTime(); });
    OnChecked(m_ui->routineRadio, [this] { OnRoutine(); });
    OnChecked(m_ui->dailyRadio, [this] { OnDaily(); });
    OnChecked(m_ui->weeklyRadio, [this] { OnWeekly(); });
    OnChecked(m_ui->monthlyRadio, [this] { OnMonthly(); });
    connect(m_ui->finishButton, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(m_ui->cancelButton, &QPushButton::clicked, this, [this] { OnCancel(); });

    m_ui->oneTimeRadio->setAccessibleName("One Time");
    m_ui->routineRadio->setAccessibleName("Routine");
    m_ui->dailyRadio->setAccessibleName("Daily");
    m_ui->weeklyRadio->setAccessibleName("Weekly");
    m_ui->monthlyRadio->setAccessibleName("Monthly");
    m_ui->setTimeFrame->setAccessibleName("Set time");
    m_ui->frequencyBox->setAccessibleName("Backup frequency");
    m_ui->executeTime->setAccessibleName("Execute time");
    m_ui->dayCombo->setAccessibleName("On each");
    m_ui->oneTimeDate->setAccessibleName("Select Date");
    m_ui->oneTimeTime->setAccessibleName("Select Time");
    m_ui->finishButton->setAccessibleName("Finish");
    m_ui->cancelButton->setAccessibleName("Cancel");
}

CAddTaskWZ_p3::~CAddTaskWZ_p3() = default;

int CAddTaskWZ_p3::DaysInMonth(int year, int month) { return schedule::DaysInMonth(year, month); }

QWidget* CAddTaskWZ_p3::GetDlgItem(int id) const
{
    switch (id) {
    case 1: return m_ui->finishButton;
    case 2: return m_ui->cancelButton;
    case IDC_DAILY: return m_ui->dailyRadio;
    case IDC_WEEKLY: return m_ui->weeklyRadio;
    case IDC_MONTHLY: return m_ui->monthlyRadio;
    case IDC_EXECUTE_TIME: return m_ui->executeTime;
    case IDC_DAY_COMBO: return m_ui->dayCombo;
    case IDC_FIRST_LABEL: return m_ui->firstLabel;
    case IDC_SECOND_LABEL: return m_ui->secondLabel;
    case IDC_SET_TIME_FRAME: return m_ui->setTimeFrame;
    case IDC_INSTRUCTION: return m_ui->instructionText;
    case IDC_ONE_TIME: return m_ui->oneTimeRadio;
    case IDC_ROUTINE: return m_ui->routineRadio;
    case IDC_ONE_TIME_DATE: return m_ui->oneTimeDate;
    case IDC_ONE_TIME_TIME: return m_ui->oneTimeTime;
    default: return nullptr;
    }
}

void CAddTaskWZ_p3::SetExecuteTime(int hour, int minute, int second)
{
    m_ui->executeTime->setTime(QTime(hour, minute, second));
}

void CAddTaskWZ_p3::SetOneTime(int year, int month, int day, int hour, int minute, int second)
{
    m_ui->oneTimeDate->setDate(QDate(year, month, day));
    m_ui->oneTimeTime->setTime(QTime(hour, minute, second));
}

int CAddTaskWZ_p3::Frequency() const
{
    if (m_ui->weeklyRadio->isChecked())
        return schedule::WEEKLY;
    if (m_ui->monthlyRadio->isChecked())
        return schedule::MONTHLY;
    return schedule::DAILY;
}

bool CAddTaskWZ_p3::OnInitDialog()
{
    // The pickers start at the current date and time.
    const QDateTime now = ToQt(platform::WallNow());
    m_ui->executeTime->setTime(now.time());
    m_ui->oneTimeDate->setDate(now.date());
    m_ui->oneTimeTime->setTime(now.time());
    m_ui->routineRadio->setChecked(true);
    m_mode = 1;
    OnRoutine();
    Q_ASSERT(m_task);
    return true;
}

void CAddTaskWZ_p3::SetTexts(const char* first, const char* second, const std::string& instruction)
{
    m_ui->firstLabel->setText(first);
    m_ui->secondLabel->setText(second);
    m_ui->instructionText->setText(QString::fromStdString(instruction + kSecondLine));
    m_ui->setTimeFrame->setTitle("Set time");
}

void CAddTaskWZ_p3::OnRoutine()
{
    ShowTimeFields(false);
    m_ui->dailyRadio->setChecked(true);
    m_ui->executeTime->setEnabled(true);
    m_ui->dayCombo->setEnabled(false);
    m_ui->dayCombo->clear();
    SetTexts("Execute time", "On each",
             "Please choose one backup frequency type with below radio box, then set the executing date and time.");
}

void CAddTaskWZ_p3::ShowTimeFields(bool oneTime)
{
    m_mode = oneTime ? 0 : 1;
    for (QWidget* w : {static_cast<QWidget*>(m_ui->frequencyBox), static_cast<QWidget*>(m_ui->executeTime),
                       static_cast<QWidget*>(m_ui->dayCombo)})
        w->setVisible(!oneTime);
    m_ui->oneTimeDate->setVisible(oneTime);
    m_ui->oneTimeTime->setVisible(oneTime);
    m_ui->firstLabel->setBuddy(oneTime ? static_cast<QWidget*>(m_ui->oneTimeDate) : m_ui->executeTime);
    m_ui->secondLabel->setBuddy(oneTime ? static_cast<QWidget*>(m_ui->oneTimeTime) : m_ui->dayCombo);
}

void CAddTaskWZ_p3::OnOneTime()
{
    ShowTimeFields(true);
    SetTexts("Select Date :", "Select Time :", "Please choose one backup time.");
}

void CAddTaskWZ_p3::OnDaily() { ShowScheduleDays(m_ui->executeTime, m_ui->dayCombo, ScheduleRepeat::Daily); }

void CAddTaskWZ_p3::OnWeekly() { ShowScheduleDays(m_ui->executeTime, m_ui->dayCombo, ScheduleRepeat::Weekly); }

void CAddTaskWZ_p3::OnMonthly() { ShowScheduleDays(m_ui->executeTime, m_ui->dayCombo, ScheduleRepeat::Monthly); }

bool CAddTaskWZ_p3::Confirm(const std::string& text, const BackupScheduleInfo& s)
{
    if (ShowMessageBox(this, text, platform::MB_YESNO, "") != IDYES)
        return false;
    // Only the task in memory changes: the page's save stores the new
    // schedule and then lets the old one's keys go.
    m_task->schedules.clear();
    m_task->schedules.push_back(s);
    return true;
}

bool CAddTaskWZ_p3::SaveRoutineSchedule()
{
    if (!m_task || m_task->taskName.empty())
        return false;
    const std::time_t now = platform::WallNow();
    const QTime t = m_ui->executeTime->time();
    const int h = t.hour(), m = t.minute(), sec = t.second();
    std::string text = "The Task : " + m_task->taskName + " will work at " +
                       schedule::FormatTime(schedule::AtTime(now, h, m, sec), "%X");
    const int index = m_ui->dayCombo->currentIndex();
    const std::string choice = m_ui->dayCombo->currentText().toStdString();
    BackupScheduleInfo s;
    switch (Frequency()) {
    case schedule::WEEKLY:
        if (index < 0 || index > 6)
            return false;
        text += " on every " + choice;
        s = schedule::MakeSchedule("week", choice, schedule::FirstWeeklyRun(now, index, h, m, sec));
        break;
    case schedule::MONTHLY:
        if (index < 0)
            return false;
        text += " on every " + choice + " th";
        s = schedule::MakeSchedule("month", choice, schedule::FirstMonthlyRun(now, index + 1, h, m, sec));
        break;
    default:
        text += " on every Day";
        s = schedule::MakeSchedule("day", "", schedule::FirstDailyRun(now, h, m, sec));
        break;
    }
    return Confirm(text, s);
}

bool CAddTaskWZ_p3::SaveOneTimeSchedule()
{
    if (!m_task || m_task->taskName.empty())
        return false;
    const QDate d = m_ui->oneTimeDate->date();
    const QTime t = m_ui->oneTimeTime->time();
    const std::time_t next = schedule::MakeTime(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
    const std::string text = "The Task : " + m_task->taskName + " will work on " +
                             schedule::FormatTime(next, "%A, %B %d, %Y") + " at " + schedule::FormatTime(next, "%X");
    return Confirm(text, schedule::MakeSchedule("one", "unexecute", next));
}

void CAddTaskWZ_p3::OnOK()
{
    // OK tells the caller a schedule was set, to be stored and logged; a No
    // to the question leaves the task's schedule as it was.
    const bool set = m_mode == 0 ? SaveOneTimeSchedule() : SaveRoutineSchedule();
    EndDialog(set ? IDOK : IDCANCEL);
}
