#pragma once
// The row of the report control with a text and a check box: the users and
// groups that may use a shared folder, ticked by the administrator.
#include <string>

#include "ReportControl.h"

class CMessageRecordItemCheck : public platform::gui::ReportRecordItem {
public:
    explicit CMessageRecordItemCheck(bool checked);
    // Unchecked sorts before checked.
    int Compare(const platform::gui::ReportRecordItem& other) const override;
    unsigned GetGroupCaptionID() const override { return IsChecked() ? 2004 : 2005; }
};

class CMessageRecord : public platform::gui::ReportRecord {
public:
    CMessageRecord(const std::string& text, bool checked);
};
