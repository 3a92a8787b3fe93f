#include "ShareManagement.h"

#include "UserManagement.h"

#include <QHeaderView>
#include <QTimer>
#include <mutex>
#include <optional>

#include "MessageBox.h"
#include "MessageRecord.h"
#include "PopDlg.h"
#include "ReportControl.h"
#include "UserManagement.h"
#include "ui_ShareManagement.h"

using namespace platform::gui;

namespace {

constexpr int kFold = 220;
constexpr int kFoldLimit = 400;

std::mutex g_handlerLock;
CShareManagement::CreateUserHandler g_createUser;

} // namespace

CShareManagement::CreateUserHandler CShareManagement::SetCreateUserHandler(CreateUserHandler handler)
{
    std::lock_guard<std::mutex> guard(g_handlerLock);
    CreateUserHandler old = std::move(g_createUser);
    g_createUser = std::move(handler);
    return old;
}

CShareManagement::CShareManagement(QWidget* parent) : Dialog(parent), m_ui(std::make_unique<Ui::ShareManagement>())
{
    m_ui->setupUi(this);
    m_ui->secondList->hide();
    connect(m_ui->createButton, &QPushButton::clicked, this, [this] { OnCreate(); });
    connect(m_ui->cancelButton, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(m_ui->addUser, &QPushButton::clicked, this, [this] { OnAddUser(); });
    connect(m_ui->removeUser, &QPushButton::clicked, this, [this] { OnRemoveUser(); });
    connect(m_ui->createUser, &QPushButton::clicked, this, [this] { OnCreateUser(); });
    OnChecked(m_ui->anonymous, [this] { OnAnonymous(); });
    OnChecked(m_ui->privateFolder, [this] { OnPrivateFolder(); });
}

CShareManagement::~CShareManagement() { m_worker.Stop(); }

CShareManagement::Parts CShareManagement::Controls() const
{
    return {m_ui->diskBox,    m_ui->folderName, m_ui->anonymous, m_ui->privateFolder, m_ui->userList,    m_ui->addUser,
            m_ui->removeUser, m_ui->createUser, m_ui->allowList, m_ui->createButton,  m_ui->cancelButton};
}

int CShareManagement::DoModal(const std::string& name, int action)
{
    m_action = action;
    m_oldName = name;
    Dialog::DoModal();
    return m_result;
}

bool CShareManagement::OnInitDialog()
{
    // The lists and the folder to edit come from the device on the worker,
    // behind the busy popup over the page; the controls are filled from the
    // copy it hands back.
    struct DeviceRead {
        FolderDialogData lists;
        bool found = false;
        FolderSettings folder;
    };
    const bool edit = m_action == kFolderActionEdit;
    const std::string name = m_oldName;
    const std::string location = m_location;
    QWidget* over = parentWidget() != nullptr ? parentWidget() : this;
    const std::optional<DeviceRead> read =
        RunBehindPopup(over, m_worker, [edit, name, location, login = CopyLogin()](const platform::JobControl&) {
            DeviceRead r;
            r.lists = LoadFolderDialogData(login);
            if (edit)
                r.found = ::LoadFolder(login, name, location, r.folder);
            return r;
        });
    if (!read) {
        // Nothing to edit or save on lists that could not be read: the
        // dialog does not open.
        m_result = kFolderNotSaved;
        EndDialog(m_result);
        return true;
    }
    InitLists(read->lists);
    if (m_action == kFolderActionAdd) {
        m_ui->createButton->setText("Create");
        m_ui->diskBox->setFocus();
    } else if (m_action == kFolderActionEdit) {
        m_ui->createButton->setText("Save");
        if (read->found) {
            ShowFolder(read->folder);
        } else {
            // Closes once the run has started.
            QTimer::singleShot(0, this, [this] { EndDialog(m_result); });
        }
    } else {
        platform::MessageBox("Unknow action type!", platform::MB_OK);
    }
    return true;
}

void CShareManagement::InitLists(const FolderDialogData& data)
{
    m_ui->folderName->clear();
    m_ui->anonymous->setChecked(true);
    m_ui->privateFolder->setChecked(false);
    m_ui->samba->setChecked(true);
    m_ui->ftp->setChecked(false);
    m_ui->nfs->setChecked(false);

    m_ui->secondList->setColumnWidth(1, 60);
    ReportControl* report = m_ui->allowList;
    report->RemoveAllRecords();
    report->clear();
    report->setColumnCount(0);
    report->AddColumn("User Name", report->width() - 60);
    report->AddColumn("ReadWrite", 60);
    // The right column as wide as its title, the names take the rest.
    const int rightWidth = report->header()->sectionSizeHint(1);
    report->setColumnWidth(1, rightWidth);
    report->setColumnWidth(
        0, std::max(report->header()->sectionSizeHint(0), report->width() - 2 * report->frameWidth() - rightWidth));
    report->Populate();

    m_ui->userList->clear();
    for (const std::string& account : data.accounts)
        new QTreeWidgetItem(m_ui->userList, QStringList(QString::fromStdString(account)));
    m_ui->diskBox->clear();
    for (const std::string& disk : data.disks)
        m_ui->diskBox->addItem(QString::fromStdString(disk));
    if (m_ui->diskBox->count() > 0)
        m_ui->diskBox->setCurrentIndex(0);
    m_ui->diskBox->setEnabled(true);
    Fold(false);
}

void CShareManagement::ShowFolder(const FolderSettings& s)
{
    m_ui->anonymous->setChecked(!s.privateFolder);
    m_ui->privateFolder->setChecked(s.privateFolder);
    m_ui->samba->setChecked(s.samba);
    m_ui->ftp->setChecked(s.ftp);
    m_ui->nfs->setChecked(s.nfs);
    for (const AllowedEntry& e : s.allowed)
        AddAllowed(e.name, e.write);
    m_ui->allowList->Populate();
    int disk = m_ui->diskBox->findText(QString::fromStdString(s.disk));
    if (disk < 0) {
        m_ui->diskBox->addItem(QString::fromStdString(s.disk));
        disk = m_ui->diskBox->count() - 1;
    }
    m_ui->diskBox->setCurrentIndex(disk);
    m_ui->diskBox->setEnabled(false);
    m_ui->folderName->setText(QString::fromStdString(m_oldName));
    Fold(s.privateFolder);
    if (s.privateFolder)
        m_ui->nfs->setEnabled(false);
}

void CShareManagement::AddAllowed(const std::string& name, bool write)
{
    m_ui->allowList->AddRecord(new CMessageRecord(name, write));
    QList<QTreeWidgetItem*> same = m_ui->userList->findItems(QString::fromStdString(name), Qt::MatchExactly);
    for (QTreeWidgetItem* item : same)
        delete item;
}

FolderSettings CShareManagement::ReadControls() const
{
    FolderSettings s;
    s.name = m_ui->folderName->text().toStdString();
    s.disk = m_ui->diskBox->currentIndex() >= 0 ? m_ui->diskBox->currentText().toStdString() : std::string();
    s.samba = m_ui->samba->isChecked();
    s.ftp = m_ui->ftp->isChecked();
    s.nfs = m_ui->nfs->isChecked();
    s.privateFolder = !m_ui->anonymous->isChecked();
    s.allowed = AllowedRows();
    return s;
}

std::vector<std::string> CShareManagement::UserListNames() const
{
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(m_ui->userList->topLevelItemCount()));
    for (int i = 0; i < m_ui->userList->topLevelItemCount(); ++i)
        names.push_back(m_ui->userList->topLevelItem(i)->text(0).toStdString());
    return names;
}

