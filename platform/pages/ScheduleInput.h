#pragma once
// The checks the schedule page makes before it writes a trigger: each refusal names the
// field the user has to correct.

#include "tvMSTask.h"

#include <QString>

/// Reads and checks what the user entered for one trigger.
class ScheduleInput {
public:
    /// The field a refusal is about.
    enum Field { NoField, MonthDays, DaysOfWeek, Months, EndDate, Repetition };

    /// The day-of-month mask of a list such as "1, 15, 31" (commas or spaces between the
    /// numbers). False with a message for an empty list or anything but days 1 to 31.
    static bool ParseMonthDays(const QString& text, DWORD* mask, QString* message);
    /// The list for a day-of-month mask, ascending ("1, 15, 31").
    static QString MonthDaysText(DWORD mask);
    /// Checks a trigger of any kind; for a monthly-date trigger `monthDays` is the day list
    /// as entered. False with the field and a message naming it.
    static bool Check(const TASK_TRIGGER& trigger, const QString& monthDays, Field* field, QString* message);
};
