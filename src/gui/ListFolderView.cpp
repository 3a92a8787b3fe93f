#include "ListFolderView.h"

#include <QAbstractItemView>
#include <QListView>
#include <QTreeView>
#include <QString>
#include <QTextBoundaryFinder>
#include <cctype>
#include <cstdio>
#include <optional>

#include "ConnectionDialog.h"
#include "ListCtrl.h"
#include "MessageBox.h"
#include "NetConnection.h"
#include "PopDlg.h"
#include "ShareManagement.h"
#include "TaskPanel.h"
#include "stdafx.h"

using namespace platform::gui;
using platform::MB_OK;
using platform::MB_OKCANCEL;
using platform::MessageBox;

namespace {

// How long a refresh that the page waits for may take at most.
constexpr int kRefreshWaitMs = 10 * 60 * 1000;

std::string ReplaceAll(std::string s, const std::string& from, const std::string& to)
{
    for (size_t p = 0; (p = s.find(from, p)) != std::string::npos; p += to.size())
        s.replace(p, from.size(), to);
    return s;
}

} // namespace

CListFolderView::CListFolderView(QWidget* parent) : CPageView(parent)
{
    setAccessibleName("Share Folder");
    // A refresh that fails puts back the rows the page showed before it.
    m_refreshWorker.SetFailureReport("Refresh", this, [this](const std::string&) {
        FolderListing before;
        before.rows = m_rowsBefore;
        Fill(before);
    });
    m_modalWorker.SetFailureReport("The folder operation", this);
    m_openWorker.SetFailureReport("Opening the folder", this);
}

CListFolderView::~CListFolderView()
{
    m_refreshWorker.Stop();
    m_modalWorker.Stop();
    m_openWorker.Stop();
}

void CListFolderView::DoDataExchange()
{
    m_largeIconId = 253;
    m_smallIconId = 263;
    m_taskPanelIconId = 271;
}

bool CListFolderView::IsAdmin() const { return GetNasContext()->IsAdministrator(); }

void CListFolderView::OnInitialUpdate()
{
    CPageView::OnInitialUpdate();
    m_viewStyle = "ICON";
    TaskPanel* panel = GetTaskPanel();
    panel->SetSingleSelection(true);
    panel->SetSelectItemOnFocus(false);
    panel->setAccessibleName("Folder tasks");
    TaskPanelGroup* manage = panel->AddGroup(IDS_FOLDER_MANAGEMENT, 0);
    if (IsAdmin())
        manage->AddLinkItem(IDS_ADD_FOLDER);
    manage->AddLinkItem(IDS_REFRESH_FOLDERS);
    TaskPanelGroup* detail = panel->AddGroup(IDS_FOLDER_DETAIL, 1);
    detail->SetExpandable(true);
    detail->SetExpanded(true);

    ListCtrl* list = GetListCtrl();
    list->setAccessibleName("Shared folders");
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(list->IconView()), static_cast<QAbstractItemView*>(list->ReportView())})
        view->setAccessibleName("Shared folders");
    list->InsertColumn(0, " Folder", Qt::AlignLeft, 150);
    list->InsertColumn(1, " Location", Qt::AlignLeft, 100);
    list->InsertColumn(2, " Support Type", Qt::AlignLeft, 150);
    list->InsertColumn(3, " Allow User", Qt::AlignLeft, 620);
    list->SetView(ListCtrl::Icon);
    SetTitle("List Folder");
    // The page opens with the device's folders.
    RefreshFolderList();
}

// ---------------------------------------------------------------------------
// Refresh

void CListFolderView::Refresh()
{
    // The previous refresh ends first; its rows are dropped for the new ones.
    m_refreshWorker.Wait(kRefreshWaitMs);
    StartRefresh();
    OnListClick(-1);
}

bool CListFolderView::StopRefresh()
{
    // Modal jobs hold the window until they end; these two do not.
    const bool busy = m_refreshWorker.Busy() || m_openWorker.Busy();
    m_refreshWorker.Stop();
    m_openWorker.Stop();
    return busy;
}

