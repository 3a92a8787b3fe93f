#include "BackupRestorePage.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QStyle>
#include <QScrollBar>
#include <QTreeView>
#include <QLabel>
#include <algorithm>
#include <optional>
#include <vector>

#include "AddTaskWS_P2.h"
#include "AddTaskWZ_P0.h"
#include "AddTaskWZ_p3.h"
#include "BackupProgress.h"
#include "Clock.h"
#include "FolderDlg.h"
#include "FolderSize.h"
#include "ListCtrl.h"
#include "MessageBoxes.h"
#include "PopDlg.h"
#include "Schedule.h"
#include "TaskPanel.h"
#include "TaskWizardpage1.h"
#include "stdafx.h"

using namespace platform::gui;

namespace {

const char kTips[] = "Please click a task icon for more action!!";
const char kTitle[] = "Backup/Restore Management";
const char kRunning[] = "The task is running, please wait the process finish!!";
const char kSomeRunning[] = "Some Task running, please wait the process finish!!";
const char kNotBackedUp[] = "The task has not been backuped before.";

// "AM 02:00:00, 12/09/26" and "AM 02:00:00" of a schedule's next run.
std::string LongTime(std::time_t t) { return schedule::FormatTime(t, "%p %I:%M:%S, %x"); }
std::string ShortTime(std::time_t t) { return schedule::FormatTime(t, "%p %I:%M:%S"); }

} // namespace

// ---------------------------------------------------------------------------
// Task property view

CTaskPropertyDlg::CTaskPropertyDlg(QWidget* parent) : CSchedue_manage_page(parent) {}

std::string CTaskPropertyDlg::InfoLabels() const
{
    return "Task created by :         \nNAS IP :                  \nBackup size:              \n"
           "Nas folder name:          \nNas folder share type:    \nNas folder use type:      \n"
           "The last backup time:   \n\nBackup folders list :    ";
}

std::string CTaskPropertyDlg::InfoValues() const
{
    if (!m_task)
        return "";
    std::string text;
    for (const std::string* v : {&m_task->nasUser, &m_task->nasIp, &m_task->taskBackSize, &m_task->nasFolderName,
                                 &m_task->nasFolderStatus, &m_task->nasFolderType, &m_task->lastBackTime})
        text += *v + "\n";
    return text;
}

std::string CTaskPropertyDlg::ScheduleText() const
{
    const std::string t = ShortTime(m_nextRun), l = LongTime(m_nextRun);
    if (m_type == "day")
        return "Daily backup at " + t + " ;\nNext backup time at " + l + ".";
    if (m_type == "week")
        return "Weekly backup on " + m_setDate + " at " + t + " ;\nNext backup time at " + l + ".";
    if (m_type == "month")
        return "Monthly backup on Day " + m_setDate + " at " + t + " ;\nNext backup time at " + l + ".";
    if (m_type == "one")
        return "Auto backup at " + l + ".";
    return "";
}

bool CTaskPropertyDlg::OnInitDialog()
{
    CSchedue_manage_page::OnInitDialog();
    struct Column {
        const char* heading;
        int width;
    };
    auto columns = [](ListCtrl* list, std::initializer_list<Column> cols) {
        while (list->GetColumnCount() > 0)
            list->DeleteColumn(0);
        int i = 0;
        for (const Column& c : cols)
            list->InsertColumn(i++, c.heading, Qt::AlignLeft, c.width);
        list->SetFullRowSelect(true);
        list->DeleteAllItems();
    };
    columns(FolderList(), {{"", 30}, {"Folder", 80}, {"Size", 80}, {"Path", 75}});
    columns(NasFolderList(), {{"", 30}, {"NAS Folder", 130}, {"NAS IP", 105}});
    columns(TaskList(), {{"", 30}, {"Task Name", 85}});
    // The first columns show a folder's (or a task's) icon, read by its name.
    const QPixmap folder = QApplication::style()->standardIcon(QStyle::SP_DirIcon).pixmap(16, 16);
    FolderList()->SetImageLists({folder}, {folder});
    FolderList()->SetImageColumn("Kind", {"Folder"});
    NasFolderList()->SetImageLists({folder}, {folder});
    NasFolderList()->SetImageColumn("Kind", {"NAS folder"});
    TaskList()->SetImageColumn("Kind", {"Task"});
    if (m_task) {
        int row = 0;
        for (const BackupFolderInfo& f : m_task->folders) {
            FolderList()->InsertItem(row, "", 0);
            FolderList()->SetItemText(row, 1, f.folderName);
            FolderList()->SetItemText(row, 2, f.sizeText);
            FolderList()->SetItemText(row, 3, f.path);
            ++row;
        }
        // The device folder the task backs up into, and the device's address.
        NasFolderList()->InsertItem(0, "", 0);
        NasFolderList()->SetItemText(0, 1, m_task->nasFolderName);
        NasFolderList()->SetItemText(0, 2, m_task->nasIp);
        setWindowTitle(QString::fromStdString("Task Property : " + m_task->taskName));
    }
    ShowTaskInfo();
    const bool scheduled = m_task && !m_task->schedules.empty();
    if (!scheduled) {
        GetDlgItem(IDC_SCHEDULE_TEXT)->hide();
        GetDlgItem(IDC_SCHEDULE_FRAME)->hide();
    } else {
        for (int id : {IDC_EXECUTE_TIME, IDC_DAY_COMBO, IDC_DAILY, IDC_WEEKLY, IDC_MONTHLY, IDC_EXECUTE_TIME_LABEL,
                       IDC_ON_EACH_LABEL})
            GetDlgItem(id)->hide();
        auto* text = static_cast<QLabel*>(GetDlgItem(IDC_SCHEDULE_TEXT));
        text->setText(QString::fromStdString(ScheduleText()));
        text->setAccessibleName(text->text().simplified()); // read as one line
        GetDlgItem(IDC_SCHEDULE_TEXT)->show();
        SetExecuteTime(m_nextRun);
    }
    FitTaskInfo();
    // The view opens on the task's folders (the task list stays empty).
    QTreeView* folders = FolderList()->ReportView();
    if (FolderList()->GetItemCount() > 0)
        folders->setCurrentIndex(FolderList()->ModelIndex(0, 0));
    folders->setFocus();
    return true;
}

