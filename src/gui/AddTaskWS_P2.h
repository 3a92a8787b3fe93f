#pragma once
// Task wizard, second step: the device folder a task backs up into. Lists
// the folders of the attached device that the logged-in user may write to
// and, on Next, stores the chosen one and the device's identity in the task.
// Ends with kNext after Next.
#include <memory>
#include <string>

#include "BackupTask.h"
#include "Dialog.h"
#include "NasBackupFolders.h"
#include "Worker.h"

namespace Ui {
class AddTaskWS_P2;
}
namespace platform::gui {
class ListCtrl;
}

class CAddTaskWS_P2 : public platform::gui::Dialog {
    Q_OBJECT
public:
    static constexpr int kNext = 11;
    // Row images: every row 0, the chosen row 5.
    static constexpr int kImagePlain = 0;
    static constexpr int kImageChosen = 5;

    explicit CAddTaskWS_P2(QWidget* parent = nullptr);
    ~CAddTaskWS_P2() override;

    // Must be called before every DoModal; the task is not owned.
    void SetTask(BackupTaskInfo* task) { m_task = task; }

    platform::gui::ListCtrl* GetFolderList() const;
    bool IsNextEnabled() const;

    void OnRefresh();
    void OnClickList();

protected:
    bool OnInitDialog() override;
    void OnOK() override;

private:
    void UpdateNext();
    bool SaveSelection();

    std::unique_ptr<Ui::AddTaskWS_P2> m_ui;
    BackupTaskInfo* m_task = nullptr;
    platform::gui::Worker m_worker;
};
