#pragma once
// The share-folder page: the device's share folders and USB disks and which
// of them this PC has mapped to drive letters. An administrator adds, edits
// and deletes folders here; every user opens, maps and unmaps them and ejects
// USB disks. The device work runs in the core (FolderTable) on the page's
// workers; the page shows the rows it gets back.
#include <string>
#include <vector>

#include "FolderTable.h"
#include "PageView.h"
#include "Resources.h"
#include "Worker.h"

// Task-panel links (string ids) and groups.
enum : unsigned {
    IDS_FOLDER_DETAIL = 105,
    IDS_FOLDER_MANAGEMENT = 708,
    IDS_ADD_FOLDER = 709,
    IDS_DELETE_FOLDER = 710,
    IDS_EDIT_FOLDER = 711,
    IDS_MOUNT_FOLDER = 712,
    IDS_UNMOUNT_FOLDER = 713,
    IDS_REFRESH_FOLDERS = 714,
    IDS_OPEN_FOLDER = 719,
    IDS_REMOVE_USB = 734,
};

// Popup menu commands.
enum : unsigned {
    ID_FOLDER_ADD = 1000,
    ID_FOLDER_EDIT = 1001,
    ID_FOLDER_MOUNT = 1002,
    ID_FOLDER_UNMOUNT = 1003,
    ID_FOLDER_DELETE = 1004,
    ID_FOLDER_ICON_STYLE = 1005,
    ID_FOLDER_REPORT_STYLE = 1006,
    ID_FOLDER_REFRESH = 1007,
    ID_FOLDER_OPEN = 1008,
    ID_FOLDER_REMOVE_USB = 1009,
};

class CListFolderView : public CPageView {
    Q_OBJECT
public:
    explicit CListFolderView(QWidget* parent = nullptr);
    ~CListFolderView() override;

    // The hooks of the page base.
    void Refresh() override;
    bool StopRefresh() override;
    void OnTaskPanelLink(unsigned id) override;
    void OnListRClick(int item) override;
    void OnListItemSelected(int item) override;
    void OnListDblClk(int item) override;
    void OnListClick(int item) override;
    void OnPageCommand(unsigned id) override;

    // A refresh that the caller waits for (the GUI stays live meanwhile).
    void RefreshFolderList();
    void OnAddFolder();
    void OnEditFolder();
    void OnDelete();
    void OnMount();
    void OnUnmount();
    void OnRemoveUsb();
    void OnIconStyle();
    void OnReportStyle();

    // The popup menu for a row (-1: none hit), as it is shown.
    platform::gui::Menu ContextMenu(int item) const;
    const std::string& GetViewStyle() const { return m_viewStyle; }
    const std::vector<FolderRow>& Rows() const { return m_rows; }
    int SelectedItem() const;
    // Whether a refresh, delete or open job is still under way.
    bool Busy() const;
    // Waits (running events) until no job of the page runs.
    bool WaitIdle(int waitMs);

protected:
    void DoDataExchange() override;
    void OnInitialUpdate() override;

private:
    // CheckDeviceDisks on the modal worker behind the busy popup.
    bool CheckDisksBehindPopup();
    void StartRefresh();
    void Fill(const FolderListing& listing);
    // The task panel shows the selected row's links and details, or the
    // page's own links when no row is selected (as after every refresh).
    void PanelFollowsSelection();
    void SetRow(int item, const FolderRow& row);
    // Rows mapped to drive letters that were dropped show their bare name again.
    void UnmarkDroppedLetters(const std::vector<std::string>& letters);
    void SelectRow(int item);
    void ReselectByName(const std::string& name);
    bool IsAdmin() const;
    bool IsMapped(int item) const;
    bool IsUsb(int item) const;

    std::string m_viewStyle = "ICON";
    std::vector<FolderRow> m_rows;       // one per list row
    std::vector<FolderRow> m_rowsBefore; // the rows when the running refresh started
    platform::gui::Worker m_refreshWorker;
    platform::gui::Worker m_modalWorker; // delete, mount, unmount and USB eject behind the busy popup
    platform::gui::Worker m_openWorker;
};