void CTaskPropertyDlg::ShowTaskInfo()
{
    // One caption and its value a line, the caption labelling its value (a
    // reader reads them together); the caption of the folder table below
    // them last. They take the place of
    // the template's two labels (captions, values).
    auto* labels = static_cast<QLabel*>(GetDlgItem(IDC_CREATOR));
    auto* values = static_cast<QLabel*>(GetDlgItem(IDC_BACKUP_FOLDER));
    auto* info = new QWidget(labels->parentWidget());
    info->setObjectName("taskInfo");
    info->setGeometry(labels->x(), labels->y(), values->geometry().right() + 1 - labels->x(), labels->height());
    auto* grid = new QGridLayout(info);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(0);
    grid->setColumnMinimumWidth(0, values->x() - labels->x());
    grid->setColumnStretch(1, 1);
    const QStringList captions = QString::fromStdString(InfoLabels()).split('\n', Qt::SkipEmptyParts);
    const QStringList texts = QString::fromStdString(InfoValues()).split('\n');
    for (int i = 0; i < captions.size(); ++i) {
        auto* caption = new QLabel(captions[i].simplified(), info);
        caption->setObjectName(QString("infoCaption%1").arg(i));
        if (i + 1 == captions.size()) {
            // "Backup folders list :" heads the folder table, a line apart.
            caption->setBuddy(FolderList());
            grid->setRowMinimumHeight(i, caption->sizeHint().height() * 2);
            caption->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
            grid->addWidget(caption, i, 0, 1, 2);
            break;
        }
        auto* value = new QLabel(texts.value(i), info);
        value->setObjectName(QString("infoValue%1").arg(i));
        caption->setBuddy(value);
        grid->addWidget(caption, i, 0);
        grid->addWidget(value, i, 1);
    }
    labels->clear();
    values->clear();
    labels->hide();
    values->hide();
    info->show();
}

namespace {
// Moves the children of box that lie at or below y down by dy and makes box
// dy taller.
void GrowBelow(QWidget* box, int y, int dy)
{
    for (QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->y() >= y)
            child->move(child->x(), child->y() + dy);
    box->resize(box->width(), box->height() + dy);
}

std::vector<std::string> SortedFolderPaths(const BackupTaskInfo& task)
{
    std::vector<std::string> paths;
    for (const BackupFolderInfo& folder : task.folders)
        paths.push_back(folder.path);
    std::sort(paths.begin(), paths.end());
    return paths;
}

// True when an edited task backs up the same folders into the same device
// folder as before, so that the last backup there is still its own. A MAC
// is compared only when both have one (its letters either case).
bool SameBackupTarget(const BackupTaskInfo& before, const BackupTaskInfo& after)
{
    const bool sameDevice =
        before.nasMac.empty() || after.nasMac.empty() ||
        QString::fromStdString(before.nasMac).compare(QString::fromStdString(after.nasMac), Qt::CaseInsensitive) == 0;
    return sameDevice && before.nasFolderName == after.nasFolderName && before.nasFolderDisk == after.nasFolderDisk &&
           SortedFolderPaths(before) == SortedFolderPaths(after);
}
} // namespace

void CTaskPropertyDlg::FitTaskInfo()
{
    // The task's lines are as tall as their text, the tables show their
    // rows. What lies below moves down and the window grows.
    auto* info = findChild<QWidget*>("taskInfo");
    QWidget* frame = GetDlgItem(IDC_TASK_INFO_FRAME);
    ListCtrl* folders = FolderList();
    const int textHeight = std::max(info->sizeHint().height(), info->height());
    int dy = textHeight - info->height();
    const int infoBottom = info->geometry().bottom();
    info->resize(info->width(), textHeight);
    GrowBelow(frame, infoBottom + 1, dy);
    // The folder table shows two rows at least (a scroll bar under them),
    // the device folder's its one row.
    auto fitRows = [&](ListCtrl* list, int rows, bool scrollBar) {
        QTreeView* view = list->ReportView();
        const int row = std::max(view->sizeHintForRow(0), view->fontMetrics().height() + 4);
        const int tableHeight = view->header()->sizeHint().height() + 2 * view->frameWidth() + rows * row +
                                (scrollBar ? view->horizontalScrollBar()->sizeHint().height() : 0) + 2;
        const int grow = std::max(0, tableHeight - list->height());
        if (grow > 0) {
            const int tableBottom = list->geometry().bottom();
            list->resize(list->width(), tableHeight);
            GrowBelow(frame, tableBottom + 1, grow);
            dy += grow;
        }
    };
    fitRows(folders, 2, true);
    fitRows(NasFolderList(), 1, false);
    if (dy <= 0)
        return;
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    GrowBelow(this, frame->geometry().bottom() + 1 - dy, dy);
    QWidget* tasks = GetDlgItem(IDC_TASK_LIST);
    tasks->resize(tasks->width(), tasks->height() + dy);
}