void CListFolderView::StartRefresh()
{
    if (!m_refreshWorker.Busy())
        m_rowsBefore = m_rows;
    GetListCtrl()->DeleteAllItems();
    m_rows.clear();
    PanelFollowsSelection();
    m_refreshWorker.Start<FolderListing>(
        [login = CopyLogin()](const platform::JobControl& job) { return ::RefreshFolderList(job, login); },
        [this](const FolderListing& listing) { Fill(listing); });
}

void CListFolderView::RefreshFolderList()
{
    m_refreshWorker.Wait(kRefreshWaitMs);
    StartRefresh();
    m_refreshWorker.Wait(kRefreshWaitMs);
}

bool CListFolderView::Busy() const { return m_refreshWorker.Busy() || m_modalWorker.Busy() || m_openWorker.Busy(); }

bool CListFolderView::WaitIdle(int waitMs)
{
    return m_refreshWorker.Wait(waitMs) && m_modalWorker.Wait(waitMs) && m_openWorker.Wait(waitMs);
}

void CListFolderView::Fill(const FolderListing& listing)
{
    ListCtrl* list = GetListCtrl();
    list->SetRedraw(false);
    list->DeleteAllItems();
    m_rows = listing.rows;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        int item = list->InsertItem(static_cast<int>(i), m_rows[i].text, m_rows[i].image);
        SetRow(item, m_rows[i]);
        list->SetItemData(item, i);
    }
    list->SetRedraw(true);
    list->setFocus();
    PanelFollowsSelection();
}

void CListFolderView::PanelFollowsSelection()
{
    if (const int item = SelectedItem(); item >= 0)
        OnListItemSelected(item);
    else
        OnListClick(-1);
}

void CListFolderView::SetRow(int item, const FolderRow& row)
{
    ListCtrl* list = GetListCtrl();
    if (item < 0 || item >= list->GetItemCount())
        return;
    m_rows[static_cast<size_t>(item)] = row;
    list->SetItemText(item, 0, row.text);
    list->SetItemText(item, 1, row.location);
    list->SetItemText(item, 2, row.type);
    list->SetItemText(item, 3, row.allow);
    list->SetItemImage(item, row.image);
    // The panel of the selected row follows what the row now says (a drive
    // letter mapped or dropped, the device's settings read afresh).
    if (item == SelectedItem())
        OnListItemSelected(item);
}

int CListFolderView::SelectedItem() const
{
    int item = GetListCtrl()->GetSelectedItem();
    return item >= 0 && item < static_cast<int>(m_rows.size()) ? item : -1;
}

void CListFolderView::SelectRow(int item)
{
    ListCtrl* list = GetListCtrl();
    list->SetItemSelected(item, true);
    list->SetSelectionMark(item);
    list->EnsureVisible(item);
    list->setFocus();
}

void CListFolderView::ReselectByName(const std::string& name)
{
    for (int i = static_cast<int>(m_rows.size()) - 1; i >= 0; --i) {
        if (BareFolderName(m_rows[static_cast<size_t>(i)].text) == name) {
            SelectRow(i);
            update();
            return;
        }
    }
    if (!m_rows.empty())
        MessageBox("Failed.", MB_OK);
}

bool CListFolderView::IsMapped(int item) const
{
    return item >= 0 && item < static_cast<int>(m_rows.size()) &&
           m_rows[static_cast<size_t>(item)].text.find(":>") != std::string::npos;
}

bool CListFolderView::IsUsb(int item) const
{
    return item >= 0 && item < static_cast<int>(m_rows.size()) && IsUsbRowText(m_rows[static_cast<size_t>(item)].text);
}

// ---------------------------------------------------------------------------
// Task panel and menu

