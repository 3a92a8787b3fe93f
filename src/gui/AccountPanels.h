#pragma once
// What the user and the group dialog share: the set-up and rows of their
// device list, and the quota fields of their edit face.
#include <QString>
#include <QStringList>
#include <initializer_list>
#include <string>

#include "QuotaForm.h"

class QCheckBox;
class QLineEdit;
class QRadioButton;
class QWidget;
namespace platform::gui {
class ListBox;
class ListCtrl;
} // namespace platform::gui

struct ListColumn {
    const char* heading;
    int width;
};
// Names the list and both its views for assistive tools.
void NameAccountList(platform::gui::ListCtrl* list, const QString& name);
// Report view with full-row selection, and the columns (left-aligned) unless
// the list has some already.
void SetUpAccountList(platform::gui::ListCtrl* list, std::initializer_list<ListColumn> columns);
// Appends a row: the first text in the first column, the others after it.
void AddAccountRow(platform::gui::ListCtrl* list, std::initializer_list<std::string> texts);
// The last row whose first column reads name, or -1.
int FindAccountRow(const platform::gui::ListCtrl* list, const std::string& name);

// Takes the first entry (from the end) reading text out of box, if any.
void RemoveBoxText(platform::gui::ListBox* box, const QString& text);
// Moves the selected entries of from to the end of to, wherever the current
// item is (an assistive tool selects a row without moving it); their texts in
// order, none when nothing was selected.
QStringList MoveSelectedEntries(platform::gui::ListBox* from, platform::gui::ListBox* to);

// The quota section of a user or group edit face.
struct QuotaFields {
    QRadioButton* enable;
    QCheckBox* remove;
    QLineEdit* disk1;
    QWidget* disk1Label;
    QLineEdit* disk2;
    QWidget* disk2Label;

    // The fields of a dialog template's quota section.
    template <class Ui> static QuotaFields Of(const Ui& ui)
    {
        return {ui.quotaEnable, ui.quotaRemove, ui.disk1Quota, ui.disk1QuotaLabel, ui.disk2Quota, ui.disk2QuotaLabel};
    }
    // Each disk's field and label usable while on holds and the disk takes
    // a quota.
    void Enable(const DiskQuotaInfo& disks, bool on) const;
    // What the section holds; remove as its box is checked.
    QuotaInput Read() const;
};