// ---------------------------------------------------------------------------
// The page

CBackupRestorePage::CBackupRestorePage(QWidget* parent)
    : CPageView(parent)
    , m_wizard1(std::make_unique<CTaskWizardpage1>(this))
    , m_wizard2(std::make_unique<CAddTaskWS_P2>(this))
    , m_scheduleDlg(std::make_unique<CAddTaskWZ_p3>(this))
    , m_nameDlg(std::make_unique<CAddTaskWZ_P0>(this))
{
    setObjectName("CBackupRestorePage");
    m_sizes.SetFailureReport("Measuring the task folders", this);
    m_check.SetFailureReport("Checking the NAS folder", this);
    // Unattended: the System Log and a result file have it before a notice
    // tells, and the next pass waits for nobody.
    m_schedule.SetFailureReport(
        "The scheduled backup check", this,
        [this](const std::string& what) {
            PostTaskResult(LOG_SCHEDULE, "The scheduled backup check failed: " + what, RecordFailedSchedulePass(what));
            RefreshTaskList();
        },
        true);
    m_largeIconId = 247;
    m_taskPanelIconId = 267;
}

CBackupRestorePage::~CBackupRestorePage()
{
    m_schedule.StopPeriodic();
    m_schedule.Stop();
    m_sizes.Stop();
    delete m_progress.data();
}

void CBackupRestorePage::OnInitialUpdate()
{
    CPageView::OnInitialUpdate();
    TaskPanel* panel = GetTaskPanel();
    panel->RemoveAllGroups();
    panel->SetSingleSelection(true);
    panel->SetSelectItemOnFocus(false);
    TaskPanelGroup* tasks = panel->AddGroup(IDS_TASK_GROUP, 0);
    tasks->AddLinkItem(IDS_ADD_TASK);
    TaskPanelGroup* tips = panel->AddGroup(IDS_TIPS_GROUP, 1);
    tips->AddTextItem(kTips);
    m_panelMode = 1;
    SetTitle(kTitle);

    ListCtrl* list = GetListCtrl();
    list->setAccessibleName("Backup tasks");
    m_tasks.clear();
    m_store.CreateTaskStore();
    GetNasContext()->ClearRunningTaskName();
    // The stored sizes show until the folders have been measured.
    m_tasks = m_store.LoadTasks(false);
    RefreshTaskList();
    StartMeasuringTasks();

    m_progress = new CBackupProgress(window());
    m_schedule.StartPeriodic(kScheduleCheckMs, [this] { CheckSchedules(); });
    DebugTrace("add TIMER_BACKUP_MOITOR");
}

void CBackupRestorePage::Refresh()
{
    // Another user's tasks, none selected.
    GetListCtrl()->DeleteAllItems();
    RefreshTaskList();
    ResetTaskPanel();
}

void CBackupRestorePage::RefreshTaskList()
{
    ListCtrl* list = GetListCtrl();
    // The selected task stays selected, its panel rebuilt from what the
    // task now holds (a run's last and next times).
    const std::string selected = SelectedName();
    list->DeleteAllItems();
    std::string user, running;
    CNasContext* context = GetNasContext();
    context->Lock();
    user = context->m_user;
    if (context->IsTaskRunning())
        running = context->GetRunningTaskName();
    context->Unlock();
    int row = 0;
    for (const BackupTaskInfo& task : m_tasks) {
        if (task.nasUser != user)
            continue;
        const int image = !running.empty() && task.taskName == running ? IMAGE_RUNNING
                          : task.schedules.empty()                     ? IMAGE_TASK
                                                                       : IMAGE_SCHEDULED;
        list->InsertItem(row, task.taskName, image);
        list->SetItemData(row, 1);
        ++row;
    }
    for (int i = 0; i < row && !selected.empty(); ++i) {
        if (list->GetItemText(i, 0) == selected) {
            list->SetItemSelected(i, true); // rebuilds the panel
            return;
        }
    }
    if (m_panelMode == 2)
        ResetTaskPanel();
}

