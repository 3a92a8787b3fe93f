#pragma once
// The first step of the task wizard (and of Edit Task): the local folders of
// a backup task, each with its size, and their total. "Next" writes the
// folders into the task and ends the dialog with kNext.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BackupTask.h"
#include "Dialog.h"
#include "Worker.h"

class QPushButton;
namespace platform::gui {
class ListCtrl;
}
namespace Ui {
class TaskWizardpage1;
}

class CTaskWizardpage1 : public platform::gui::Dialog {
    Q_OBJECT
public:
    enum : int {
        IDD = 207,
        IDC_FOLDER_LIST = 1247,
        IDC_SELECT = 1248,
        IDC_REMOVE = 1249,
        IDC_FOLDER_GROUP = 1250,
        IDC_INSTRUCTION = 1267,
    };
    // The code "Next" ends the dialog with.
    static constexpr int kNext = 11;

    explicit CTaskWizardpage1(QWidget* parent = nullptr);
    ~CTaskWizardpage1() override;

    // The task to fill; set before every DoModal. Not owned.
    void SetTask(BackupTaskInfo* task) { m_task = task; }

    static uint64_t GetFolderSize(const std::string& path);
    static std::string FormatFileSize(int64_t bytes);

    // Whether a folder lies on a network share (refused as a backup source).
    static bool IsNetworkFolder(const std::string& path);

    // The control with a resource id (1 Next, 2 Cancel, IDC_*), or null.
    QWidget* GetDlgItem(int id) const;
    platform::gui::ListCtrl* FolderList() const { return m_list; }
    int64_t Total() const { return m_total; }

    void OnSelect();
    void OnRemove();

protected:
    bool OnInitDialog() override;
    void OnOK() override;

private:
    void FillFolderList();
    int SaveFolders();
    void UpdateNext();
    // Whether these folders' copies would merge on the device with those of
    // another stored task (the box says which); false while the task has no
    // device folder yet.
    bool RefuseClash(const std::vector<std::string>& paths);
    void AppendRow(const std::string& name, const std::string& size, const std::string& path);
    // The bytes below the folders, walked on the worker behind the busy popup;
    // nothing when the walk broke off.
    std::optional<uint64_t> MeasureBehindPopup(const std::vector<std::string>& paths);

    std::unique_ptr<Ui::TaskWizardpage1> m_ui;
    platform::gui::ListCtrl* m_list = nullptr;
    int64_t m_total = 0;
    BackupTaskInfo* m_task = nullptr;
    platform::gui::Worker m_worker;
};
