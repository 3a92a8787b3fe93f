#include "ReportControl.h"

#include "LeafAccessible.h"

#include <QAccessibleWidget>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPointer>
#include <algorithm>
#include <map>

namespace platform::gui {
namespace {

// A cell of the report, or (row -1) a column heading, as assistive tools see
// it. The children are numbered as the view numbers them in its own
// accessibility events: the headings first, then the rows' cells.
class ReportCellAccessible : public LeafAccessible<ReportControl>, public QAccessibleActionInterface {
public:
    ReportCellAccessible(ReportControl* report, int row, int column)
        : LeafAccessible(report)
        , m_row(row)
        , m_column(column)
    {}
    bool isValid() const override
    {
        return m_owner && m_row < m_owner->topLevelItemCount() && m_column < m_owner->columnCount();
    }
    // A cell with a box is a check box: readers say "not checked" only of
    // check boxes, and nothing of an unticked cell.
    QAccessible::Role role() const override
    {
        if (m_row < 0)
            return QAccessible::ColumnHeader;
        return isValid() && Checkable() ? QAccessible::CheckBox : QAccessible::Cell;
    }
    QString text(QAccessible::Text t) const override
    {
        if (!isValid() || t != QAccessible::Name)
            return {};
        QString heading = m_owner->headerItem()->text(m_column).simplified();
        if (m_row < 0)
            return heading;
        const QTreeWidgetItem* row = Row();
        QString text = row->text(m_column).simplified();
        // A cell that shows only a box is named by its column and its row.
        if (text.isEmpty() && Checkable())
            return QString("%1 %2").arg(heading, row->text(0).simplified()).trimmed();
        return text;
    }
    QRect rect() const override
    {
        if (!isValid())
            return {};
        if (m_row < 0) {
            const QHeaderView* header = m_owner->header();
            const QRect r(header->sectionViewportPosition(m_column), 0, header->sectionSize(m_column),
                          header->height());
            return {header->viewport()->mapToGlobal(r.topLeft()), r.size()};
        }
        const QRect r = m_owner->visualItemRect(Row());
        const int left = m_owner->header()->sectionViewportPosition(m_column);
        const QRect cell(left, r.top(), m_owner->columnWidth(m_column), r.height());
        return {m_owner->viewport()->mapToGlobal(cell.topLeft()), cell.size()};
    }
    QAccessible::State state() const override
    {
        QAccessible::State st;
        if (!isValid() || m_row < 0)
            return st;
        const QTreeWidgetItem* row = Row();
        st.selectable = true;
        st.focusable = true;
        st.selected = row->isSelected();
        st.focused = m_owner->hasFocus() && m_owner->currentItem() == row && m_owner->currentColumn() == m_column;
        st.checkable = Checkable();
        st.checked = st.checkable && row->checkState(m_column) == Qt::Checked;
        st.invisible = !m_owner->isVisible() || row->isHidden();
        return st;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface && m_row >= 0 ? static_cast<QAccessibleActionInterface*>(this)
                                                                  : nullptr;
    }
    QStringList actionNames() const override { return {toggleAction()}; }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
    void doAction(const QString& name) override
    {
        if (!isValid() || m_row < 0 || name != toggleAction())
            return;
        QTreeWidgetItem* row = Row();
        if (Checkable()) {
            ReportControl::ToggleCheck(row, m_column);
        } else {
            // A click on the cell: the row becomes the selected one.
            m_owner->setCurrentItem(row, m_column);
        }
    }

private:
    QTreeWidgetItem* Row() const { return m_owner->topLevelItem(m_row); }
    bool Checkable() const { return Row()->data(m_column, Qt::CheckStateRole).isValid(); }

    int m_row;
    int m_column;
};

class ReportAccessible : public QAccessibleWidget {
public:
    explicit ReportAccessible(ReportControl* report) : QAccessibleWidget(report, QAccessible::Table) {}
    ~ReportAccessible() override
    {
        for (const auto& [cell, id] : m_cells)
            QAccessible::deleteAccessibleInterface(id);
    }
    ReportAccessible(const ReportAccessible&) = delete;
    ReportAccessible& operator=(const ReportAccessible&) = delete;

    int childCount() const override { return (Report()->topLevelItemCount() + HeaderRows()) * Columns(); }
    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        const std::pair<int, int> cell(index / Columns() - HeaderRows(), index % Columns());
        QAccessible::Id& id = m_cells[cell];
        if (id == 0)
            id = QAccessible::registerAccessibleInterface(new ReportCellAccessible(Report(), cell.first, cell.second));
        return QAccessible::accessibleInterface(id);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (const auto& [cell, id] : m_cells)
            if (QAccessible::accessibleInterface(id) == child)
                return (cell.first + HeaderRows()) * Columns() + cell.second;
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const ReportControl* report = Report();
        const QPoint at = report->viewport()->mapFromGlobal(QPoint(x, y));
        const QModelIndex index = report->indexAt(at);
        if (!index.isValid())
            return nullptr;
        return child((index.row() + HeaderRows()) * Columns() + index.column());
    }

private:
    ReportControl* Report() const { return static_cast<ReportControl*>(widget()); }
    int Columns() const { return std::max(1, Report()->columnCount()); }
    int HeaderRows() const { return Report()->isHeaderHidden() ? 0 : 1; }

    mutable std::map<std::pair<int, int>, QAccessible::Id> m_cells; // (row, column), row -1 the headings
};

QAccessibleInterface* ReportFactory(const QString&, QObject* object)
{
    if (auto* report = qobject_cast<ReportControl*>(object))
        return new ReportAccessible(report);
    return nullptr;
}

} // namespace

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
    static const bool factory = (QAccessible::installFactory(ReportFactory), true);
    (void)factory;
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

int ReportControl::CheckColumn(const QTreeWidgetItem* row)
{
    for (int column = 0; row != nullptr && column < row->columnCount(); ++column)
        if (row->data(column, Qt::CheckStateRole).isValid())
            return column;
    return -1;
}

void ReportControl::ToggleCheck(QTreeWidgetItem* row, int column)
{
    if ((row->flags() & Qt::ItemIsUserCheckable) && (row->flags() & Qt::ItemIsEnabled))
        row->setCheckState(column, row->checkState(column) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

void ReportControl::keyPressEvent(QKeyEvent* event)
{
    // Space ticks the selected row's box, wherever the cursor is in the row;
    // with none selected (just tabbed into), the current row's, selecting it.
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        QTreeWidgetItem* row = selectedItems().value(0);
        if (row == nullptr && currentItem() != nullptr) {
            row = currentItem();
            row->setSelected(true);
        }
        const int column = CheckColumn(row);
        if (column >= 0) {
            ToggleCheck(row, column);
            event->accept();
            return;
        }
    }
    QTreeWidget::keyPressEvent(event);
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
