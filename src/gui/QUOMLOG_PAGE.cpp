#include "QUOMLOG_PAGE.h"

#include <cstdio>
#include <memory>

#include "FileDialogs.h"
#include "ListCtrl.h"
#include "MessageBoxes.h"
#include "Resources.h"
#include "ShellOpen.h"
#include "TaskPanel.h"

using namespace platform::gui;

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
    if (!path.empty())
        platform::ShellOpen(path);
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
    std::string path = GetSaveFileName(this, "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||");
    if (path.empty())
        return;
    // The extension test is exact: "name.TXT" becomes "name.TXT.txt".
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    const bool hasTxt = dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
                        path.compare(dot + 1, std::string::npos, "txt") == 0;
    if (!hasTxt)
        path += ".txt";
    WriteLogFile(path);
}

bool CQUOMLOG_PAGE::WriteLogFile(const std::string& path) const
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file)
        return false;
    const ListCtrl* list = GetListCtrl();
    const int rows = list->GetItemCount();
    for (int row = 0; row < rows; ++row) {
        const std::string line = "Time: " + list->GetItemText(row, COL_TIME) +
                                 "\t Description: " + list->GetItemText(row, COL_DESCRIPTION) + "\r\n";
        std::fwrite(line.data(), 1, line.size(), file.get());
        std::fflush(file.get());
    }
    return std::fflush(file.get()) == 0;
}
