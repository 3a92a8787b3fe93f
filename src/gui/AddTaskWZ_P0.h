#pragma once
// Task wizard, last step: the new task's name. The name is the task's
// identity in the task store and on the backup page, so it must be short,
// free of the characters paths and the store cannot take, and not already
// used by any task.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "BackupTask.h"
#include "Dialog.h"

namespace Ui {
class AddTaskWZ_P0;
}

class CAddTaskWZ_P0 : public platform::gui::Dialog {
    Q_OBJECT
public:
    explicit CAddTaskWZ_P0(QWidget* parent = nullptr);
    ~CAddTaskWZ_P0() override;

    void SetTask(BackupTaskInfo* task) { m_task = task; }
    void ClearExistingTasks() { m_existing.clear(); }
    void AddExistingTask(const std::string& name, const std::string& creator)
    {
        m_existing.emplace_back(name, creator);
    }

    // Not empty, at most 20 characters, none of ( ) \ / ? " < > : | *.
    // "Apply" then also applies the task store's rule (::CheckTaskName).
    static bool CheckTaskName(const std::string& name);
    // 2 when a task of the current user has the name, 1 when another user's
    // has it, -1 when none. Letter case does not tell names apart: the
    // store keeps one section per name whatever its case.
    int FindTaskName(const std::string& name) const;

    bool IsApplyEnabled() const;

protected:
    bool OnInitDialog() override;
    void OnOK() override;

private:
    void OnChangeName();

    std::unique_ptr<Ui::AddTaskWZ_P0> m_ui;
    BackupTaskInfo* m_task = nullptr;
    std::vector<std::pair<std::string, std::string>> m_existing; // (task name, creator)
};
