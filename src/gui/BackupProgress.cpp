#include "BackupProgress.h"

#include <QApplication>
#include <QStyle>

#include "ui_BackupProgress.h"

CBackupProgress::CBackupProgress(QWidget* parent) : Dialog(parent), m_ui(std::make_unique<Ui::BackupProgress>())
{
    m_ui->setupUi(this);
    setModal(false);
    connect(m_ui->closeButton, &QPushButton::clicked, this, [this] { OnOK(); });
    m_ui->progressBar->setAccessibleName("Backup progress");
    m_ui->closeButton->setAccessibleName("Close");
    OnInitDialog();
}

CBackupProgress::~CBackupProgress() { m_worker.Stop(); }

bool CBackupProgress::OnInitDialog()
{
    m_ui->progressBar->setRange(0, 100);
    m_ui->progressBar->setValue(0);
    m_ui->closeButton->setText("Close");
    m_ui->closeButton->setIcon(QApplication::style()->standardIcon(QStyle::SP_DialogCloseButton));
    m_ui->closeButton->setIconSize(QSize(32, 32));
    return true;
}

QWidget* CBackupProgress::GetDlgItem(int id) const
{
    switch (id) {
    case 1: return m_ui->closeButton;
    case IDC_PROGRESS: return m_ui->progressBar;
    case IDC_STATUS: return m_ui->statusText;
    default: return nullptr;
    }
}

void CBackupProgress::OnOK() { hide(); }

void CBackupProgress::SetPos(int percent) { m_ui->progressBar->setValue(percent); }

int CBackupProgress::GetPos() const { return m_ui->progressBar->value(); }

void CBackupProgress::SetStatusText(const std::string& text)
{
    m_ui->statusText->setText(QString::fromStdString(text));
}

std::string CBackupProgress::StatusText() const { return m_ui->statusText->text().toStdString(); }

void CBackupProgress::OnProgress(int percent, const std::string& text)
{
    if (percent >= 0 && percent > GetPos())
        SetPos(percent);
    if (!text.empty())
        SetStatusText(text);
}

bool CBackupProgress::StartBackup(const BackupTaskInfo& task, std::time_t startTime,
                                  std::function<void(BackupRunResult)> done)
{
    return StartRun(
        "Backup processing",
        [task, startTime](const platform::JobControl& control) { return RunBackupJob(task, startTime, control); },
        std::move(done));
}

void CBackupProgress::BeginRun(const std::string& text)
{
    SetPos(0);
    SetStatusText(text);
}

bool CBackupProgress::StartRun(const std::string& firstText,
                               std::function<BackupRunResult(const platform::JobControl&)> job,
                               std::function<void(BackupRunResult)> done, std::function<void()> onReport)
{
    if (m_worker.Busy())
        return false;
    BeginRun(firstText);
    show();
    return m_worker.Start<BackupRunResult>(
        std::move(job), std::move(done), [this, onReport = std::move(onReport)](int percent, const std::string& text) {
            OnProgress(percent, text);
            if (onReport)
                onReport();
        });
}

void CBackupProgress::SetRunFailureReport(const std::string& action, std::function<void(const std::string&)> failed)
{
    m_worker.SetFailureReport(action, this, [this, action, failed = std::move(failed)](const std::string& what) {
        SetStatusText(action + " failed: " + what);
        if (failed)
            failed(what);
    });
}

bool CBackupProgress::StopRun(int waitMs) { return m_worker.Stop(waitMs); }
