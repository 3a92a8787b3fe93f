#pragma once
// The report control: rows (records) of items in columns; an item may carry
// a check box that the user ticks. The control owns its records and the
// records own their items. Sorting by a column is stable and uses the items'
// own comparison. Space ticks or clears the selected row's check box (the
// current row's when none is selected); to assistive tools a cell with a
// check box is a check box named by its column and row, and its Toggle ticks
// it, while Toggle on another cell selects the row.
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

namespace platform::gui {

class ReportRecordItem {
public:
    virtual ~ReportRecordItem() = default;
    virtual std::string GetCaption() const { return {}; }
    // Negative, 0 or positive as this item sorts before, with or after other.
    virtual int Compare(const ReportRecordItem& other) const;
    // String id of the caption of a group of this item's value; 0 none.
    virtual unsigned GetGroupCaptionID() const { return 0; }

    void HasCheckbox(bool has) { m_hasCheckbox = has; }
    bool GetHasCheckbox() const { return m_hasCheckbox; }
    void SetChecked(bool checked) { m_checked = checked; }
    bool IsChecked() const { return m_checked; }

private:
    bool m_hasCheckbox = false;
    bool m_checked = false;
};

class ReportRecordItemText : public ReportRecordItem {
public:
    explicit ReportRecordItemText(std::string text) : m_text(std::move(text)) {}
    std::string GetCaption() const override { return m_text; }
    void SetValue(std::string text) { m_text = std::move(text); }

private:
    std::string m_text;
};

class ReportRecord {
public:
    virtual ~ReportRecord() = default;
    // Takes ownership; returns the item.
    ReportRecordItem* AddItem(ReportRecordItem* item);
    ReportRecordItem* GetItem(int index) const;
    int GetItemCount() const { return static_cast<int>(m_items.size()); }

private:
    std::vector<std::unique_ptr<ReportRecordItem>> m_items;
};

class ReportControl : public QTreeWidget {
    Q_OBJECT
public:
    explicit ReportControl(QWidget* parent = nullptr);
    ~ReportControl() override;

    int AddColumn(const std::string& caption, int width);
    // Takes ownership of the record; shown after Populate.
    ReportRecord* AddRecord(ReportRecord* record);
    void RemoveAllRecords();
    int GetRecordCount() const { return static_cast<int>(m_records.size()); }
    ReportRecord* GetRecord(int index) const;

    // Rebuilds the rows from the records in the current sort order.
    void Populate();
    // Stable sort of the records by the items of a column; -1 = order added.
    void SortBy(int column, bool ascending);
    // The record shown in a row (after Populate), nullptr when none.
    ReportRecord* RecordOfRow(int row) const;

    // The first column of a row that holds a check box, -1 when none.
    static int CheckColumn(const QTreeWidgetItem* row);
    // Ticks or clears the box of a cell, as a click on it does.
    static void ToggleCheck(QTreeWidgetItem* row, int column);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnItemChanged(QTreeWidgetItem* item, int column);
    std::vector<std::unique_ptr<ReportRecord>> m_records;
    std::vector<ReportRecord*> m_order;
    int m_sortColumn = -1;
    bool m_ascending = true;
    bool m_populating = false;
};

} // namespace platform::gui
