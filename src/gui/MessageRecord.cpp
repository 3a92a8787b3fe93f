#include "MessageRecord.h"

using namespace platform::gui;

CMessageRecordItemCheck::CMessageRecordItemCheck(bool checked)
{
    HasCheckbox(true);
    SetChecked(checked);
}

int CMessageRecordItemCheck::Compare(const ReportRecordItem& other) const
{
    return (IsChecked() ? 1 : 0) - (other.IsChecked() ? 1 : 0);
}

CMessageRecord::CMessageRecord(const std::string& text, bool checked)
{
    AddItem(new ReportRecordItemText(text));
    AddItem(new CMessageRecordItemCheck(checked));
}
