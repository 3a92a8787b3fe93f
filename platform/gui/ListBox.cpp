#include "ListBox.h"

#include <QItemSelectionModel>
#include <QStandardItemModel>
#include <algorithm>

namespace platform::gui {

ListBox::ListBox(QWidget* parent) : QListView(parent), m_model(new QStandardItemModel(0, 1, this))
{
    m_model->setHorizontalHeaderItem(0, new QStandardItem);
    setModel(m_model);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

QString ListBox::Heading() const { return m_model->horizontalHeaderItem(0)->text(); }

void ListBox::SetHeading(const QString& heading) { m_model->horizontalHeaderItem(0)->setText(heading); }

int ListBox::GetCount() const { return m_model->rowCount(); }

QString ListBox::GetText(int row) const
{
    const QStandardItem* item = m_model->item(row);
    return item != nullptr ? item->text() : QString();
}

int ListBox::AddString(const QString& text)
{
    auto* item = new QStandardItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    m_model->appendRow(item);
    return m_model->rowCount() - 1;
}

void ListBox::DeleteString(int row)
{
    if (row >= 0 && row < m_model->rowCount())
        m_model->removeRow(row);
}

void ListBox::ResetContent() { m_model->removeRows(0, m_model->rowCount()); }

int ListBox::FindStringExact(const QString& text) const
{
    for (int row = 0; row < m_model->rowCount(); ++row)
        if (m_model->item(row)->text() == text)
            return row;
    return -1;
}

std::vector<int> ListBox::GetSelItems() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void ListBox::SetCurSel(int row)
{
    if (row < 0 || row >= m_model->rowCount()) {
        selectionModel()->clear();
        return;
    }
    selectionModel()->setCurrentIndex(m_model->index(row, 0), QItemSelectionModel::ClearAndSelect);
}

bool ListBox::IsSelected(int row) const
{
    return row >= 0 && row < m_model->rowCount() && selectionModel()->isSelected(m_model->index(row, 0));
}

} // namespace platform::gui
