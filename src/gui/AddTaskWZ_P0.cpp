#include "AddTaskWZ_P0.h"

#include <QLineEdit>
#include <strings.h>

#include "MessageBoxes.h"
#include "TaskStore.h"
#include "stdafx.h"
#include "ui_AddTaskWZ_P0.h"

using namespace platform::gui;

CAddTaskWZ_P0::CAddTaskWZ_P0(QWidget* parent) : Dialog(parent), m_ui(std::make_unique<Ui::AddTaskWZ_P0>())
{
    m_ui->setupUi(this);
    m_ui->nameGroup->setAccessibleName("Enter the Task name");
    m_ui->nameLabel->setAccessibleName("Task Name");
    m_ui->applyButton->setAccessibleName("Apply");
    m_ui->cancelButton->setAccessibleName("Cancel");
    connect(m_ui->nameEdit, &QLineEdit::textChanged, this, [this] { OnChangeName(); });
    connect(m_ui->applyButton, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(m_ui->cancelButton, &QPushButton::clicked, this, [this] { OnCancel(); });
}

CAddTaskWZ_P0::~CAddTaskWZ_P0() { Detach(); }

bool CAddTaskWZ_P0::IsApplyEnabled() const { return m_ui->applyButton->isEnabled(); }

bool CAddTaskWZ_P0::OnInitDialog()
{
    m_ui->nameEdit->clear();
    m_ui->instruction->setText("Please enter a task name for task management."
                               "\nThe task name will show in Backup/Restore page for quickly executing."
                               "\nUsing a meaning task name will greatly help for the backup usage.");
    Q_ASSERT(m_task != nullptr);
    OnChangeName();
    m_ui->nameEdit->setFocus();
    return true;
}

void CAddTaskWZ_P0::OnChangeName() { m_ui->applyButton->setEnabled(!m_ui->nameEdit->text().isEmpty()); }

bool CAddTaskWZ_P0::CheckTaskName(const std::string& name)
{
    if (name.empty() || TaskNameCharacters(name) > kMaxTaskNameCharacters)
        return false;
    return name.find_first_of("()\\/?\"<>:|*") == std::string::npos;
}

int CAddTaskWZ_P0::FindTaskName(const std::string& name) const
{
    const std::string user = GetNasContext()->m_user;
    for (const auto& [taskName, creator] : m_existing) {
        if (strcasecmp(taskName.c_str(), name.c_str()) == 0)
            return creator == user ? 2 : 1;
    }
    return -1;
}

void CAddTaskWZ_P0::OnOK()
{
    const std::string name = m_ui->nameEdit->text().toStdString();
    DebugTrace("task name: %s\n", name.c_str());
    if (!CheckTaskName(name)) {
        ShowMessageBox(this, "Task Name must have no '()\\/?\"<>:|*' symbol and be shorter than 20 words length.",
                       platform::MB_OK);
        return;
    }
    // What the task store cannot keep as a section of its file.
    if (const int code = ::CheckTaskName(name); code != TASK_NAME_OK) {
        ShowMessageBox(this, TaskNameMessage(code), platform::MB_OK);
        return;
    }
    switch (FindTaskName(name)) {
    case 2: ShowMessageBox(this, "Task name must be unique!!", platform::MB_OK); return;
    case 1:
        ShowMessageBox(this, "The name had used by other user. Task name must be unique!!", platform::MB_OK);
        return;
    default: break;
    }
    if (m_task != nullptr)
        m_task->taskName = name;
    EndDialog(platform::IDOK);
}
