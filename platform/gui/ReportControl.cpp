#include "ReportControl.h"

#include <QHeaderView>
#include <algorithm>

namespace platform::gui {

int ReportRecordItem::Compare(const ReportRecordItem& other) const { return GetCaption().compare(other.GetCaption()); }

ReportRecordItem* ReportRecord::AddItem(ReportRecordItem* item)
{
    m_items.emplace_back(item);
    return item;
}

ReportRecordItem* ReportRecord::GetItem(int index) const
{
    if (index < 0 || index >= GetItemCount())
        return nullptr;
    return m_items[static_cast<size_t>(index)].get();
}

ReportControl::ReportControl(QWidget* parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setColumnCount(0);
    setSelectionMode(QAbstractItemView::SingleSelection);
    header()->setSectionsClickable(true);
    header()->setStretchLastSection(true);
    connect(this, &QTreeWidget::itemChanged, this, &ReportControl::OnItemChanged);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int column) {
        SortBy(column, column == m_sortColumn ? !m_ascending : true);
        Populate();
    });
}

ReportControl::~ReportControl() = default;

int ReportControl::AddColumn(const std::string& caption, int width)
{
    int column = columnCount();
    setColumnCount(column + 1);
    QTreeWidgetItem* head = headerItem();
    head->setText(column, QString::fromStdString(caption));
    setColumnWidth(column, width);
    return column;
}

ReportRecord* ReportControl::AddRecord(ReportRecord* record)
{
    m_records.emplace_back(record);
    m_order.push_back(record);
    return record;
}

void ReportControl::RemoveAllRecords()
{
    clear();
    m_order.clear();
    m_records.clear();
}

ReportRecord* ReportControl::GetRecord(int index) const
{
    if (index < 0 || index >= GetRecordCount())
        return nullptr;
    return m_records[static_cast<size_t>(index)].get();
}

void ReportControl::SortBy(int column, bool ascending)
{
    m_sortColumn = column;
    m_ascending = ascending;
    m_order.clear();
    for (const auto& record : m_records)
        m_order.push_back(record.get());
    if (column < 0)
        return;
    std::stable_sort(m_order.begin(), m_order.end(), [column, ascending](ReportRecord* a, ReportRecord* b) {
        ReportRecordItem* x = a->GetItem(column);
        ReportRecordItem* y = b->GetItem(column);
        if (x == nullptr || y == nullptr)
            return x == nullptr && y != nullptr;
        int c = x->Compare(*y);
        return ascending ? c < 0 : c > 0;
    });
}

void ReportControl::Populate()
{
    m_populating = true;
    clear();
    for (ReportRecord* record : m_order) {
        auto* row = new QTreeWidgetItem(this);
        for (int i = 0; i < record->GetItemCount() && i < columnCount(); ++i) {
            ReportRecordItem* item = record->GetItem(i);
            row->setText(i, QString::fromStdString(item->GetCaption()));
            if (item->GetHasCheckbox()) {
                row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
                row->setCheckState(i, item->IsChecked() ? Qt::Checked : Qt::Unchecked);
            }
        }
    }
    m_populating = false;
}

ReportRecord* ReportControl::RecordOfRow(int row) const
{
    if (row < 0 || row >= static_cast<int>(m_order.size()) || row >= topLevelItemCount())
        return nullptr;
    return m_order[static_cast<size_t>(row)];
}

void ReportControl::OnItemChanged(QTreeWidgetItem* row, int column)
{
    if (m_populating)
        return;
    ReportRecord* record = RecordOfRow(indexOfTopLevelItem(row));
    if (record == nullptr)
        return;
    ReportRecordItem* item = record->GetItem(column);
    if (item != nullptr && item->GetHasCheckbox())
        item->SetChecked(row->checkState(column) == Qt::Checked);
}

} // namespace platform::gui