void CBackupRestorePage::StartMeasuringTasks()
{
    struct Measured {
        std::string name;
        std::vector<std::string> paths;
        uint64_t bytes = 0;
    };
    std::vector<Measured> tasks;
    for (const BackupTaskInfo& task : m_tasks) {
        Measured m{task.taskName, {}, 0};
        for (const BackupFolderInfo& f : task.folders)
            m.paths.push_back(f.path);
        tasks.push_back(std::move(m));
    }
    m_sizes.Start<std::vector<Measured>>(
        [tasks](const platform::JobControl& job) mutable {
            for (Measured& m : tasks) {
                for (const std::string& path : m.paths) {
                    if (job.Stopped())
                        return std::vector<Measured>{};
                    m.bytes += GetFolderSize(path);
                }
            }
            return tasks;
        },
        [this](const std::vector<Measured>& measured) {
            for (const Measured& m : measured) {
                for (BackupTaskInfo& task : m_tasks) {
                    // A task whose folders changed meanwhile has its own size.
                    if (task.taskName != m.name || task.folders.size() != m.paths.size() ||
                        !std::equal(m.paths.begin(), m.paths.end(), task.folders.begin(),
                                    [](const std::string& p, const BackupFolderInfo& f) { return p == f.path; }))
                        continue;
                    task.totalBytes = m.bytes;
                    task.taskBackSize = FormatFileSize(static_cast<int64_t>(m.bytes));
                }
            }
            const std::string name = SelectedName();
            TaskPanelGroup* info = GetTaskPanel()->FindGroup(IDS_INFO_GROUP);
            if (m_panelMode == 2 && info != nullptr && !name.empty()) {
                info->RemoveAllItems();
                info->AddTextItem(name + " information :\n" + GetTaskInfoText(name));
            }
        });
}

BackupTaskInfo* CBackupRestorePage::FindTask(const std::string& name)
{
    // The last task of that name, as the runs take it.
    BackupTaskInfo* found = nullptr;
    for (BackupTaskInfo& task : m_tasks)
        if (task.taskName == name)
            found = &task;
    return found;
}

const BackupTaskInfo* CBackupRestorePage::FindTask(const std::string& name) const
{
    return const_cast<CBackupRestorePage*>(this)->FindTask(name);
}

bool CBackupRestorePage::HasSchedule(const std::string& name) const
{
    for (const BackupTaskInfo& task : m_tasks)
        if (task.taskName == name)
            return !task.schedules.empty();
    return false;
}

bool CBackupRestorePage::HasBackup(const std::string& name) const
{
    for (const BackupTaskInfo& task : m_tasks)
        if (task.taskName == name)
            return !task.lastBackTime.empty();
    return false;
}

std::string CBackupRestorePage::GetTaskInfoText(const std::string& name) const
{
    std::string text;
    for (const BackupTaskInfo& task : m_tasks) {
        if (task.taskName != name)
            continue;
        text += "  Backup size: " + task.taskBackSize + "\n  Nas folder name: " + task.nasFolderName +
                "\n  Nas folder share type: " + task.nasFolderStatus +
                "\n  Nas folder use type: " + task.nasFolderType + "\n  The last backup time:\n    " +
                task.lastBackTime;
        if (task.schedules.empty())
            continue;
        const BackupScheduleInfo& s = task.schedules.front();
        const std::string l = LongTime(s.nextRun), t = ShortTime(s.nextRun);
        text += "\n\nScheduel Backup Setting :";
        if (s.setType == "one") {
            text += "\n  Auto Backup at:\n    " + l;
            continue;
        }
        if (s.setType == "day")
            text += "\n  Backup frequency:\n    Daily backup at " + t;
        else if (s.setType == "week")
            text += "\n  Backup frequency: \n    Weekly backup on " + s.setDate + " \n    at " + t;
        else if (s.setType == "month")
            text += "\n  Backup frequency: \n    Monthly backup on Day " + s.setDate + " \n    at " + t;
        else
            continue;
        text += "\n  Next backup time:\n   " + l;
    }
    return text;
}

// ---------------------------------------------------------------------------
// Selection and the task panel

void CBackupRestorePage::OnListItemSelected(int row)
{
    if (row < 0) {
        ResetTaskPanel();
        return;
    }
    const std::string name = GetListCtrl()->GetItemText(row, 0);
    TaskPanel* panel = GetTaskPanel();
    TaskPanelGroup* tasks = panel->FindGroup(IDS_TASK_GROUP);
    if (!tasks)
        tasks = panel->AddGroup(IDS_TASK_GROUP, 0);
    tasks->RemoveAllItems();
    for (unsigned id : {IDS_ADD_TASK, IDS_DELETE_TASK, IDS_EDIT_TASK, IDS_BACKUP_NOW})
        tasks->AddLinkItem(id);
    if (HasBackup(name)) {
        tasks->AddLinkItem(IDS_RESTORE_ORIGINAL);
        tasks->AddLinkItem(IDS_RESTORE_OTHER);
    }
    tasks->AddLinkItem(IDS_SCHEDULE_SETTING);
    if (HasSchedule(name))
        tasks->AddLinkItem(IDS_REMOVE_SCHEDULE);
    tasks->AddLinkItem(IDS_SHOW_PROPERTY);
    tasks->SetExpanded(true);

    TaskPanelGroup* info = panel->FindGroup(IDS_INFO_GROUP);
    if (m_panelMode == 1 || !info) {
        panel->RemoveGroup(IDS_TIPS_GROUP);
        info = panel->FindGroup(IDS_INFO_GROUP);
        if (!info)
            info = panel->AddGroup(IDS_INFO_GROUP, 2);
    }
    info->RemoveAllItems();
    info->AddTextItem(name + " information :\n" + GetTaskInfoText(name));
    info->SetExpanded(true);
    SetTitle("Select Task : " + name);
    m_panelMode = 2;
}

