#pragma once
// The modeless "Progress" window of backup runs: a status text and a bar.
// It shows a run that a worker carries out; closing it only hides it, the
// run goes on.
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "BackupTask.h"
#include "Dialog.h"
#include "RsycBackup.h"
#include "Worker.h"

class QProgressBar;
class QLabel;
class QPushButton;
namespace Ui {
class BackupProgress;
}

class CBackupProgress : public platform::gui::Dialog {
    Q_OBJECT
public:
    enum : int { IDD = 256, IDC_PROGRESS = 1292, IDC_STATUS = 1293 };

    explicit CBackupProgress(QWidget* parent = nullptr);
    ~CBackupProgress() override;

    // Range 0-100; the bar never moves back during a run.
    void SetPos(int percent);
    int GetPos() const;
    void SetStatusText(const std::string& text);
    std::string StatusText() const;

    // Shows the window and backs the task up on the worker; done gets the
    // outcome on the GUI thread. False while a run is under way.
    bool StartBackup(const BackupTaskInfo& task, std::time_t startTime, std::function<void(BackupRunResult)> done);
    // Shows the window with firstText and runs job (a backup or a restore)
    // on the worker; onReport runs on the GUI thread with every report, done
    // gets the outcome. False while a run is under way.
    bool StartRun(const std::string& firstText, std::function<BackupRunResult(const platform::JobControl&)> job,
                  std::function<void(BackupRunResult)> done, std::function<void()> onReport = {});
    // A run whose job fails (an exception) shows "<action> failed: <what>"
    // in the status text and a box; failed runs first and stands in for done.
    void SetRunFailureReport(const std::string& action, std::function<void(const std::string& what)> failed);
    // A run carried out by another worker (a schedule pass) reports here,
    // whether the window is shown or not.
    void BeginRun(const std::string& text);
    void ShowRunProgress(int percent, const std::string& text) { OnProgress(percent, text); }
    bool Running() const { return m_worker.Busy(); }
    // Asks the run to stop (rsync is ended) and waits up to waitMs.
    bool StopRun(int waitMs);
    // Waits up to waitMs for the run's end (events keep running).
    bool WaitRun(int waitMs) { return m_worker.Wait(waitMs); }

    QWidget* GetDlgItem(int id) const;

protected:
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override { OnOK(); }

private:
    void OnProgress(int percent, const std::string& text);

    std::unique_ptr<Ui::BackupProgress> m_ui;
    platform::gui::Worker m_worker;
};