void CListFolderView::OnListClick(int item)
{
    if (item >= 0)
        return;
    // Nothing is selected now (a click off the rows, a refreshed list): no
    // row's details stay behind.
    if (TaskPanelGroup* detail = GetTaskPanel()->FindGroup(IDS_FOLDER_DETAIL))
        detail->RemoveAllItems();
    TaskPanelGroup* manage = GetTaskPanel()->FindGroup(IDS_FOLDER_MANAGEMENT);
    if (!manage)
        return;
    manage->RemoveAllItems();
    if (IsAdmin())
        manage->AddLinkItem(IDS_ADD_FOLDER);
    manage->AddLinkItem(IDS_REFRESH_FOLDERS);
}

void CListFolderView::OnListItemSelected(int item)
{
    TaskPanel* panel = GetTaskPanel();
    TaskPanelGroup* manage = panel->FindGroup(IDS_FOLDER_MANAGEMENT);
    TaskPanelGroup* detail = panel->FindGroup(IDS_FOLDER_DETAIL);
    if (!manage || !detail)
        return;
    manage->RemoveAllItems();
    detail->RemoveAllItems();
    if (item < 0 || item >= static_cast<int>(m_rows.size())) {
        if (item < 0)
            MessageBox("why ?", MB_OK);
        return;
    }
    const FolderRow& row = m_rows[static_cast<size_t>(item)];
    const bool admin = IsAdmin();
    const bool usb = IsUsb(item);
    if (row.type.rfind("NFS", 0) != 0)
        manage->AddLinkItem(IDS_OPEN_FOLDER);
    if (admin && !usb)
        manage->AddLinkItem(IDS_ADD_FOLDER);

    // The name, broken after 20 characters (as the eye counts them: a
    // surrogate pair or a letter with its accents stays whole).
    QString name = QString::fromStdString(row.text);
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, name);
    for (int count = 0; graphemes.toNextBoundary() != -1;) {
        if (++count == 20) {
            if (graphemes.position() < name.size())
                name.insert(graphemes.position(), '\n');
            break;
        }
    }
    detail->AddTextItem(name.toStdString())->SetBold(true);
    std::string allow = Trim(row.allow);
    allow = allow.empty() ? "ALL USER" : ReplaceAll(allow, ",", "\n        ");
    detail->AddTextItem("Location: " + Trim(row.location) + "\nType: " + Trim(row.type) + "\nAllow User:\n        " +
                        allow + "\n");
    if (!detail->IsExpandable() || !detail->IsExpanded()) {
        detail->SetExpandable(true);
        detail->SetExpanded(true);
    }

    if (IsMapped(item)) {
        manage->AddLinkItem(IDS_UNMOUNT_FOLDER);
    } else if (usb) {
        manage->AddLinkItem(IDS_REMOVE_USB);
    } else {
        if (admin) {
            manage->AddLinkItem(IDS_DELETE_FOLDER);
            manage->AddLinkItem(IDS_EDIT_FOLDER);
        }
        if (row.type.find("Samba") != std::string::npos)
            manage->AddLinkItem(IDS_MOUNT_FOLDER);
    }
    manage->AddLinkItem(IDS_REFRESH_FOLDERS);
}

void CListFolderView::OnTaskPanelLink(unsigned id)
{
    const int item = SelectedItem();
    switch (id) {
    case IDS_ADD_FOLDER: OnAddFolder(); break;
    case IDS_DELETE_FOLDER:
        if (item < 0)
            MessageBox("Please select an item.", MB_OK);
        else
            OnDelete();
        break;
    case IDS_EDIT_FOLDER:
        if (item < 0)
            MessageBox("Select an item please.", MB_OK);
        else
            OnEditFolder();
        break;
    case IDS_MOUNT_FOLDER:
        if (item < 0)
            MessageBox("Please select an item.", MB_OK);
        else
            OnMount();
        break;
    case IDS_UNMOUNT_FOLDER:
        if (item < 0)
            MessageBox("Please select an item.", MB_OK);
        else
            OnUnmount();
        break;
    case IDS_REFRESH_FOLDERS:
        // Only when no refresh is under way.
        if (!m_refreshWorker.Busy())
            RefreshFolderList();
        OnListClick(-1);
        break;
    case IDS_OPEN_FOLDER:
        if (item < 0)
            MessageBox("Please select an item.", MB_OK);
        else
            OnListDblClk(item);
        break;
    case IDS_REMOVE_USB:
        if (item < 0)
            MessageBox("Please select an item.", MB_OK);
        else
            OnRemoveUsb();
        break;
    default: break;
    }
}