std::vector<AllowedEntry> CShareManagement::AllowedRows() const
{
    std::vector<AllowedEntry> rows;
    ReportControl* report = m_ui->allowList;
    for (int i = 0; i < report->GetRecordCount(); ++i) {
        ReportRecord* r = report->RecordOfRow(i) ? report->RecordOfRow(i) : report->GetRecord(i);
        rows.push_back({r->GetItem(0)->GetCaption(), r->GetItem(1)->IsChecked()});
    }
    return rows;
}

void CShareManagement::OnAddUser()
{
    for (QTreeWidgetItem* item : m_ui->userList->selectedItems()) {
        m_ui->allowList->AddRecord(new CMessageRecord(item->text(0).toStdString(), false));
        delete item;
    }
    m_ui->allowList->Populate();
    m_ui->userList->clearSelection();
}

void CShareManagement::OnRemoveUser()
{
    ReportControl* report = m_ui->allowList;
    std::vector<AllowedEntry> keep;
    for (int i = 0; i < report->topLevelItemCount(); ++i) {
        ReportRecord* r = report->RecordOfRow(i);
        if (!r)
            continue;
        AllowedEntry e{r->GetItem(0)->GetCaption(), r->GetItem(1)->IsChecked()};
        if (report->topLevelItem(i)->isSelected())
            new QTreeWidgetItem(m_ui->userList, QStringList(QString::fromStdString(e.name)));
        else
            keep.push_back(e);
    }
    report->RemoveAllRecords();
    for (const AllowedEntry& e : keep)
        report->AddRecord(new CMessageRecord(e.name, e.write));
    report->Populate();
}

