#include "TaskWizardpage1.h"

#include <QApplication>
#include <QStyle>
#include <sys/statfs.h>

#include "FolderDlg.h"
#include "FolderSize.h"
#include "ListCtrl.h"
#include "MessageBoxes.h"
#include "PopDlg.h"
#include "RsycBackup.h"
#include "TaskStore.h"
#include "stdafx.h"
#include "ui_TaskWizardpage1.h"

using namespace platform::gui;

namespace {
// File systems that live on another computer.
bool IsNetworkFileSystem(long type)
{
    switch (static_cast<unsigned long>(type)) {
    case 0xFF534D42UL: // CIFS
    case 0xFE534D42UL: // SMB2
    case 0x517BUL:     // SMB
    case 0x6969UL:     // NFS
        return true;
    default: return false;
    }
}
} // namespace

CTaskWizardpage1::CTaskWizardpage1(QWidget* parent) : Dialog(parent), m_ui(std::make_unique<Ui::TaskWizardpage1>())
{
    m_ui->setupUi(this);
    m_list = m_ui->folderList;
    connect(m_ui->nextButton, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(m_ui->cancelButton, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(m_ui->selectButton, &QPushButton::clicked, this, [this] { OnSelect(); });
    connect(m_ui->removeButton, &QPushButton::clicked, this, [this] { OnRemove(); });

    m_ui->instructionText->setBuddy(m_list);
    m_list->SetAccessibleName("Backup source folders");
    m_ui->folderGroup->setAccessibleName("Add Backup Folder");
    m_ui->selectButton->setAccessibleName("Select a folder");
    m_ui->removeButton->setAccessibleName("Remove the selected folder");
    m_ui->nextButton->setAccessibleName("Next");
    m_ui->cancelButton->setAccessibleName("Cancel");
}

CTaskWizardpage1::~CTaskWizardpage1() = default;

uint64_t CTaskWizardpage1::GetFolderSize(const std::string& path) { return ::GetFolderSize(path); }

std::string CTaskWizardpage1::FormatFileSize(int64_t bytes) { return ::FormatFileSize(bytes); }

bool CTaskWizardpage1::IsNetworkFolder(const std::string& path)
{
    // GVfs shows shares it mounted below .../gvfs/; other user-space file
    // systems (NTFS disks, for one) are local.
    if (path.rfind("//", 0) == 0 || path.find("/gvfs/") != std::string::npos)
        return true;
    struct statfs fs {};
    return ::statfs(path.c_str(), &fs) == 0 && IsNetworkFileSystem(fs.f_type);
}

QWidget* CTaskWizardpage1::GetDlgItem(int id) const
{
    switch (id) {
    case 1: return m_ui->nextButton;
    case 2: return m_ui->cancelButton;
    case IDC_FOLDER_LIST: return m_list;
    case IDC_SELECT: return m_ui->selectButton;
    case IDC_REMOVE: return m_ui->removeButton;
    case IDC_FOLDER_GROUP: return m_ui->folderGroup;
    case IDC_INSTRUCTION: return m_ui->instructionText;
    default: return nullptr;
    }
}

bool CTaskWizardpage1::OnInitDialog()
{
    m_total = 0;
    m_list->DeleteAllItems();
    while (m_list->GetColumnCount() > 0)
        m_list->DeleteColumn(0);
    QPixmap folder = QApplication::style()->standardIcon(QStyle::SP_DirIcon).pixmap(16, 16);
    m_list->SetImageLists({folder}, {folder});
    m_list->SetView(ListCtrl::Report);
    m_list->InsertColumn(0, "", Qt::AlignLeft, 20);
    m_list->InsertColumn(1, " Folder", Qt::AlignLeft, 150);
    m_list->InsertColumn(2, "Total Size", Qt::AlignLeft, 100);
    m_list->InsertColumn(3, "Path", Qt::AlignLeft, 150);
    m_list->SetImageColumn("Kind", {"Folder"});
    m_list->SetFullRowSelect(true);
    m_list->SetSelectionMark(-1);
    m_ui->instructionText->setText("Please select your backup source folders into below list.\n"
                                   "All files in the folder will backup to NAS.");
    m_ui->instructionText->setAccessibleName(m_ui->instructionText->text().simplified()); // read as one line
    Q_ASSERT(m_task);
    if (m_task && !m_task->folders.empty())
        FillFolderList();
    UpdateNext();
    return true;
}

void CTaskWizardpage1::AppendRow(const std::string& name, const std::string& size, const std::string& path)
{
    int row = m_list->InsertItem(m_list->GetItemCount(), "", 0);
    m_list->SetItemText(row, 1, name);
    m_list->SetItemText(row, 2, size);
    m_list->SetItemText(row, 3, path);
}

std::optional<uint64_t> CTaskWizardpage1::MeasureBehindPopup(const std::vector<std::string>& paths)
{
    QWidget* over = isVisible() || parentWidget() == nullptr ? this : parentWidget();
    return RunBehindPopup(over, m_worker, [paths](const platform::JobControl&) {
        uint64_t total = 0;
        for (const std::string& path : paths)
            total += GetFolderSize(path);
        return total;
    });
}

void CTaskWizardpage1::FillFolderList()
{
    // The stored size texts show; the total is measured afresh.
    std::vector<std::string> paths;
    for (const BackupFolderInfo& f : m_task->folders) {
        AppendRow(f.folderName, f.sizeText, f.path);
        paths.push_back(f.path);
    }
    // A measure that broke off leaves the total the task had.
    const std::optional<uint64_t> measured = MeasureBehindPopup(paths);
    m_total += static_cast<int64_t>(measured.value_or(m_task->totalBytes));
}

void CTaskWizardpage1::UpdateNext() { m_ui->nextButton->setEnabled(m_list->GetItemCount() > 0); }

void CTaskWizardpage1::OnSelect()
{
    // "Select" is off while the step runs; the focus it had comes back to it
    // after, and "Next" stays the button that Enter presses.
    const bool focused = m_ui->selectButton->hasFocus();
    m_ui->selectButton->setEnabled(false);
    CFolderDialog dialog("", nullptr, nullptr, CFolderDialog::BIF_RETURNONLYFSDIRS);
    if (dialog.DoModal() == 1) {
        const std::string path = dialog.GetFolderPath();
        const std::string name = dialog.GetFolderName();
        DebugTrace("%s %s", path.c_str(), name.c_str());
        // The copy on the device is named after the path's last part, as
        // are the copies the restore makes elsewhere after the shown names.
        const std::string deviceName = CRsycBackup::DeviceFolderName(path);
        bool taken = false;
        for (int row = 0; row < m_list->GetItemCount(); ++row)
            taken = taken || m_list->GetItemText(row, 1) == name ||
                    CRsycBackup::DeviceFolderName(m_list->GetItemText(row, 3)) == deviceName;
        if (IsNetworkFolder(path)) {
            ShowMessageBox(this, "Can't choice network folder!!", platform::MB_OK);
        } else if (path.find_first_of("\r\n") != std::string::npos) {
            // The task store keeps one line per value.
            ShowMessageBox(this, "Can't choice a folder whose path holds a line break!!", platform::MB_OK);
        } else if (path == "/" || name.empty()) {
            // Everything on the computer in one folder of the device.
            ShowMessageBox(this, "Can't choice the root folder!!", platform::MB_OK);
        } else if (taken) {
            // Both would land in one folder of that name on the device.
            ShowMessageBox(this,
                           "A folder named \"" + deviceName +
                               "\" is in the list already.\n"
                               "Folders of one task need different names!!",
                           platform::MB_OK);
        } else if (!RefuseClash({path})) {
            // A folder that could not be measured is not added.
            if (const std::optional<uint64_t> size = MeasureBehindPopup({path})) {
                m_total += static_cast<int64_t>(*size);
                AppendRow(name, FormatFileSize(static_cast<int64_t>(*size)), path);
                DebugTrace("%s", FormatFileSize(m_total).c_str());
            }
        }
    }
    UpdateNext();
    m_ui->selectButton->setEnabled(true);
    if (focused)
        m_ui->selectButton->setFocus(Qt::OtherFocusReason);
}

void CTaskWizardpage1::OnRemove()
{
    const int row = m_list->GetSelectionMark();
    if (row < 0 || row >= m_list->GetItemCount()) {
        ShowMessageBox(this, "Please select a folder to delete!", platform::MB_OK, "");
        return;
    }
    const std::optional<uint64_t> size = MeasureBehindPopup({m_list->GetItemText(row, 3)});
    if (!size)
        return; // the folder stays in the list
    m_total -= static_cast<int64_t>(*size);
    m_list->DeleteItem(row);
    m_list->SetSelectionMark(-1);
    UpdateNext();
}

int CTaskWizardpage1::SaveFolders()
{
    if (m_list->GetItemCount() == 0) {
        ShowMessageBox(this, "No Local Folder add.\nPlease select the BackUP Folder!!", platform::MB_OK);
        return 0;
    }
    // Only the task in memory changes: the page stores the edit when the
    // wizard is finished, and lets the dropped folders' keys go after that.
    m_task->folders.clear();
    for (int row = 0; row < m_list->GetItemCount(); ++row) {
        BackupFolderInfo f{m_list->GetItemText(row, 1), "", m_list->GetItemText(row, 2), m_list->GetItemText(row, 3)};
        bool known = false;
        for (const BackupFolderInfo& g : m_task->folders)
            known = known || g.path == f.path;
        if (!known)
            m_task->folders.push_back(f);
    }
    m_task->totalBytes = static_cast<uint64_t>(m_total < 0 ? 0 : m_total);
    m_task->taskBackSize = FormatFileSize(m_total);
    return 1;
}

bool CTaskWizardpage1::RefuseClash(const std::vector<std::string>& paths)
{
    // Only a task whose device folder is chosen has a place on the device.
    if (!m_task || !m_task->nasFolderSet)
        return false;
    BackupTaskInfo candidate = *m_task;
    candidate.folders.clear();
    for (const std::string& path : paths)
        candidate.folders.push_back({"", "", "", path});
    const std::string clash = CRsycBackup::FindFolderClash(candidate);
    if (clash.empty())
        return false;
    ShowMessageBox(this, clash, platform::MB_OK);
    return true;
}

void CTaskWizardpage1::OnOK()
{
    if (!m_task)
        return;
    // The folders' copies must not merge with another task's on the device.
    std::vector<std::string> paths;
    paths.reserve(static_cast<size_t>(m_list->GetItemCount()));
    for (int row = 0; row < m_list->GetItemCount(); ++row)
        paths.push_back(m_list->GetItemText(row, 3));
    if (RefuseClash(paths))
        return;
    SaveFolders();
    EndDialog(kNext);
}
