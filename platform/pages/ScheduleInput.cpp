#include "ScheduleInput.h"

#include <QDate>
#include <QRegularExpression>
#include <QStringList>

bool ScheduleInput::ParseMonthDays(const QString& text, DWORD* mask, QString* message)
{
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    const QStringList parts = text.split(separators, Qt::SkipEmptyParts);
    if (parts.isEmpty()) {
        *message = QStringLiteral("Day(s): enter at least one day of the month.");
        return false;
    }
    DWORD result = 0;
    for (const QString& part : parts) {
        bool ok = false;
        const int day = part.toInt(&ok);
        if (!ok || day < 1 || day > 31) {
            *message = QStringLiteral("Day(s): \"%1\" is not a day of the month. Enter days from 1 to 31, separated by commas.").arg(part);
            return false;
        }
        result |= DWORD(1) << (day - 1);
    }
    *mask = result;
    return true;
}

QString ScheduleInput::MonthDaysText(DWORD mask)
{
    QStringList days;
    for (int day = 1; day <= 31; ++day) {
        if (mask & (DWORD(1) << (day - 1))) days << QString::number(day);
    }
    return days.join(QStringLiteral(", "));
}

bool ScheduleInput::Check(const TASK_TRIGGER& t, const QString& monthDays, Field* field, QString* message)
{
    auto refuse = [&](Field f, const QString& text) {
        *field = f;
        *message = text;
        return false;
    };
    switch (t.TriggerType) {
    case TASK_TIME_TRIGGER_WEEKLY:
        if ((t.Type.Weekly.rgfDaysOfTheWeek & 0x7F) == 0)
            return refuse(DaysOfWeek, QStringLiteral("Days of the week: select at least one day."));
        break;
    case TASK_TIME_TRIGGER_MONTHLYDATE: {
        DWORD mask = 0;
        QString why;
        if (!ParseMonthDays(monthDays, &mask, &why)) return refuse(MonthDays, why);
        if ((t.Type.MonthlyDate.rgfMonths & 0xFFF) == 0)
            return refuse(Months, QStringLiteral("Months: select at least one month."));
        break;
    }
    case TASK_TIME_TRIGGER_MONTHLYDOW:
        if ((t.Type.MonthlyDOW.rgfDaysOfTheWeek & 0x7F) == 0)
            return refuse(DaysOfWeek, QStringLiteral("Days of the week: select at least one day."));
        if ((t.Type.MonthlyDOW.rgfMonths & 0xFFF) == 0)
            return refuse(Months, QStringLiteral("Months: select at least one month."));
        break;
    default:
        break;
    }
    if (t.rgFlags & TASK_TRIGGER_FLAG_HAS_END_DATE) {
        const QDate begin(t.wBeginYear, t.wBeginMonth, t.wBeginDay);
        const QDate end(t.wEndYear, t.wEndMonth, t.wEndDay);
        if (!end.isValid()) return refuse(EndDate, QStringLiteral("End Date: enter a valid date."));
        if (begin.isValid() && end < begin)
            return refuse(EndDate, QStringLiteral("End Date: the end date must not be before the start date."));
    }
    if (t.MinutesInterval != 0 && t.MinutesInterval >= t.MinutesDuration)
        return refuse(Repetition, QStringLiteral("Repeat task: the interval must be shorter than the duration."));
    *field = NoField;
    return true;
}