Menu CListFolderView::ContextMenu(int item) const
{
    Menu menu;
    const bool admin = IsAdmin();
    const bool hit = item >= 0 && item < static_cast<int>(m_rows.size());
    if (hit && m_rows[static_cast<size_t>(item)].type.rfind("NFS", 0) != 0) {
        menu.push_back(MenuItem::Command(ID_FOLDER_OPEN, "&Open"));
        menu.push_back(MenuItem::Separator());
    }
    if (admin && !IsUsb(item))
        menu.push_back(MenuItem::Command(ID_FOLDER_ADD, "&Add Folder"));
    if (hit) {
        if (IsMapped(item)) {
            menu.push_back(MenuItem::Command(ID_FOLDER_UNMOUNT, "&Unmount"));
        } else if (IsUsb(item)) {
            menu.push_back(MenuItem::Command(ID_FOLDER_REMOVE_USB, "Remo&ve"));
        } else {
            if (admin) {
                menu.push_back(MenuItem::Command(ID_FOLDER_DELETE, "&Delete"));
                menu.push_back(MenuItem::Command(ID_FOLDER_EDIT, "&Edit"));
                menu.push_back(MenuItem::Separator());
            }
            if (m_rows[static_cast<size_t>(item)].type.find("Samba") != std::string::npos)
                menu.push_back(MenuItem::Command(ID_FOLDER_MOUNT, "M&ount"));
        }
    }
    menu.push_back(MenuItem::Popup(
        "Style", {MenuItem::Command(ID_FOLDER_ICON_STYLE, "&Icon_Style", m_viewStyle == "ICON"),
                  MenuItem::Command(ID_FOLDER_REPORT_STYLE, "&Report_Style", m_viewStyle == "REPORT")}));
    menu.push_back(MenuItem::Command(ID_FOLDER_REFRESH, "&Refresh"));
    return menu;
}

void CListFolderView::OnListRClick(int item)
{
    OnListClick(item);
    ShowPopupMenu(ContextMenu(item));
}

void CListFolderView::OnPageCommand(unsigned id)
{
    switch (id) {
    case ID_FOLDER_OPEN: OnListDblClk(SelectedItem()); break;
    case ID_FOLDER_ADD: OnAddFolder(); break;
    case ID_FOLDER_EDIT: OnEditFolder(); break;
    case ID_FOLDER_MOUNT: OnMount(); break;
    case ID_FOLDER_UNMOUNT: OnUnmount(); break;
    case ID_FOLDER_DELETE: OnDelete(); break;
    case ID_FOLDER_ICON_STYLE: OnIconStyle(); break;
    case ID_FOLDER_REPORT_STYLE: OnReportStyle(); break;
    case ID_FOLDER_REFRESH:
        RefreshFolderList();
        OnListClick(-1);
        break;
    case ID_FOLDER_REMOVE_USB: OnRemoveUsb(); break;
    default: break;
    }
}

void CListFolderView::OnIconStyle()
{
    if (m_viewStyle == "ICON")
        return;
    GetListCtrl()->SetView(ListCtrl::Icon);
    m_viewStyle = "ICON";
}

void CListFolderView::OnReportStyle()
{
    if (m_viewStyle == "REPORT")
        return;
    GetListCtrl()->SetView(ListCtrl::Report);
    m_viewStyle = "REPORT";
}