void CBackupRestorePage::ResetTaskPanel()
{
    if (m_panelMode == 2) {
        TaskPanel* panel = GetTaskPanel();
        panel->RemoveGroup(IDS_INFO_GROUP);
        if (!panel->FindGroup(IDS_TIPS_GROUP)) {
            TaskPanelGroup* tips = panel->AddGroup(IDS_TIPS_GROUP, 1);
            tips->AddTextItem(kTips);
            tips->SetExpanded(true);
        }
        TaskPanelGroup* tasks = panel->FindGroup(IDS_TASK_GROUP);
        if (tasks) {
            tasks->RemoveAllItems();
            tasks->AddLinkItem(IDS_ADD_TASK);
            tasks->SetExpanded(true);
        }
    }
    SetTitle(kTitle);
    m_panelMode = 1;
}

void CBackupRestorePage::OnListClick(int row)
{
    if (row < 0)
        ResetTaskPanel();
}

void CBackupRestorePage::OnListDblClk(int row)
{
    if (row < 0) {
        ResetTaskPanel();
        return;
    }
    const std::string running = GetNasContext()->GetRunningTaskName();
    if (!running.empty() && running == GetListCtrl()->GetItemText(row, 0)) {
        if (m_progress)
            m_progress->show();
        return;
    }
    ShowProperty();
}

void CBackupRestorePage::OnListRClick(int row)
{
    if (row < 0) {
        ResetTaskPanel();
        ShowPopupMenu(IDR_ADD_TASK_MENU);
        return;
    }
    const std::string name = SelectedName();
    Menu menu;
    menu.push_back(MenuItem::Command(ID_DELETE_TASK, "&Delete Task"));
    menu.push_back(MenuItem::Command(ID_EDIT_TASK, "&Edit Task"));
    menu.push_back(MenuItem::Separator());
    menu.push_back(MenuItem::Command(ID_BACKUP_NOW, "&Backup Now"));
    if (HasBackup(name))
        menu.push_back(
            MenuItem::Popup("Restore Now", {MenuItem::Command(ID_RESTORE_ORIGINAL, "Restore to &original"),
                                            MenuItem::Command(ID_RESTORE_OTHER, "Restore to other &place")}));
    menu.push_back(MenuItem::Separator());
    menu.push_back(MenuItem::Command(ID_SCHEDULE_SETTING, "&Schedule Setting"));
    if (HasSchedule(name))
        menu.push_back(MenuItem::Command(ID_REMOVE_SCHEDULE, "Re&move Schedule"));
    menu.push_back(MenuItem::Separator());
    menu.push_back(MenuItem::Command(ID_SHOW_PROPERTY, "Show &Property"));
    ShowPopupMenu(menu);
}

void CBackupRestorePage::OnPageCommand(unsigned id)
{
    ListCtrl* list = GetListCtrl();
    switch (id) {
    case ID_ADD_TASK: AddTask(); break;
    case ID_DELETE_TASK: DeleteTask(); break;
    case ID_EDIT_TASK: {
        const int row = EditTask();
        OnListItemSelected(row);
        list->SetSelectionMark(row);
        list->setFocus();
        break;
    }
    case ID_BACKUP_NOW: BackupNow(); break;
    case ID_REMOVE_SCHEDULE: {
        const int row = RemoveSchedule();
        OnListItemSelected(row);
        list->SetSelectionMark(row);
        list->setFocus();
        break;
    }
    case ID_RESTORE_ORIGINAL: RestoreToOriginal(); break;
    case ID_RESTORE_OTHER: RestoreToOtherPlace(); break;
    case ID_SCHEDULE_SETTING: OnListItemSelected(ScheduleSetting()); break;
    case ID_SHOW_PROPERTY: ShowProperty(); break;
    default: ShowMessageBox(this, "click 'default'", platform::MB_OK); break;
    }
}

void CBackupRestorePage::OnTaskPanelLink(unsigned id)
{
    static const std::pair<unsigned, unsigned> links[] = {
        {IDS_ADD_TASK, ID_ADD_TASK},
        {IDS_DELETE_TASK, ID_DELETE_TASK},
        {IDS_EDIT_TASK, ID_EDIT_TASK},
        {IDS_BACKUP_NOW, ID_BACKUP_NOW},
        {IDS_REMOVE_SCHEDULE, ID_REMOVE_SCHEDULE},
        {IDS_RESTORE_ORIGINAL, ID_RESTORE_ORIGINAL},
        {IDS_RESTORE_OTHER, ID_RESTORE_OTHER},
        {IDS_SCHEDULE_SETTING, ID_SCHEDULE_SETTING},
        {IDS_SHOW_PROPERTY, ID_SHOW_PROPERTY},
    };
    for (const auto& [link, command] : links) {
        if (link == id) {
            OnPageCommand(command);
            return;
        }
    }
    ShowMessageBox(this, "click 'default'", platform::MB_OK);
}

// ---------------------------------------------------------------------------
// Commands

std::string CBackupRestorePage::SelectedName() const
{
    const int row = GetListCtrl()->GetSelectionMark();
    if (row < 0 || row >= GetListCtrl()->GetItemCount())
        return "";
    return GetListCtrl()->GetItemText(row, 0);
}

void CBackupRestorePage::FocusList() { GetListCtrl()->setFocus(); }

