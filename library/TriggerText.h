#pragma once
// The English description of a 2.0 trigger, composed from the live trigger object.

#include "kvUtils.h"

#include <QString>

class ITrigger;

// The phrases of the trigger descriptions. Arguments are filled in through QString::arg.
inline const QString SAtEvent = QStringLiteral("At event");
inline const QString SAtTimeOnDate = QStringLiteral("At %1 on %2");
inline const QString SAtTimeEveryDay = QStringLiteral("At %1 every day");
inline const QString SAtTimeEveryNDays = QStringLiteral("At %1 every %2 days");
inline const QString SAtTimeEveryWeek = QStringLiteral("At %1 every %2 of every week, starting %3");
inline const QString SAtTimeEveryNWeeks = QStringLiteral("At %1 every %2 of every %3 weeks, starting %4");
inline const QString SAtTimeOnMonthDays = QStringLiteral("At %1 on day %2 of month %3, starting %4");
inline const QString SRunsAtTimeOnWeekdays = QStringLiteral("Runs at %1 on the %2 %3 of month %4, starting %5");
inline const QString SWeekFirst = QStringLiteral("First");
inline const QString SWeekSecond = QStringLiteral("Second");
inline const QString SWeekThird = QStringLiteral("Third");
inline const QString SWeekFourth = QStringLiteral("Fourth");
inline const QString SWeekLast = QStringLiteral("Last");
inline const QString SWhenIdle = QStringLiteral("When computer is idle");
inline const QString SAtRegistration = QStringLiteral("At task creation/modification");
inline const QString SAtSystemStartup = QStringLiteral("On system startup");
inline const QString SAtLogon = QStringLiteral("At logon");
inline const QString SAtSessionConnect = QStringLiteral("At connect to user session");
inline const QString SAtSessionDisconnect = QStringLiteral("At disconnect from user session");
inline const QString SAtSessionLock = QStringLiteral("At session lock");
inline const QString SAtSessionUnlock = QStringLiteral("At session unlock");
inline const QString SOtherTrigger = QStringLiteral("Trigger %1");
inline const QString STaskNotScheduledLine = QStringLiteral("<Task not scheduled>");
inline const QString SNumberedTriggerLine = QStringLiteral("%1. %2");

/// Raised when a 1.0 task is asked to hold a kind its trigger record cannot carry.
inline const QString STriggerKindNeedsTaskService2 =
    QStringLiteral("Trigger kind %1 needs Task Service 2.0; Task Scheduler 1.0 cannot hold it.");

/// Composes the description of a 2.0 trigger from the trigger object as it is now.
class TriggerText {
public:
    /// The one-line English description of `ATrigger`; service failures raise the platform error.
    static QString Describe(ITrigger* ATrigger);
    /// The day numbers of a monthly trigger: "Last" first when `ALastDay`, then the days of
    /// the mask (bit n − 1 for day n) ascending, joined by ", ".
    static QString DayNumberList(quint32 ADaysOfMonth, bool ALastDay);
    /// The week words of a monthly day-of-week trigger for the week bits 0x1 … 0x10, with
    /// "Last" also when `ALastWeek` is set; "Last" appears at most once.
    static QString WeekWordList(quint16 AWeeksOfMonth, bool ALastWeek);
    /// `AValue` as a time in the user locale's long time format (no zone name).
    static QString TimeText(TDateTime AValue);
    /// `AValue` as a date in the user locale's short date format.
    static QString DateText(TDateTime AValue);
};
