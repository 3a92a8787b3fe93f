#include "AccountPanels.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QRadioButton>
#include <QTreeView>

#include "ListCtrl.h"

using platform::gui::ListCtrl;

void NameAccountList(ListCtrl* list, const QString& name)
{
    list->setAccessibleName(name);
    list->ReportView()->setAccessibleName(name);
    list->IconView()->setAccessibleName(name);
}

void SetUpAccountList(ListCtrl* list, std::initializer_list<ListColumn> columns)
{
    list->SetView(ListCtrl::Report);
    list->SetFullRowSelect(true);
    if (list->GetColumnCount() != 0)
        return;
    int at = 0;
    for (const ListColumn& column : columns)
        list->InsertColumn(at++, column.heading, Qt::AlignLeft, column.width);
}

void AddAccountRow(ListCtrl* list, std::initializer_list<std::string> texts)
{
    int row = -1;
    int column = 0;
    for (const std::string& text : texts) {
        if (column == 0)
            row = list->InsertItem(list->GetItemCount(), text);
        else
            list->SetItemText(row, column, text);
        ++column;
    }
}

int FindAccountRow(const ListCtrl* list, const std::string& name)
{
    for (int r = list->GetItemCount() - 1; r >= 0; --r)
        if (list->GetItemText(r, 0) == name)
            return r;
    return -1;
}

void RemoveBoxText(QListWidget* box, const QString& text)
{
    for (int i = box->count() - 1; i >= 0; --i)
        if (box->item(i)->text() == text) {
            delete box->takeItem(i);
            return;
        }
}

QStringList MoveSelectedEntries(QListWidget* from, QListWidget* to)
{
    QStringList moved;
    const QList<QListWidgetItem*> chosen = from->selectedItems();
    if (chosen.isEmpty())
        return moved;
    for (QListWidgetItem* item : chosen) {
        moved.append(item->text());
        to->addItem(item->text());
        delete from->takeItem(from->row(item));
    }
    from->clearSelection();
    from->setCurrentRow(-1);
    return moved;
}

void QuotaFields::Enable(const DiskQuotaInfo& disks, bool on) const
{
    const bool one = on && disks.Disk1Usable();
    const bool two = on && disks.Disk2Usable();
    disk1->setEnabled(one);
    disk1Label->setEnabled(one);
    disk2->setEnabled(two);
    disk2Label->setEnabled(two);
}

QuotaInput QuotaFields::Read() const
{
    QuotaInput in;
    in.enabled = enable->isChecked();
    in.remove = remove->isChecked();
    in.disk1 = disk1->text().toStdString();
    in.disk2 = disk2->text().toStdString();
    return in;
}
