#pragma once
// The day list of the schedule forms (the task wizard's schedule step and the
// schedule page): none for a daily run, the weekdays for a weekly one, the
// days 1-31 for a monthly one, the first chosen.
#include <QComboBox>
#include <QString>
#include <QWidget>

#include "Schedule.h"

enum class ScheduleRepeat { Daily, Weekly, Monthly };

inline void ShowScheduleDays(QWidget* executeTime, QComboBox* dayCombo, ScheduleRepeat repeat)
{
    executeTime->setEnabled(true);
    dayCombo->setEnabled(repeat != ScheduleRepeat::Daily);
    dayCombo->clear();
    if (repeat == ScheduleRepeat::Daily)
        return;
    if (repeat == ScheduleRepeat::Weekly) {
        for (const char* day : schedule::kWeekdayNames)
            dayCombo->addItem(day);
    } else {
        for (int d = 1; d <= 31; ++d)
            dayCombo->addItem(QString::number(d));
    }
    dayCombo->setCurrentIndex(0);
}