void CBackupRestorePage::Refuse(const std::string& text)
{
    ShowMessageBox(this, text, platform::MB_OK);
    FocusList();
}

bool CBackupRestorePage::Ask(const std::string& question)
{
    if (ShowMessageBox(this, question, platform::MB_YESNO) == platform::IDYES)
        return true;
    FocusList();
    return false;
}

void CBackupRestorePage::SaveTasks() { ReportStoreWrite(m_store.SaveTasks(m_tasks)); }

void CBackupRestorePage::ReportStoreWrite(bool written)
{
    if (!written)
        ShowMessageBox(this,
                       "Save backup task setting fail!!\nPlease check that " + m_store.File() + " can be written.",
                       platform::MB_OK);
}

void CBackupRestorePage::AddTask()
{
    auto task = std::make_unique<BackupTaskInfo>();
    CNasContext* context = GetNasContext();
    context->Lock();
    task->nasUser = context->m_user;
    context->Unlock();

    m_wizard1->SetTask(task.get());
    if (m_wizard1->DoModal() != CTaskWizardpage1::kNext)
        return;
    m_wizard2->SetTask(task.get());
    if (m_wizard2->DoModal() != CAddTaskWS_P2::kNext)
        return;
    m_nameDlg->ClearExistingTasks();
    for (const BackupTaskInfo& t : m_tasks) {
        DebugTrace("add %s", t.taskName.c_str());
        m_nameDlg->AddExistingTask(t.taskName, t.nasUser);
    }
    m_nameDlg->SetTask(task.get());
    if (m_nameDlg->DoModal() != platform::IDOK)
        return;
    if (ShowMessageBox(this, "Do you want to set the task schedule ?", platform::MB_YESNO) == platform::IDYES) {
        m_scheduleDlg->SetTask(task.get());
        m_scheduleDlg->DoModal();
    }
    m_tasks.push_back(*task);
    PostTaskResult(LOG_BACKUP, "Add backup task ( " + task->taskName + " ).", "");
    RefreshTaskList();
    SaveTasks();
}

void CBackupRestorePage::DeleteTask()
{
    const std::string name = SelectedName();
    if (name.empty())
        return Refuse("No BackUP Task been selected.\nPlease select a Task to delete !!");
    if (GetNasContext()->GetRunningTaskName() == name)
        return Refuse(kRunning);
    if (!Ask("Do you want to delet Task : " + name + "?"))
        return;
    ReportStoreWrite(m_store.SaveTaskList(m_tasks, name));
    m_tasks.remove_if([&name](const BackupTaskInfo& t) { return t.taskName == name; });
    RefreshTaskList();
    GetListCtrl()->SetSelectionMark(-1);
    ResetTaskPanel();
    PostTaskResult(LOG_BACKUP, "Delete backup task ( " + name + " ).", "");
}

int CBackupRestorePage::EditTask()
{
    const int row = GetListCtrl()->GetSelectionMark();
    const std::string name = SelectedName();
    if (name.empty()) {
        Refuse("No BackUP Task been selected.\nPlease select a Task for Edit setting !!");
        return -1;
    }
    if (GetNasContext()->GetRunningTaskName() == name) {
        Refuse(kRunning);
        return row;
    }
    if (!Ask("Do you want to modify Task : " + name + "?"))
        return row;
    // The wizard works on a copy: the task, on the page and in the store,
    // stays as it is until the last step, and a Cancel on any step leaves it so.
    BackupTaskInfo edit = *FindTask(name);
    m_wizard1->SetTask(&edit);
    if (m_wizard1->DoModal() != CTaskWizardpage1::kNext) {
        FocusList();
        return row;
    }
    if (ShowMessageBox(this, "Do you want to change the NAS folder?", platform::MB_YESNO) == platform::IDYES) {
        m_wizard2->SetTask(&edit);
        if (m_wizard2->DoModal() != CAddTaskWS_P2::kNext) {
            FocusList();
            return row;
        }
    }
    // A schedule moved on while the wizard was open stays moved on.
    BackupTaskInfo* task = FindTask(name);
    if (task == nullptr) {
        FocusList();
        return row;
    }
    edit.schedules = task->schedules;
    // The backup on the device is still the task's while its folders and
    // its device folder stay: a run that ended meanwhile counts too.
    edit.lastBackTime = SameBackupTarget(*task, edit) ? task->lastBackTime : std::string();
    *task = std::move(edit);
    PostTaskResult(LOG_BACKUP, "Edit backup task ( " + name + " ).", "");
    RefreshTaskList();
    SaveTasks();
    FocusList();
    GetListCtrl()->SetSelectionMark(row);
    return row;
}

int CBackupRestorePage::ScheduleSetting()
{
    const int row = GetListCtrl()->GetSelectionMark();
    const std::string name = SelectedName();
    if (name.empty()) {
        Refuse("No BackUP Task been selected.\nPlease select a Task for schedule setting !!");
        return -1;
    }
    const bool has = HasSchedule(name);
    const std::string log = has ? "Modify schedule to task ( " : "Add schedule to task ( ";
    if (!Ask((has ? "Do you want to modify schedule to Task : " : "Do you want to add schedule to Task : ") + name +
             "?"))
        return row;
    m_scheduleDlg->SetTask(FindTask(name));
    if (m_scheduleDlg->DoModal() == platform::IDOK) {
        PostTaskResult(LOG_SCHEDULE, log + name + " ).", "");
        RefreshTaskList();
        SaveTasks();
    }
    return row;
}