void CShareManagement::OnCreateUser()
{
    CreateUserHandler handler;
    {
        std::lock_guard<std::mutex> guard(g_handlerLock);
        handler = g_createUser;
    }
    if (handler)
        handler(this);
    else
        RunUserManagement(this);
    RefreshUsers();
}

void CShareManagement::RefreshUsers()
{
    const std::optional<std::vector<std::string>> accounts =
        RunBehindPopup(this, m_worker, [login = CopyLogin()](const platform::JobControl&) {
            std::vector<std::string> read;
            LoadAccounts(login, read);
            return read;
        });
    if (!accounts)
        return; // the list keeps what it showed
    std::vector<AllowedEntry> allowed = AllowedRows();
    m_ui->userList->clear();
    for (const std::string& a : *accounts) {
        bool taken = false;
        for (const AllowedEntry& e : allowed)
            taken = taken || e.name == a;
        if (!taken)
            new QTreeWidgetItem(m_ui->userList, QStringList(QString::fromStdString(a)));
    }
}

void CShareManagement::Fold(bool privateFolder)
{
    QWidget* parts[] = {m_ui->userGroup,  m_ui->allUsersLabel, m_ui->userList,  m_ui->createUser, m_ui->addUser,
                        m_ui->removeUser, m_ui->allowLabel,    m_ui->allowList, m_ui->note};
    for (QWidget* w : parts)
        w->setVisible(privateFolder);
    const int h = height();
    int dy = 0;
    if (!privateFolder && h > kFoldLimit)
        dy = -kFold;
    else if (privateFolder && h < kFoldLimit)
        dy = kFold;
    if (dy == 0)
        return;
    setFixedHeight(h + dy);
    for (QWidget* w : {static_cast<QWidget*>(m_ui->createButton), static_cast<QWidget*>(m_ui->cancelButton)})
        w->move(w->x(), w->y() + dy);
}

void CShareManagement::OnAnonymous()
{
    m_ui->nfs->setEnabled(true);
    Fold(false);
}

void CShareManagement::OnPrivateFolder()
{
    m_ui->nfs->setChecked(false);
    m_ui->nfs->setEnabled(false);
    Fold(true);
}

void CShareManagement::OnCancel()
{
    m_result = kFolderNotSaved;
    EndDialog(m_result);
}

void CShareManagement::OnCreate()
{
    if (m_worker.Busy())
        return;
    FolderSettings settings = ReadControls();
    m_folderName = settings.name;
    const int action = m_action;
    const std::string oldName = m_oldName;
    const std::string oldLocation = m_location;
    CPopDlg popup(this);
    FolderSaveResult saved =
        m_worker.RunModal<FolderSaveResult>(popup, [=, login = CopyLogin()](const platform::JobControl& job) {
            job.Say(action == kFolderActionAdd ? "Adding...Please wait.." : "Editing...Please wait..");
            return AddOrEditFolder(job, login, settings, action, oldName, oldLocation);
        });
    if (m_worker.Failed())
        return; // the dialog stays as typed
    if (saved.code == -1) {
        if (saved.focus == FolderFocus::Disk)
            m_ui->diskBox->setFocus();
        else if (saved.focus == FolderFocus::Name)
            m_ui->folderName->setFocus();
        return;
    }
    m_result = saved.result;
    EndDialog(m_result);
}
