#include "ProgressListCtrl.h"

#include "MessageTarget.h"

#include <QEvent>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QTreeView>

namespace {
constexpr int kHolderRole = Qt::UserRole + 3;
}

CProgressListItem::CProgressListItem(int column, QWidget* parent) : m_column(column)
{
    m_progress = new QProgressBar(parent);
    m_progress->setRange(0, 100);
    m_progress->setTextVisible(false);
    m_progress->show();
}

CProgressListItem::~CProgressListItem() { delete m_progress; }

CProgressListCtrl::CProgressListCtrl(QWidget* parent) : ListCtrl(parent)
{
    SetView(Report);
    ReportView()->viewport()->installEventFilter(this);
}

CProgressListCtrl::~CProgressListCtrl()
{
    for (int row = 0; row < GetItemCount(); ++row)
        delete Holder(row);
}

CProgressListItem* CProgressListCtrl::Holder(int row) const
{
    if (row < 0 || row >= GetItemCount())
        return nullptr;
    QStandardItem* item = Model()->item(row, 0);
    return item ? static_cast<CProgressListItem*>(item->data(kHolderRole).value<void*>()) : nullptr;
}

void CProgressListCtrl::SetItemProgress(int row, int column, int pos)
{
    platform::gui::RequireGuiThread("CProgressListCtrl::SetItemProgress");
    if (row < 0 || row >= GetItemCount())
        return;
    CProgressListItem* holder = Holder(row);
    QRect cell = ReportView()->visualRect(ModelIndex(row, column));
    if (holder == nullptr) {
        holder = new CProgressListItem(column, ReportView()->viewport());
        Model()->item(row, 0)->setData(QVariant::fromValue<void*>(holder), kHolderRole);
    } else {
        holder->m_column = column;
    }
    holder->m_progress->setGeometry(cell);
    holder->m_progress->setValue(pos);
}

void CProgressListCtrl::SetProgress(int row, int pos)
{
    platform::gui::RequireGuiThread("CProgressListCtrl::SetProgress");
    if (CProgressListItem* holder = Holder(row))
        holder->m_progress->setValue(pos);
}

QProgressBar* CProgressListCtrl::GetProgressBar(int row) const
{
    CProgressListItem* holder = Holder(row);
    return holder ? holder->m_progress : nullptr;
}

int CProgressListCtrl::GetProgressColumn(int row) const
{
    CProgressListItem* holder = Holder(row);
    return holder ? holder->m_column : -1;
}

bool CProgressListCtrl::DeleteItem(int row)
{
    platform::gui::RequireGuiThread("CProgressListCtrl::DeleteItem");
    if (row < 0 || row >= GetItemCount())
        return false;
    delete Holder(row);
    return ListCtrl::DeleteItem(row);
}

bool CProgressListCtrl::DeleteAllItems()
{
    platform::gui::RequireGuiThread("CProgressListCtrl::DeleteAllItems");
    for (int row = 0; row < GetItemCount(); ++row)
        delete Holder(row);
    return ListCtrl::DeleteAllItems();
}

void CProgressListCtrl::PlaceBars()
{
    for (int row = 0; row < GetItemCount(); ++row)
        if (CProgressListItem* holder = Holder(row))
            holder->m_progress->setGeometry(ReportView()->visualRect(ModelIndex(row, holder->m_column)));
}

bool CProgressListCtrl::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ReportView()->viewport() && event->type() == QEvent::Paint)
        PlaceBars();
    return ListCtrl::eventFilter(watched, event);
}