bool CBackupRestorePage::RemoveScheduleOf(const std::string& name)
{
    for (BackupTaskInfo& task : m_tasks) {
        if (task.taskName != name || task.schedules.empty())
            continue;
        // A schedule the file still holds would run again at the next start.
        if (!m_store.DeleteScheduleKeys(name, task.schedules.front().key))
            return false;
        task.schedules.clear();
    }
    return true;
}

int CBackupRestorePage::RemoveSchedule()
{
    const int row = GetListCtrl()->GetSelectionMark();
    const std::string name = SelectedName();
    if (name.empty()) {
        Refuse("No BackUP Task been selected.\nPlease select a Task to delete schedule!!");
        return -1;
    }
    if (!Ask("Do you want to delet Task : " + name + "'s schedule setting?"))
        return row;
    if (!RemoveScheduleOf(name)) {
        ReportStoreWrite(false);
        return row;
    }
    RefreshTaskList();
    PostTaskResult(LOG_SCHEDULE, "Delete schedule setting to backup task ( " + name + " ).", "");
    return row;
}

void CBackupRestorePage::BackupNow()
{
    const std::string name = SelectedName();
    if (name.empty())
        return Refuse("No BackUP Task been selected.\nPlease select a Task to backup !!");
    if (!Ask("Do you want to Backup Task : " + name + " now?"))
        return;
    RunTask(LOG_BACKUP, name,
            "The backup target folder in NAS may be removed.\nPlease modify task setting or create the same NAS "
            "folder first !!",
            DoBackup);
}

void CBackupRestorePage::RestoreToOriginal()
{
    const std::string name = SelectedName();
    if (name.empty())
        return Refuse("No BackUP Task been selected.\nPlease select a Task to restore !!");
    if (!Ask("Do you want to Restore Task : " + name + " now?"))
        return;
    if (!HasBackup(name))
        return Refuse(kNotBackedUp);
    RunTask(LOG_RESTORE, name,
            "The restore source folder in NAS may be removed or NAS is not alive.\nPlease make sure the network "
            "status and check the NAS online",
            DoRestoreToOriginal);
}

void CBackupRestorePage::RestoreToOtherPlace()
{
    const std::string name = SelectedName();
    if (name.empty())
        return Refuse("No BackUP Task been selected.\nPlease select a Task to restore !!");
    if (!HasBackup(name))
        return Refuse(kNotBackedUp);
    if (!Ask("Please select a folder to store the data."))
        return;
    CFolderDialog dialog("", nullptr, nullptr, CFolderDialog::BIF_RETURNONLYFSDIRS);
    if (dialog.DoModal() != 1)
        return FocusList();
    const std::string path = dialog.GetFolderPath();
    if (CTaskWizardpage1::IsNetworkFolder(path))
        return Refuse("Can't choice network folder!!");
    m_restoreTargetName = dialog.GetFolderName();
    m_restoreTargetPath = path;
    RunTask(LOG_RESTORE, name,
            "The restore source folder in NAS may be removed or NAS is not alive.\nPlease check the network status "
            "and make sure the NAS is online",
            [targetName = m_restoreTargetName, targetPath = m_restoreTargetPath](
                const BackupTaskInfo& task, std::time_t start, const platform::JobControl& c) {
                return DoRestoreToOtherPlace(task, targetName, targetPath, start, c);
            });
}

void CBackupRestorePage::RunTask(int kind, const std::string& name, const std::string& folderMissing,
                                 const TaskRun& run)
{
    if (GetNasContext()->IsTaskRunning())
        return Refuse(kSomeRunning);
    // A task whose device moved to a new address follows it there.
    if (BackupTaskInfo* moved = FindTask(name); moved != nullptr && !FollowLoggedInDevice(*moved))
        ReportStoreWrite(false);
    if (!CheckNasFolderBehindPopup(name, folderMissing))
        return;
    // The worker gets a copy of the task as it is now.
    const BackupTaskInfo task = *FindTask(name);
    const std::time_t start = platform::WallNow();
    StartRun(kind, [task, start, run](const platform::JobControl& c) { return run(task, start, c); });
}

bool CBackupRestorePage::CheckNasFolderBehindPopup(const std::string& name, const std::string& refusal)
{
    const BackupTaskInfo* found = FindTask(name);
    std::optional<bool> present = false;
    if (found != nullptr) {
        const BackupTaskInfo task = *found;
        present = RunBehindPopup(this, m_check, [task](const platform::JobControl&) { return CheckNasFolder(task); });
    }
    if (!present) {
        // The check broke off and its box has said so: nothing is refused.
        FocusList();
        return false;
    }
    if (!*present)
        Refuse(refusal);
    return *present;
}