// ---------------------------------------------------------------------------
// Folder commands

bool CListFolderView::CheckDisksBehindPopup()
{
    return RunBehindPopup(this, m_modalWorker,
                          [login = CopyLogin()](const platform::JobControl&) { return CheckDeviceDisks(login); })
        .value_or(false);
}

void CListFolderView::OnAddFolder()
{
    if (!CheckDisksBehindPopup())
        return;
    int item = SelectedItem();
    CShareManagement dlg(this);
    dlg.SetFolderName(item >= 0 ? m_rows[static_cast<size_t>(item)].text : std::string());
    dlg.m_result = 0;
    dlg.DoModal(item >= 0 ? m_rows[static_cast<size_t>(item)].text : std::string(), kFolderActionAdd);
    if (dlg.m_result == kFolderSaved) {
        RefreshFolderList();
        ReselectByName(dlg.GetFolderName());
    }
}

void CListFolderView::OnEditFolder()
{
    int item = SelectedItem();
    if (item < 0)
        return;
    const FolderRow row = m_rows[static_cast<size_t>(item)];
    std::string name = BareFolderName(row.text);
    if (name == "share") {
        MessageBox(" \"share\" is system folder , can not be modify.", MB_OK);
        return;
    }
    CShareManagement dlg(this);
    dlg.m_result = 0;
    dlg.SetLocation(row.location);
    dlg.DoModal(name, kFolderActionEdit);
    RefreshFolderList();
    if (dlg.m_result == kFolderSaved)
        ReselectByName(dlg.GetFolderName());
}

void CListFolderView::OnDelete()
{
    int item = SelectedItem();
    if (item < 0)
        return;
    if (MessageBox("Are you sure to delete this folder", MB_OKCANCEL) != platform::IDOK)
        return;
    const FolderRow row = m_rows[static_cast<size_t>(item)];
    CPopDlg popup(this);
    FolderListing listing =
        m_modalWorker.RunModal<FolderListing>(popup, [row, login = CopyLogin()](const platform::JobControl& job) {
            job.Say("Deleting...Please wait..");
            return DeleteFolder(job, login, row);
        });
    if (m_modalWorker.Failed())
        return; // the list and its selection stay
    // A delete that stopped before the device was asked keeps the list.
    if (listing.refreshed)
        Fill(listing);
    OnListClick(-1);
}

void CListFolderView::OnListDblClk(int item)
{
    if (item < 0 || item >= static_cast<int>(m_rows.size()) || m_openWorker.Busy())
        return;
    const FolderRow row = m_rows[static_cast<size_t>(item)];
    if (!CheckDisksBehindPopup())
        return;
    GetListCtrl()->setFocus();
    // A refresh that ended meanwhile may have changed the rows.
    if (item >= static_cast<int>(m_rows.size()) || !(m_rows[static_cast<size_t>(item)] == row))
        return;
    m_openWorker.Start<OpenOutcome>(
        [row, login = CopyLogin()](const platform::JobControl&) { return OpenFolder(login, row); },
        [this, item, row](const OpenOutcome& outcome) {
            UnmarkDroppedLetters(outcome.droppedLetters);
            if (outcome.refresh) {
                RefreshFolderList();
                return;
            }
            if (outcome.updated && item < static_cast<int>(m_rows.size()) && m_rows[static_cast<size_t>(item)] == row)
                SetRow(item, outcome.row);
            if (outcome.focusList)
                GetListCtrl()->setFocus();
        });
}

