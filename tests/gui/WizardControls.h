#pragma once
// Reading the disk set-up wizard's controls in its tests.
#include <QLabel>
#include <QPushButton>
#include <string>

#include "SetupWizardDlg.h"

// The text of a label or button of the wizard; "<none>" for anything else.
inline std::string LabelText(CSetupWizardDlg& d, int id)
{
    QWidget* w = d.GetDlgItem(id);
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text().toStdString();
    if (auto* button = qobject_cast<QPushButton*>(w))
        return button->text().toStdString();
    return "<none>";
}

inline QPushButton* Button(CSetupWizardDlg& d, int id) { return qobject_cast<QPushButton*>(d.GetDlgItem(id)); }
