#include "AccountPanels.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListView>
#include <QRadioButton>
#include <QTreeView>

#include "ListBox.h"
#include "ListCtrl.h"

using platform::gui::ListBox;
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

void RemoveBoxText(ListBox* box, const QString& text)
{
    for (int i = box->GetCount() - 1; i >= 0; --i)
        if (box->GetText(i) == text) {
            box->DeleteString(i);
            return;
        }
}

QStringList MoveSelectedEntries(ListBox* from, ListBox* to)
{
    QStringList moved;
    const std::vector<int> chosen = from->GetSelItems();
    for (int row : chosen) {
        moved.append(from->GetText(row));
        to->AddString(moved.back());
    }
    // From the last, so that the rows still to go keep their numbers.
    for (auto row = chosen.rbegin(); row != chosen.rend(); ++row)
        from->DeleteString(*row);
    from->SetCurSel(-1);
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
