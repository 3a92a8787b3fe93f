#pragma once
// The System Log page: what the program did since it started (tasks added,
// edited and deleted, backups, restores, scheduled backups), one row each,
// with the run's result file where there is one. The main window adds the
// rows; the page opens a row's result file, clears the list and saves it as
// a text file. Nothing is kept after the program ends unless it is saved.
#include <string>

#include "PageView.h"

class CQUOMLOG_PAGE : public CPageView {
    Q_OBJECT
public:
    enum : unsigned {
        ID_LOG_SHOW_DETAIL = 40028,
        ID_LOG_CLEAR_ALL = 40029,
        IDS_LOG_MANAGE = 729,
        IDS_SHOW_LOG_DETAIL = 730,
        IDS_CLEAR_ALL_LOG = 731,
        IDS_TIPS = 732,
        IDS_SAVE_LOGS = 733,
    };
    // List columns.
    enum : int { COL_NUMBER = 0, COL_TIME = 1, COL_TYPE = 2, COL_DESCRIPTION = 3, COL_FILE_PATH = 4 };

    explicit CQUOMLOG_PAGE(QWidget* parent = nullptr);
    ~CQUOMLOG_PAGE() override;

    void OnTaskPanelLink(unsigned id) override;
    void OnListRClick(int item) override;
    void OnListItemSelected(int item) override;
    void OnListDblClk(int item) override;
    void OnListClick(int item) override;
    void OnPageCommand(unsigned id) override;

    void RebuildTaskPanel();
    void ShowDetail(int row);
    void ClearAll();
    void SaveLogs();
    // Writes the rows as "Time: ...\t Description: ...\r\n" lines, the whole
    // file or nothing; false (errno set) when it could not be written.
    bool WriteLogFile(const std::string& path) const;

protected:
    void OnInitialUpdate() override;

private:
    std::string RowFilePath(int row) const;
};
