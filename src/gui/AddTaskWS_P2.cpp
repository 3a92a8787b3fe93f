#include "AddTaskWS_P2.h"

#include "ListCtrl.h"
#include "MessageBoxes.h"
#include "PopDlg.h"
#include "Resources.h"
#include "RsycBackup.h"
#include "stdafx.h"
#include "ui_AddTaskWS_P2.h"

using namespace platform::gui;

CAddTaskWS_P2::CAddTaskWS_P2(QWidget* parent) : Dialog(parent), m_ui(std::make_unique<Ui::AddTaskWS_P2>())
{
    m_ui->setupUi(this);
    m_ui->folderGroup->setAccessibleName("Nas Folder List");
    m_ui->folderList->SetAccessibleName("Nas Folder List");
    m_ui->nextButton->setAccessibleName("Next");
    m_ui->cancelButton->setAccessibleName("Cancel");
    m_ui->refreshButton->setAccessibleName("Refresh");
    connect(m_ui->refreshButton, &QPushButton::clicked, this, [this] { OnRefresh(); });
    connect(m_ui->nextButton, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(m_ui->cancelButton, &QPushButton::clicked, this, [this] { OnCancel(); });
    ListCtrl::Notify notify;
    notify.onClick = [this](int) { OnClickList(); };
    notify.onItemSelected = [this](int) { OnClickList(); };
    m_ui->folderList->SetNotify(std::move(notify));
}

CAddTaskWS_P2::~CAddTaskWS_P2() { Detach(); }

ListCtrl* CAddTaskWS_P2::GetFolderList() const { return m_ui->folderList; }

bool CAddTaskWS_P2::IsNextEnabled() const { return m_ui->nextButton->isEnabled(); }

bool CAddTaskWS_P2::OnInitDialog()
{
    m_ui->refreshButton->SetBitmap(266);
    m_ui->refreshButton->setText("Refresh");

    ListCtrl* list = m_ui->folderList;
    if (list->GetColumnCount() == 0) {
        list->SetView(ListCtrl::Report);
        list->InsertColumn(0, "", Qt::AlignLeft, 30);
        list->InsertColumn(1, " Folder", Qt::AlignLeft, 150);
        list->InsertColumn(2, "Location", Qt::AlignLeft, 70);
        list->InsertColumn(3, "Support Type", Qt::AlignLeft, 150);
        list->InsertColumn(4, "Share Status", Qt::AlignLeft, 100);
        list->InsertColumn(5, " User", Qt::AlignLeft, 150);
        std::vector<QPixmap> images;
        for (unsigned id : {234u, 236u, 240u, 237u, 233u, 235u})
            images.push_back(LoadIcon(id).pixmap(22, 22));
        list->SetImageLists({}, images);
        std::vector<std::string> names(images.size(), "NAS folder");
        names[kImageChosen] = "Chosen NAS folder";
        list->SetImageColumn("Kind", names);
        list->SetFullRowSelect(true);
    }
    m_ui->instruction->setText("Please select a folder in NAS to store your backup files. Backup process only support "
                               "English name folder.");
    Q_ASSERT(m_task != nullptr);
    OnRefresh();

    if (m_task != nullptr && !m_task->nasFolderName.empty()) {
        for (int row = 0; row < list->GetItemCount(); ++row) {
            if (list->GetItemText(row, 1) == m_task->nasFolderName) {
                list->SetItemImage(row, kImageChosen);
                list->SetItemSelected(row, true);
                list->SetSelectionMark(row);
                list->setFocus();
            }
        }
    }
    UpdateNext();
    return true;
}

void CAddTaskWS_P2::UpdateNext()
{
    const ListCtrl* list = m_ui->folderList;
    m_ui->nextButton->setEnabled(list->GetItemCount() > 0 && list->GetSelectionMark() >= 0);
}

void CAddTaskWS_P2::OnRefresh()
{
    const LoginCopy login = CopyLogin();
    if (login.address.empty()) {
        ShowMessageBox(this, "NO NAS ,Attach again!", platform::MB_OK);
        return;
    }
    NasDiskCheck disk;
    {
        CPopDlg busy(this);
        disk = m_worker.RunModal<NasDiskCheck>(busy, [&login](const platform::JobControl& job) {
            job.Say("Please wait..");
            return CheckNasDisk(login.address, login.community);
        });
    }
    if (m_worker.Failed())
        return;
    if (!disk.ready) {
        ShowMessageBox(this, disk.message, platform::MB_OK);
        return;
    }
    if (m_task != nullptr && !m_task->nasIp.empty() && m_task->nasIp != login.address) {
        ShowMessageBox(this,
                       "Now attaching NAS differ from pre-setting NAS, or NAS IP is changed. \nReselect the folder "
                       "can fix the problem, or you can keep the original setting.",
                       platform::MB_OK);
    }

    ListCtrl* list = m_ui->folderList;
    list->DeleteAllItems();
    std::vector<NasFolderRow> rows;
    {
        CPopDlg busy(this);
        rows = m_worker.RunModal<std::vector<NasFolderRow>>(busy, [&login](const platform::JobControl& job) {
            job.Say("Please wait..");
            return ReadBackupFolders(login.address, login.community, login.user, job);
        });
    }
    if (m_worker.Failed())
        return;
    for (const NasFolderRow& folder : rows) {
        const int row = list->InsertItem(list->GetItemCount(), "", kImagePlain);
        list->SetItemText(row, 1, folder.shareName);
        list->SetItemText(row, 2, folder.location);
        list->SetItemText(row, 3, folder.supportType);
        list->SetItemText(row, 4, folder.shareStatus);
        list->SetItemText(row, 5, folder.userList);
    }
    list->SetSelectionMark(-1);
    list->setFocus();
    UpdateNext();
}

void CAddTaskWS_P2::OnClickList()
{
    ListCtrl* list = m_ui->folderList;
    const int selected = list->GetSelectedItem();
    if (selected >= 0)
        list->SetSelectionMark(selected);
    DebugTrace("select th : %d\n", list->GetSelectionMark());
    if (list->GetItemCount() > 0 && list->GetSelectionMark() >= 0) {
        for (int row = 0; row < list->GetItemCount(); ++row)
            list->SetItemImage(row, kImagePlain);
        list->SetItemImage(list->GetSelectionMark(), kImageChosen);
    }
    UpdateNext();
}

bool CAddTaskWS_P2::SaveSelection()
{
    const ListCtrl* list = m_ui->folderList;
    const int row = list->GetSelectionMark();
    if (row < 0 || row >= list->GetItemCount()) {
        ShowMessageBox(this, "No NAS Folder detect.\nPlease Check NAS status or Creat A NAS Folder for BackUP !!",
                       platform::MB_OK);
        return false;
    }
    m_task->nasFolderName = list->GetItemText(row, 1);
    m_task->nasFolderDisk = list->GetItemText(row, 2);
    m_task->nasFolderType = list->GetItemText(row, 3);
    m_task->nasFolderStatus = list->GetItemText(row, 4);
    m_task->nasFolderUser = list->GetItemText(row, 5);
    const LoginCopy login = CopyLogin();
    m_task->nasIp = login.address;
    m_task->nasMac = login.mac;
    m_task->nasCommunity = login.community;
    m_task->nasUser = login.user;
    m_task->nasFolderSet = 1;
    return true;
}

void CAddTaskWS_P2::OnOK()
{
    if (m_task == nullptr)
        return;
    const BackupTaskInfo before = *m_task;
    if (SaveSelection()) {
        // The folders' copies must not merge with another task's there.
        const std::string clash = CRsycBackup::FindFolderClash(*m_task);
        if (!clash.empty()) {
            *m_task = before;
            ShowMessageBox(this, clash, platform::MB_OK);
            return;
        }
    }
    EndDialog(kNext);
}