void CBackupRestorePage::StartRun(int kind, std::function<BackupRunResult(const platform::JobControl&)> job)
{
    if (!m_progress)
        return;
    ShowProgress();
    const std::string name = SelectedName();
    auto shown = std::make_shared<bool>(false);
    // A run that breaks off is logged as one that failed; the running state
    // was given back by the run itself.
    m_progress->SetRunFailureReport(kind == LOG_RESTORE ? "Restore" : "Backup", [this, kind, name](const std::string&) {
        PostTaskResult(
            kind, name + (kind == LOG_RESTORE ? " : restore processing Error!!" : " : backup processing Error!!"), "");
        RefreshTaskList();
    });
    const bool started = m_progress->StartRun(
        kind == LOG_RESTORE ? "Restore processing" : "Backup processing", std::move(job),
        [this, kind, name](const BackupRunResult& result) { OnRunDone(kind, result, name); },
        [this, shown] {
            // The first report comes once the run holds the running task: its icon changes.
            if (!*shown) {
                *shown = true;
                RefreshTaskList();
            }
        });
    if (!started)
        Refuse(kSomeRunning);
}

void CBackupRestorePage::OnRunDone(int kind, const BackupRunResult& result, const std::string& name)
{
    if (!result.started) {
        Refuse(kSomeRunning);
        return;
    }
    if (kind == LOG_BACKUP) {
        for (BackupTaskInfo& task : m_tasks)
            if (task.taskName == name)
                task.lastBackTime = result.lastBackTime;
    }
    PostTaskResult(kind, result.description, result.resultFile);
    RefreshTaskList();
    // A failure stays in view once its box is answered: the window that
    // shows it comes to the front.
    if (!result.success && m_progress) {
        m_progress->show();
        m_progress->raise();
        m_progress->activateWindow();
    }
}

int CBackupRestorePage::ShowProperty()
{
    const int row = GetListCtrl()->GetSelectionMark();
    const std::string name = SelectedName();
    if (name.empty()) {
        Refuse("No BackUP Task been selected.\nPlease select a Task to show its property !!");
        return -1;
    }
    DebugTrace("enter show dlg");
    auto dialog = std::make_unique<CTaskPropertyDlg>(this);
    for (BackupTaskInfo& task : m_tasks) {
        if (task.taskName != name)
            continue;
        dialog->SetTask(&task);
        for (const BackupScheduleInfo& s : task.schedules) {
            dialog->SetType(s.setType);
            dialog->SetSetDate(s.setDate);
            dialog->SetNextRun(s.nextRun);
        }
    }
    dialog->SetSelectionHandling(0);
    if (dialog->DoModal() == platform::IDOK)
        DebugTrace("enter manage");
    return row;
}

// ---------------------------------------------------------------------------
// Runs, schedules, results

void CBackupRestorePage::ShowProgress()
{
    if (!m_progress)
        return;
    const QWidget* parent = window();
    const QRect p = parent->frameGeometry();
    const QSize size = m_progress->size();
    m_progress->move(p.left() + (p.width() - size.width()) / 2, p.top() + (p.height() - size.height()) / 2);
}

void CBackupRestorePage::CheckSchedules()
{
    if (m_schedule.Busy())
        return;
    const std::list<BackupTaskInfo> tasks = m_tasks;
    // Each task's outcome is recorded as soon as it is settled, not at the
    // end of the pass.
    m_schedule.StartWithUpdates<std::vector<ScheduleRunResult>, ScheduleRunResult>(
        [tasks](const platform::JobControl& control, const std::function<void(ScheduleRunResult)>& send) {
            return RunDueSchedules(tasks, control, [&send](const ScheduleRunResult& r) { send(r); });
        },
        [this](const ScheduleRunResult& r) { OnScheduleResult(r); },
        [this](const std::vector<ScheduleRunResult>&) { RefreshTaskList(); },
        [this](int percent, const std::string& text) {
            if (!m_progress)
                return;
            if (text == "Backup processing") {
                ShowProgress();
                m_progress->BeginRun(text);
                RefreshTaskList();
                return;
            }
            m_progress->ShowRunProgress(percent, text);
        });
}

void CBackupRestorePage::OnScheduleResult(const ScheduleRunResult& r)
{
    for (BackupTaskInfo& task : m_tasks) {
        if (task.taskName != r.taskName)
            continue;
        // A schedule changed on the page while the pass ran stays as it is now.
        if (!task.schedules.empty() && task.schedules.front().key == r.oldKey)
            task.schedules.front() = r.schedule;
        // The pass let the task follow its device to a new address.
        if (const std::string address = NewDeviceAddress(task); !address.empty())
            task.nasIp = address;
        if (r.ran)
            task.lastBackTime = r.lastBackTime;
    }
    // The record first, then a box that the pass does not wait for.
    if (!r.description.empty())
        PostTaskResult(LOG_SCHEDULE, r.description, r.resultFile);
    if (!r.notice.empty())
        platform::Notice(r.taskName, r.notice);
    RefreshTaskList();
}

bool CBackupRestorePage::WaitRuns(int waitMs)
{
    const bool pass = m_schedule.Wait(waitMs);
    const bool run = !m_progress || m_progress->WaitRun(waitMs);
    return pass && run;
}

void CBackupRestorePage::PostTaskResult(int kind, const std::string& description, const std::string& filePath)
{
    // The main window holds the System Log.
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (auto* target = dynamic_cast<MessageTarget*>(w)) {
            target->PostMessage(WM_ADD_LOG, static_cast<uintptr_t>(kind), 0, LogRowMessage{description, filePath});
            return;
        }
    }
}
