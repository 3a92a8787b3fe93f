#include "QUOMLOG_PAGE.h"

#include <QPointer>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "FileDialogs.h"
#include "ListCtrl.h"
#include "MessageBoxes.h"
#include "MessageTarget.h"
#include "Resources.h"
#include "ShellOpen.h"
#include "TaskPanel.h"

using namespace platform::gui;

namespace {

bool WriteAll(int fd, const std::string& bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Closes fd; false (errno of the first failure kept) when ok was false or
// the close failed.
bool CloseChecked(int fd, bool ok)
{
    const int err = errno;
    if (::close(fd) != 0)
        return false;
    errno = err;
    return ok;
}

// Puts bytes into the file at path whole or not at all: they go to a new
// file beside it, which replaces it only once every byte is on the disk. A
// link is followed, so the file it leads to is replaced and the link stays;
// a file replaced keeps its mode, a new one gets the usual mode of the
// user's new files. What is not a plain file (a device, a pipe) is written
// into as it is. False with errno set when it cannot.
bool WriteWholeFile(const std::string& chosen, const std::string& bytes)
{
    std::string path = chosen;
    if (char* real = ::realpath(chosen.c_str(), nullptr)) {
        path = real;
        std::free(real);
    }
    struct stat old {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        return fd >= 0 && CloseChecked(fd, WriteAll(fd, bytes));
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = folder + ".log-save-" + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    const bool written = (!exists || ::fchmod(fd, old.st_mode & 07777) == 0) && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    if (CloseChecked(fd, written) && ::rename(temp.c_str(), path.c_str()) == 0)
        return true;
    const int err = errno;
    ::unlink(temp.c_str());
    errno = err;
    return false;
}

} // namespace

CQUOMLOG_PAGE::CQUOMLOG_PAGE(QWidget* parent) : CPageView(parent)
{
    setObjectName("CQUOMLOG_PAGE");
    m_taskPanelIconId = 267;
}

CQUOMLOG_PAGE::~CQUOMLOG_PAGE() = default;

void CQUOMLOG_PAGE::OnInitialUpdate()
{
    CPageView::OnInitialUpdate();
    TaskPanel* panel = GetTaskPanel();
    panel->SetSingleSelection(true);
    panel->SetSelectItemOnFocus(false);
    RebuildTaskPanel();

    ListCtrl* list = GetListCtrl();
    list->setAccessibleName("System Log");
    list->SetView(ListCtrl::Report);
    list->SetRedraw(true);
    list->InsertColumn(COL_NUMBER, " No.", Qt::AlignLeft, 80);
    list->InsertColumn(COL_TIME, " Time", Qt::AlignLeft, 170);
    list->InsertColumn(COL_TYPE, " Type", Qt::AlignLeft, 140);
    list->InsertColumn(COL_DESCRIPTION, " Description", Qt::AlignLeft, 380);
    // Room for a path of some forty characters.
    list->InsertColumn(COL_FILE_PATH, " File Path", Qt::AlignLeft, list->fontMetrics().averageCharWidth() * 40);
    list->DeleteAllItems();
    list->SetRedraw(true);
    SetTitle("Log list");
}

std::string CQUOMLOG_PAGE::RowFilePath(int row) const
{
    if (row < 0)
        return {};
    return GetListCtrl()->GetItemText(row, COL_FILE_PATH);
}

void CQUOMLOG_PAGE::RebuildTaskPanel()
{
    TaskPanel* panel = GetTaskPanel();
    panel->RemoveAllGroups();

    TaskPanelGroup* manage = panel->AddGroup(IDS_LOG_MANAGE, 3);
    manage->AddLinkItem(IDS_CLEAR_ALL_LOG);
    manage->AddLinkItem(IDS_SAVE_LOGS);
    if (!RowFilePath(GetListCtrl()->GetSelectedItem()).empty())
        manage->AddLinkItem(IDS_SHOW_LOG_DETAIL);
    manage->SetExpanded(true);

    TaskPanelGroup* tips = panel->AddGroup(IDS_TIPS, 1);
    tips->AddTextItem("The log include the result of Backup and Restore operation.");
    tips->SetExpanded(true);
}

void CQUOMLOG_PAGE::OnTaskPanelLink(unsigned id)
{
    switch (id) {
    case IDS_SHOW_LOG_DETAIL: ShowDetail(GetListCtrl()->GetSelectedItem()); break;
    case IDS_CLEAR_ALL_LOG: ClearAll(); break;
    case IDS_SAVE_LOGS: SaveLogs(); break;
    default: ShowMessageBox(this, "click '" + LoadString(id) + "'", platform::MB_OK); break;
    }
}

void CQUOMLOG_PAGE::OnListRClick(int item)
{
    Menu menu;
    if (item != -1 && !RowFilePath(item).empty())
        menu.push_back(MenuItem::Command(ID_LOG_SHOW_DETAIL, "&Show Log Detail"));
    menu.push_back(MenuItem::Command(ID_LOG_CLEAR_ALL, "&Clear All Logs"));
    ShowPopupMenu(menu);
}

void CQUOMLOG_PAGE::OnListDblClk(int item)
{
    if (item != -1)
        ShowDetail(item);
}

void CQUOMLOG_PAGE::OnListClick(int item)
{
    if (item == -1)
        GetListCtrl()->SetSelectionMark(-1);
    RebuildTaskPanel();
}

void CQUOMLOG_PAGE::OnListItemSelected(int item) { OnListClick(item); }

void CQUOMLOG_PAGE::OnPageCommand(unsigned id)
{
    switch (id) {
    case ID_LOG_SHOW_DETAIL: {
        const int row = GetListCtrl()->GetSelectedItem();
        if (row != -1)
            ShowDetail(row);
        break;
    }
    case ID_LOG_CLEAR_ALL: ClearAll(); break;
    default: break;
    }
}

void CQUOMLOG_PAGE::ShowDetail(int row)
{
    const std::string path = RowFilePath(row);
    if (path.empty())
        return;
    if (::access(path.c_str(), R_OK) != 0) {
        const int error = errno;
        ShowMessageBox(this, "Could not open the log file " + path + ": " + std::strerror(error) + ".",
                       platform::MB_ICONHAND);
        return;
    }
    QPointer<CQUOMLOG_PAGE> self(this);
    platform::ShellOpen(path, [self, path](int status) {
        RunOnGuiThread([self, path, status] {
            if (self)
                ShowMessageBox(self,
                               "Could not open the log file " + path + ": " + platform::ShellOpenFailure(status) + ".",
                               platform::MB_ICONHAND);
        });
    });
}

void CQUOMLOG_PAGE::ClearAll()
{
    if (ShowMessageBox(this, "Do you want to clear all logs ? ", platform::MB_YESNO) != platform::IDYES)
        return;
    ListCtrl* list = GetListCtrl();
    list->DeleteAllItems();
    list->SetRedraw(true);
    RebuildTaskPanel();
}

void CQUOMLOG_PAGE::SaveLogs()
{
    // The dialog puts ".txt" on the name before it asks about replacing a file.
    const std::string path = GetSaveFileName(this, "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||", "txt");
    if (path.empty())
        return;
    if (!WriteLogFile(path)) {
        const int err = errno;
        ShowMessageBox(this, "Save Logs fail!!\nThe file " + path + " could not be written: " + std::strerror(err),
                       platform::MB_OK);
    }
}

bool CQUOMLOG_PAGE::WriteLogFile(const std::string& path) const
{
    const ListCtrl* list = GetListCtrl();
    const int rows = list->GetItemCount();
    std::string text;
    for (int row = 0; row < rows; ++row)
        text += "Time: " + list->GetItemText(row, COL_TIME) +
                "\t Description: " + list->GetItemText(row, COL_DESCRIPTION) + "\r\n";
    return WriteWholeFile(path, text);
}
