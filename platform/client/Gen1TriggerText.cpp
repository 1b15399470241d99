#include "Gen1TriggerText.h"

#include <QDate>
#include <QStringList>
#include <QTime>

namespace {

QString Counted(quint32 n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

// Sunday (bit 0) first, Saturday (bit 6) last.
QString DayNames(WORD mask, const QLocale& locale)
{
    QStringList names;
    for (int bit = 0; bit < 7; ++bit) {
        if (mask & (1u << bit)) names.append(locale.dayName(bit == 0 ? 7 : bit, QLocale::LongFormat));
    }
    return names.join(QStringLiteral(", "));
}

QString MonthNames(WORD mask, const QLocale& locale)
{
    if ((mask & 0xFFF) == 0xFFF) return QStringLiteral("every month");
    QStringList names;
    for (int bit = 0; bit < 12; ++bit) {
        if (mask & (1u << bit)) names.append(locale.monthName(bit + 1, QLocale::LongFormat));
    }
    return names.isEmpty() ? QStringLiteral("no month") : names.join(QStringLiteral(", "));
}

QString DayNumbers(DWORD mask, int* count)
{
    QStringList days;
    for (int bit = 0; bit < 31; ++bit) {
        if (mask & (1u << bit)) days.append(QString::number(bit + 1));
    }
    *count = int(days.size());
    return days.join(QStringLiteral(", "));
}

QString WeekWord(WORD week)
{
    static const char* const words[] = {"first", "second", "third", "fourth", "last"};
    return week >= 1 && week <= 5 ? QLatin1String(words[week - 1]) : QStringLiteral("week %1").arg(week);
}

} // namespace

QString Gen1TriggerText::Minutes(quint32 minutes)
{
    const quint32 days = minutes / 1440;
    const quint32 hours = minutes % 1440 / 60;
    const quint32 rest = minutes % 60;
    QStringList parts;
    if (days) parts.append(Counted(days, "day", "days"));
    if (hours) parts.append(Counted(hours, "hour", "hours"));
    if (rest || parts.isEmpty()) parts.append(Counted(rest, "minute", "minutes"));
    return parts.join(QLatin1Char(' '));
}

QString Gen1TriggerText::Describe(const TASK_TRIGGER& t, const QLocale& locale)
{
    const QString time = locale.toString(QTime(t.wStartHour % 24, t.wStartMinute % 60), QLocale::ShortFormat);
    const QDate begin(t.wBeginYear, t.wBeginMonth, t.wBeginDay);
    const QString starting = begin.isValid() && t.wBeginYear != 0
        ? QStringLiteral(", starting %1").arg(locale.toString(begin, QLocale::ShortFormat))
        : QStringLiteral(" (no start date set)");

    QString text;
    switch (DWORD(t.TriggerType)) {
    case TASK_TIME_TRIGGER_ONCE:
        text = begin.isValid() && t.wBeginYear != 0
            ? QStringLiteral("At %1 on %2").arg(time, locale.toString(begin, QLocale::ShortFormat))
            : QStringLiteral("At %1 (no date set)").arg(time);
        break;
    case TASK_TIME_TRIGGER_DAILY: {
        const WORD n = t.Type.Daily.DaysInterval;
        text = (n <= 1 ? QStringLiteral("At %1 every day").arg(time) : QStringLiteral("At %1 every %2 days").arg(time).arg(n))
            + starting;
        break;
    }
    case TASK_TIME_TRIGGER_WEEKLY: {
        const WORD n = t.Type.Weekly.WeeksInterval;
        const QString days = DayNames(t.Type.Weekly.rgfDaysOfTheWeek, locale);
        const QString every = n <= 1 ? QStringLiteral("every week") : QStringLiteral("every %1 weeks").arg(n);
        text = days.isEmpty() ? QStringLiteral("At %1 on no day of %2").arg(time, every)
                              : QStringLiteral("At %1 every %2 of %3").arg(time, days, every);
        text += starting;
        break;
    }
    case TASK_TIME_TRIGGER_MONTHLYDATE: {
        int count = 0;
        const QString days = DayNumbers(t.Type.MonthlyDate.rgfDays, &count);
        const QString months = MonthNames(t.Type.MonthlyDate.rgfMonths, locale);
        if (count == 0)
            text = QStringLiteral("At %1 on no day of %2").arg(time, months);
        else
            text = QStringLiteral("At %1 on %2 %3 of %4").arg(time, QLatin1String(count == 1 ? "day" : "days"), days, months);
        text += starting;
        break;
    }
    case TASK_TIME_TRIGGER_MONTHLYDOW: {
        const QString week = WeekWord(t.Type.MonthlyDOW.wWhichWeek);
        const QString days = DayNames(t.Type.MonthlyDOW.rgfDaysOfTheWeek, locale);
        const QString months = MonthNames(t.Type.MonthlyDOW.rgfMonths, locale);
        text = days.isEmpty() ? QStringLiteral("At %1 on no day of the %2 week of %3").arg(time, week, months)
                              : QStringLiteral("At %1 on the %2 %3 of %4").arg(time, week, days, months);
        text += starting;
        break;
    }
    case TASK_EVENT_TRIGGER_ON_IDLE:
        text = QStringLiteral("When the computer is idle");
        break;
    case TASK_EVENT_TRIGGER_AT_SYSTEMSTART:
        text = QStringLiteral("At system startup");
        break;
    case TASK_EVENT_TRIGGER_AT_LOGON:
        text = QStringLiteral("At logon");
        break;
    default:
        text = QStringLiteral("A trigger of unknown kind %1").arg(DWORD(t.TriggerType));
        break;
    }

    if (t.rgFlags & TASK_TRIGGER_FLAG_HAS_END_DATE) {
        const QDate end(t.wEndYear, t.wEndMonth, t.wEndDay);
        if (end.isValid()) text += QStringLiteral(", ending %1").arg(locale.toString(end, QLocale::ShortFormat));
    }
    if (t.MinutesInterval > 0)
        text += QStringLiteral(", repeating every %1 for %2").arg(Minutes(t.MinutesInterval), Minutes(t.MinutesDuration));
    if ((t.rgFlags & TASK_TRIGGER_FLAG_KILL_AT_DURATION_END) && t.MinutesDuration > 0) {
        text += t.MinutesInterval > 0 ? QStringLiteral(", then stopping the task")
                                      : QStringLiteral(", stopping the task after %1").arg(Minutes(t.MinutesDuration));
    }
    if (t.wRandomMinutesInterval > 0)
        text += QStringLiteral(", delayed at random by up to %1").arg(Minutes(t.wRandomMinutesInterval));
    if (t.rgFlags & TASK_TRIGGER_FLAG_DISABLED) text += QStringLiteral(" (disabled)");
    return text;
}