void CListFolderView::OnMount()
{
    const int item = SelectedItem();
    std::optional<FolderRow> selected;
    if (item >= 0)
        selected = m_rows[static_cast<size_t>(item)];
    const std::optional<MountPreparation> prepared =
        RunBehindPopup(this, m_modalWorker, [selected, login = CopyLogin()](const platform::JobControl&) {
            if (!CheckDeviceDisks(login) || !selected)
                return MountPreparation{};
            return PrepareMount(login, *selected);
        });
    if (!prepared || !selected)
        return;
    const MountPreparation& prep = *prepared;
    if (prep.refresh) {
        RefreshFolderList();
        return;
    }
    if (prep.updated)
        SetRow(item, prep.row);
    UnmarkDroppedLetters(prep.droppedLetters);
    if (!prep.proceed)
        return;
    GetListCtrl()->setFocus();
    const std::string letter = AskDriveLetter(this, prep.unc);
    int rc = -1;
    std::string reason;
    if (!letter.empty()) {
        const std::optional<int> connected = RunBehindPopup(
            this, m_modalWorker, [unc = prep.unc, letter, &reason, login = CopyLogin()](const platform::JobControl&) {
                const int code = ConnectAsLoginUser(login, unc, letter);
                reason = platform::NetErrorText(code);
                return code;
            });
        if (!connected)
            return; // the row stays as it was
        rc = *connected;
    }
    if (rc != 0 && rc != -1) {
        char text[64];
        std::snprintf(text, sizeof text, "Mount error  %d.", rc);
        MessageBox(std::string(text) + "\nCould not map " + prep.unc + " to " + letter + " (" + reason + ").", MB_OK);
    } else if (rc == 0 && item < static_cast<int>(m_rows.size())) {
        char mark[4];
        std::snprintf(mark, sizeof mark, "%c:", std::toupper(static_cast<unsigned char>(letter[0])));
        FolderRow row = m_rows[static_cast<size_t>(item)];
        row.text = StripDriveMarker(row.text) + " <" + mark + ">";
        row.image = kFolderImageMapped;
        SetRow(item, row);
    }
    if (prep.state == kConnectedOtherUser)
        RefreshFolderList();
    const std::string name = BareFolderName(selected->text);
    for (size_t i = 0; i < m_rows.size(); ++i) {
        std::string text = m_rows[i].text;
        size_t blank = text.find(" <");
        if (BareFolderName(text.substr(0, blank)) == name && m_rows[i].location == prep.row.location) {
            SelectRow(static_cast<int>(i));
            break;
        }
    }
}

void CListFolderView::UnmarkDroppedLetters(const std::vector<std::string>& letters)
{
    for (size_t i = 0; i < m_rows.size(); ++i) {
        for (const std::string& letter : letters) {
            if (m_rows[i].text.find(" <" + letter + ">") != std::string::npos) {
                FolderRow r = m_rows[i];
                UnmarkRow(r);
                SetRow(static_cast<int>(i), r);
            }
        }
    }
}

void CListFolderView::OnUnmount()
{
    int item = SelectedItem();
    if (item < 0)
        return;
    FolderRow row = m_rows[static_cast<size_t>(item)];
    const std::optional<bool> unmapped =
        RunBehindPopup(this, m_modalWorker,
                       [row, login = CopyLogin()](const platform::JobControl&) { return UnmapFolder(login, row); });
    if (unmapped.value_or(false)) {
        UnmarkRow(row);
        SetRow(item, row); // rebuilds the selected row's panel
    } else {
        OnListItemSelected(item);
    }
}

void CListFolderView::OnRemoveUsb()
{
    int item = SelectedItem();
    if (item < 0) {
        MessageBox("Please select an item!", MB_OK);
        return;
    }
    if (MessageBox("Are you sure to remove USB.", MB_OKCANCEL) != platform::IDOK)
        return;
    const std::string text = m_rows[static_cast<size_t>(item)].text;
    const std::optional<UsbEject> outcome =
        RunBehindPopup(this, m_modalWorker,
                       [text, login = CopyLogin()](const platform::JobControl&) { return EjectUsbDisk(login, text); });
    // A disk that is gone from the device (ejected, or pulled meanwhile)
    // leaves the list; nothing changes when the eject broke off.
    if (outcome && *outcome != UsbEject::Failed) {
        RefreshFolderList();
        OnListClick(-1);
    }
}
