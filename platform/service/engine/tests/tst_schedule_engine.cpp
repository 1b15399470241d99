// The engine against hand-worked schedules: every kind of rule, month ends, leap years, the
// changes of offset in Berlin and New York, the year cap, task-level union and status.

#include "BoundaryText.h"
#include "LegacyStatus.h"
#include "ScheduleEngine.h"

#include <QTest>

Q_DECLARE_METATYPE(TriggerSchedule)
Q_DECLARE_METATYPE(QList<TriggerSchedule>)
Q_DECLARE_METATYPE(LegacyStatus)

namespace {

constexpr quint8 Sun = 0x1, Mon = 0x2, Tue = 0x4, Wed = 0x8, Fri = 0x20;
constexpr quint16 Jan = 0x1, Feb = 0x2, AllMonths = 0xFFF;
constexpr quint8 First = 0x1, Second = 0x2, Fourth = 0x8, Last = 0x10;
constexpr qint64 Minute = 60, Hour = 3600, Day = 86400;

quint32 DayBit(int day) { return 1u << (day - 1); }

// "2024-03-05 07:30" or "2024-03-05 07:30:15": a wall-clock time.
LocalDateTime L(const char* text)
{
    const QString s = QString::fromLatin1(text);
    const QDate date = QDate::fromString(s.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(s.mid(11), s.size() > 16 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
    return LocalDateTime(date, time);
}

// An ISO date-time with its offset: a moment.
QDateTime At(const QString& iso) { return QDateTime::fromString(iso, Qt::ISODate); }

// A moment as ISO text with its offset in `zone`, "Z" for no offset.
QString Iso(const RunTime& run, const QTimeZone& zone)
{
    QString text = run.ToDateTime(zone).toString(Qt::ISODate);
    if (text.endsWith(u"+00:00")) text.replace(text.size() - 6, 6, QStringLiteral("Z"));
    return text;
}

QStringList Iso(const QList<RunTime>& runs, const QTimeZone& zone)
{
    QStringList texts;
    for (const RunTime& run : runs) texts << Iso(run, zone);
    return texts;
}

// The wall clock each run reports must be the one Qt shows for its moment.
void VerifyLocal(const QList<RunTime>& runs, const QTimeZone& zone)
{
    for (const RunTime& run : runs) {
        QCOMPARE(run.local.ToString(), run.ToDateTime(zone).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
    }
}

} // namespace

class tst_ScheduleEngine : public QObject {
    Q_OBJECT

private slots:
    void runTimes_data();
    void runTimes();
    void nextRunIsStrictlyAfter_data();
    void nextRunIsStrictlyAfter();
    void periodBounds();
    void taskRunsAreAUnion();
    void minuteRepetitionForAYear_data();
    void minuteRepetitionForAYear();
    void legacyStatus_data();
    void legacyStatus();
    void boundaryText_data();
    void boundaryText();
};

void tst_ScheduleEngine::runTimes_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<TriggerSchedule>("trigger");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("complete"); // no runs beyond the expected ones

    const QString utc = QStringLiteral("UTC"), berlin = QStringLiteral("Europe/Berlin"),
                  newYork = QStringLiteral("America/New_York");
    auto row = [](const char* name, const QString& zone, const TriggerSchedule& t, const char* from,
                  const QStringList& expected) {
        QTest::newRow(name) << zone << t << QString::fromLatin1(from) << expected << false;
    };
    auto all = [](const char* name, const QString& zone, const TriggerSchedule& t, const char* from,
                  const QStringList& expected) {
        QTest::newRow(name) << zone << t << QString::fromLatin1(from) << expected << true;
    };

    // Daily rules.
    row("daily", berlin, TriggerSchedule::Daily(L("2024-03-05 07:30")), "2024-03-01T00:00:00+01:00",
        {"2024-03-05T07:30:00+01:00", "2024-03-06T07:30:00+01:00", "2024-03-07T07:30:00+01:00"});
    row("daily from later in the day", utc, TriggerSchedule::Daily(L("2024-03-05 07:30")), "2024-03-06T07:30:01Z",
        {"2024-03-07T07:30:00Z", "2024-03-08T07:30:00Z"});
    row("every three days through 29 February", utc, TriggerSchedule::Daily(L("2024-01-30 09:00"), 3),
        "2024-02-27T00:00:00Z", {"2024-02-29T09:00:00Z", "2024-03-03T09:00:00Z", "2024-03-06T09:00:00Z"});
    all("daily with an end", utc, TriggerSchedule::Daily(L("2024-03-05 07:30")).Until(L("2024-03-07 00:00")),
        "2024-03-01T00:00:00Z", {"2024-03-05T07:30:00Z", "2024-03-06T07:30:00Z"});
    all("end at a start excludes it", utc, TriggerSchedule::Daily(L("2024-03-05 07:30")).Until(L("2024-03-06 07:30")),
        "2024-03-01T00:00:00Z", {"2024-03-05T07:30:00Z"});
    all("daily interval 0 never runs", utc, TriggerSchedule::Daily(L("2024-03-05 07:30"), 0), "2024-03-01T00:00:00Z", {});
    all("end before start never runs", utc, TriggerSchedule::Daily(L("2024-03-05 07:30")).Until(L("2024-03-01 00:00")),
        "2024-03-01T00:00:00Z", {});

    // Weekly rules, weeks counted from the Sunday-based week of the first day.
    row("every other week from a Wednesday", utc, TriggerSchedule::Weekly(L("2024-01-03 10:00"), 2, Mon | Fri),
        "2024-01-01T00:00:00Z",
        {"2024-01-05T10:00:00Z", "2024-01-15T10:00:00Z", "2024-01-19T10:00:00Z", "2024-01-29T10:00:00Z"});
    row("weeks begin on Sunday", utc, TriggerSchedule::Weekly(L("2024-01-03 10:00"), 2, Sun | Mon), "2024-01-01T00:00:00Z",
        {"2024-01-14T10:00:00Z", "2024-01-15T10:00:00Z", "2024-01-28T10:00:00Z"});
    row("weekly on the first day itself", utc, TriggerSchedule::Weekly(L("2024-03-03 10:00"), 1, Sun),
        "2024-01-01T00:00:00Z", {"2024-03-03T10:00:00Z", "2024-03-10T10:00:00Z"});
    row("every third week, asked mid-way", utc, TriggerSchedule::Weekly(L("2024-01-01 06:00"), 3, Wed),
        "2024-02-01T00:00:00Z", {"2024-02-14T06:00:00Z", "2024-03-06T06:00:00Z"});
    all("weekly with no day never runs", utc, TriggerSchedule::Weekly(L("2024-01-01 06:00"), 1, 0), "2024-01-01T00:00:00Z", {});

    // Monthly by date: days that a month lacks are skipped, not moved.
    row("the 31st skips short months", utc, TriggerSchedule::MonthlyDate(L("2024-01-15 12:00"), DayBit(31), AllMonths),
        "2024-01-01T00:00:00Z",
        {"2024-01-31T12:00:00Z", "2024-03-31T12:00:00Z", "2024-05-31T12:00:00Z", "2024-07-31T12:00:00Z"});
    row("29 February waits for leap years", utc, TriggerSchedule::MonthlyDate(L("2021-01-01 08:00"), DayBit(29), Feb),
        "2021-01-01T00:00:00Z", {"2024-02-29T08:00:00Z", "2028-02-29T08:00:00Z"});
    row("2100 is no leap year", utc, TriggerSchedule::MonthlyDate(L("2097-01-01 08:00"), DayBit(29), Feb),
        "2097-01-01T00:00:00Z", {"2104-02-29T08:00:00Z"});
    row("the 15th and the last day of February", utc,
        TriggerSchedule::MonthlyDate(L("2023-01-01 08:00"), DayBit(15), Feb, true), "2023-01-01T00:00:00Z",
        {"2023-02-15T08:00:00Z", "2023-02-28T08:00:00Z", "2024-02-15T08:00:00Z", "2024-02-29T08:00:00Z"});
    row("the last day is also a listed day once", utc,
        TriggerSchedule::MonthlyDate(L("2024-04-01 08:00"), DayBit(30) | DayBit(31), 0x18, true), "2024-04-01T00:00:00Z",
        {"2024-04-30T08:00:00Z", "2024-05-30T08:00:00Z", "2024-05-31T08:00:00Z"});
    all("30 and 31 February never come", utc,
        TriggerSchedule::MonthlyDate(L("2024-01-01 08:00"), DayBit(30) | DayBit(31), Feb), "2024-01-01T00:00:00Z", {});
    all("monthly with no month never runs", utc, TriggerSchedule::MonthlyDate(L("2024-01-01 08:00"), DayBit(1), 0),
        "2024-01-01T00:00:00Z", {});

    // Monthly by weekday.
    row("first Monday of January", utc, TriggerSchedule::MonthlyDow(L("2024-01-01 09:00"), First, Mon, Jan),
        "2024-01-01T00:00:00Z", {"2024-01-01T09:00:00Z", "2025-01-06T09:00:00Z"});
    row("second and last Tuesday and Friday", utc,
        TriggerSchedule::MonthlyDow(L("2024-01-01 09:00"), Second | Last, Tue | Fri, AllMonths), "2024-01-01T00:00:00Z",
        {"2024-01-09T09:00:00Z", "2024-01-12T09:00:00Z", "2024-01-26T09:00:00Z", "2024-01-30T09:00:00Z",
         "2024-02-09T09:00:00Z"});
    // February 2026 has four Sundays, so its fourth is its last; March 2026 has five.
    row("fourth and last Sunday", utc, TriggerSchedule::MonthlyDow(L("2026-02-01 09:00"), Fourth | Last, Sun, Feb | 0x4),
        "2026-01-01T00:00:00Z",
        {"2026-02-22T09:00:00Z", "2026-03-22T09:00:00Z", "2026-03-29T09:00:00Z", "2027-02-28T09:00:00Z"});

    // Once, and the cap on years.
    all("once with seconds", utc, TriggerSchedule::Once(L("2024-03-05 07:30:15")), "2024-01-01T00:00:00Z",
        {"2024-03-05T07:30:15Z"});
    all("once in the past", utc, TriggerSchedule::Once(L("2024-03-05 07:30")), "2024-03-05T07:31:00Z", {});
    row("once, repeating indefinitely", utc, TriggerSchedule::Once(L("2024-01-01 00:00")).Repeating(7 * Hour),
        "2024-01-10T12:00:00Z", {"2024-01-10T15:00:00Z", "2024-01-10T22:00:00Z", "2024-01-11T05:00:00Z"});
    all("far future stops at the end of 9999", berlin, TriggerSchedule::Daily(L("9999-12-30 12:00")),
        "2024-01-01T00:00:00+01:00", {"9999-12-30T12:00:00+01:00", "9999-12-31T12:00:00+01:00"});
    all("beyond the last year", utc, TriggerSchedule::Daily(L("10000-01-01 12:00")), "2024-01-01T00:00:00Z", {});
    all("an event trigger has no calendar runs", utc, TriggerSchedule::Event(), "2024-01-01T00:00:00Z", {});
    TriggerSchedule disabled = TriggerSchedule::Daily(L("2024-03-05 07:30"));
    disabled.enabled = false;
    all("a disabled trigger never runs", utc, disabled, "2024-01-01T00:00:00Z", {});
    all("an invalid start never runs", utc, TriggerSchedule::Daily(LocalDateTime()), "2024-01-01T00:00:00Z", {});

    // Repetition, computed per start.
    row("repetition across midnight", utc, TriggerSchedule::Daily(L("2024-01-01 23:58")).Repeating(Minute, 5 * Minute),
        "2024-01-01T00:00:00Z",
        {"2024-01-01T23:58:00Z", "2024-01-01T23:59:00Z", "2024-01-02T00:00:00Z", "2024-01-02T00:01:00Z",
         "2024-01-02T00:02:00Z", "2024-01-02T23:58:00Z"});
    row("a repetition lasts past the next start", utc, TriggerSchedule::Daily(L("2024-01-01 08:00")).Repeating(5 * Hour, 48 * Hour),
        "2024-01-01T00:00:00Z",
        {"2024-01-01T08:00:00Z", "2024-01-01T13:00:00Z", "2024-01-01T18:00:00Z", "2024-01-01T23:00:00Z",
         "2024-01-02T04:00:00Z", "2024-01-02T08:00:00Z", "2024-01-02T09:00:00Z", "2024-01-02T13:00:00Z",
         "2024-01-02T14:00:00Z"});
    row("joining overlapping repetitions", utc, TriggerSchedule::Daily(L("2024-01-01 08:00")).Repeating(5 * Hour, 48 * Hour),
        "2024-01-03T06:00:00Z", {"2024-01-03T08:00:00Z", "2024-01-03T09:00:00Z", "2024-01-03T13:00:00Z"});
    all("overlapping repetitions end with the trigger", utc,
        TriggerSchedule::Daily(L("2024-01-01 08:00")).Repeating(12 * Hour, 36 * Hour).Until(L("2024-01-02 12:00")),
        "2024-01-01T00:00:00Z",
        {"2024-01-01T08:00:00Z", "2024-01-01T20:00:00Z", "2024-01-02T08:00:00Z"});
    row("an indefinite repetition ends at the next start", utc,
        TriggerSchedule::Daily(L("2024-01-01 08:00")).Repeating(7 * Hour), "2024-01-01T00:00:00Z",
        {"2024-01-01T08:00:00Z", "2024-01-01T15:00:00Z", "2024-01-01T22:00:00Z", "2024-01-02T05:00:00Z",
         "2024-01-02T08:00:00Z"});
    row("joining a repetition that began the day before", utc,
        TriggerSchedule::Weekly(L("2024-01-01 22:00"), 1, Mon).Repeating(90 * Minute, 6 * Hour), "2024-01-02T01:00:00Z",
        {"2024-01-02T01:00:00Z", "2024-01-02T02:30:00Z", "2024-01-08T22:00:00Z"});
    row("a duration no longer than the interval", utc, TriggerSchedule::Daily(L("2024-01-01 08:00")).Repeating(Hour, Hour),
        "2024-01-01T00:00:00Z", {"2024-01-01T08:00:00Z", "2024-01-02T08:00:00Z"});

    // Berlin moves from 02:00 to 03:00 on 31 March 2024 and from 03:00 back to 02:00 on 27 October.
    row("Berlin: a start in the gap runs when it ends", berlin, TriggerSchedule::Daily(L("2024-03-29 02:30")),
        "2024-03-29T00:00:00+01:00",
        {"2024-03-29T02:30:00+01:00", "2024-03-30T02:30:00+01:00", "2024-03-31T03:00:00+02:00", "2024-04-01T02:30:00+02:00"});
    row("Berlin: asked at the change itself", berlin, TriggerSchedule::Daily(L("2024-03-29 02:30")),
        "2024-03-31T03:00:00+02:00", {"2024-03-31T03:00:00+02:00", "2024-04-01T02:30:00+02:00"});
    row("Berlin: a repetition from the gap counts from its end", berlin,
        TriggerSchedule::Daily(L("2024-03-31 02:00")).Repeating(30 * Minute, 2 * Hour), "2024-03-31T00:00:00+01:00",
        {"2024-03-31T03:00:00+02:00", "2024-03-31T03:30:00+02:00", "2024-03-31T04:00:00+02:00",
         "2024-03-31T04:30:00+02:00", "2024-04-01T02:00:00+02:00"});
    // Repetition steps are elapsed time: every 15 minutes for 2 hours is 8 runs across either change.
    row("Berlin: every 15 minutes for 2 hours in spring", berlin,
        TriggerSchedule::Daily(L("2024-03-31 01:30")).Repeating(15 * Minute, 2 * Hour), "2024-03-31T00:00:00+01:00",
        {"2024-03-31T01:30:00+01:00", "2024-03-31T01:45:00+01:00", "2024-03-31T03:00:00+02:00",
         "2024-03-31T03:15:00+02:00", "2024-03-31T03:30:00+02:00", "2024-03-31T03:45:00+02:00",
         "2024-03-31T04:00:00+02:00", "2024-03-31T04:15:00+02:00", "2024-04-01T01:30:00+02:00"});
    row("Berlin: every 15 minutes for 2 hours in autumn", berlin,
        TriggerSchedule::Daily(L("2024-10-27 01:30")).Repeating(15 * Minute, 2 * Hour), "2024-10-27T00:00:00+02:00",
        {"2024-10-27T01:30:00+02:00", "2024-10-27T01:45:00+02:00", "2024-10-27T02:00:00+02:00",
         "2024-10-27T02:15:00+02:00", "2024-10-27T02:30:00+02:00", "2024-10-27T02:45:00+02:00",
         "2024-10-27T02:00:00+01:00", "2024-10-27T02:15:00+01:00", "2024-10-28T01:30:00+01:00"});
    row("Berlin: a start in the repeated hour runs once", berlin, TriggerSchedule::Daily(L("2024-10-26 02:30")),
        "2024-10-26T00:00:00+02:00",
        {"2024-10-26T02:30:00+02:00", "2024-10-27T02:30:00+02:00", "2024-10-28T02:30:00+01:00"});
    row("Berlin: repetitions through the repeated hour", berlin,
        TriggerSchedule::Daily(L("2024-10-27 01:30")).Repeating(30 * Minute, 3 * Hour), "2024-10-27T00:00:00+02:00",
        {"2024-10-27T01:30:00+02:00", "2024-10-27T02:00:00+02:00", "2024-10-27T02:30:00+02:00",
         "2024-10-27T02:00:00+01:00", "2024-10-27T02:30:00+01:00", "2024-10-27T03:00:00+01:00",
         "2024-10-28T01:30:00+01:00"});
    row("Berlin: asked in the second 02:xx", berlin,
        TriggerSchedule::Daily(L("2024-10-27 01:30")).Repeating(30 * Minute, 3 * Hour), "2024-10-27T02:10:00+01:00",
        {"2024-10-27T02:30:00+01:00", "2024-10-27T03:00:00+01:00", "2024-10-28T01:30:00+01:00"});
    row("New York: every quarter hour through the repeated hour", newYork,
        TriggerSchedule::Daily(L("2024-11-03 00:30")).Repeating(15 * Minute, 2 * Hour + 30 * Minute), "2024-11-03T00:00:00-04:00",
        {"2024-11-03T00:30:00-04:00", "2024-11-03T00:45:00-04:00", "2024-11-03T01:00:00-04:00",
         "2024-11-03T01:15:00-04:00", "2024-11-03T01:30:00-04:00", "2024-11-03T01:45:00-04:00",
         "2024-11-03T01:00:00-05:00", "2024-11-03T01:15:00-05:00", "2024-11-03T01:30:00-05:00",
         "2024-11-03T01:45:00-05:00", "2024-11-04T00:30:00-05:00"});

    // A boundary that names a moment keeps its offset: the same moment every day.
    row("Berlin: 08:00Z in winter and summer", berlin, TriggerSchedule::Daily(L("2024-03-30 08:00")).AtOffset(0),
        "2024-03-30T00:00:00+01:00",
        {"2024-03-30T09:00:00+01:00", "2024-03-31T10:00:00+02:00", "2024-04-01T10:00:00+02:00"});
    row("New York: weekly at 12:00+05:30 across the change", newYork,
        TriggerSchedule::Weekly(L("2024-03-04 12:00"), 1, Mon).AtOffset(19800), "2024-03-01T00:00:00-05:00",
        {"2024-03-04T01:30:00-05:00", "2024-03-11T02:30:00-04:00", "2024-03-18T02:30:00-04:00"});
    all("an offset trigger ends in its own frame", utc,
        TriggerSchedule::Daily(L("2024-03-05 23:30")).AtOffset(-3600).Until(L("2024-03-07 00:00")),
        "2024-03-01T00:00:00Z", {"2024-03-06T00:30:00Z", "2024-03-07T00:30:00Z"});
    row("Berlin: the change of 2300", berlin, TriggerSchedule::Daily(L("2300-03-24 02:30")), "2300-03-24T00:00:00+01:00",
        {"2300-03-24T02:30:00+01:00", "2300-03-25T03:00:00+02:00", "2300-03-26T02:30:00+02:00"});
    // Far ahead the zone follows its yearly rule: no table, the same answers.
    row("Berlin: the spring change of 2400", berlin, TriggerSchedule::Daily(L("2400-03-25 02:30")), "2400-03-25T00:00:00+01:00",
        {"2400-03-25T02:30:00+01:00", "2400-03-26T03:00:00+02:00", "2400-03-27T02:30:00+02:00"});
    row("Berlin: the repeated hour of 2400", berlin, TriggerSchedule::Daily(L("2400-10-28 02:30")), "2400-10-28T00:00:00+02:00",
        {"2400-10-28T02:30:00+02:00", "2400-10-29T02:30:00+02:00", "2400-10-30T02:30:00+01:00"});
    row("Berlin: the spring change of 9998", berlin, TriggerSchedule::Daily(L("9998-03-28 02:30")), "9998-03-28T00:00:00+01:00",
        {"9998-03-28T02:30:00+01:00", "9998-03-29T03:00:00+02:00", "9998-03-30T02:30:00+02:00"});
    row("Berlin: repetitions through the repeated hour of 9998", berlin,
        TriggerSchedule::Daily(L("9998-10-25 01:30")).Repeating(30 * Minute, 3 * Hour), "9998-10-25T00:00:00+02:00",
        {"9998-10-25T01:30:00+02:00", "9998-10-25T02:00:00+02:00", "9998-10-25T02:30:00+02:00",
         "9998-10-25T02:00:00+01:00", "9998-10-25T02:30:00+01:00", "9998-10-25T03:00:00+01:00",
         "9998-10-26T01:30:00+01:00"});
    row("New York: the spring change of 9998", newYork, TriggerSchedule::Weekly(L("9998-03-01 02:30"), 1, Sun),
        "9998-03-01T00:00:00-05:00", {"9998-03-01T02:30:00-05:00", "9998-03-08T03:00:00-04:00", "9998-03-15T02:30:00-04:00"});
    row("Berlin: summer time of 1965 did not exist", berlin, TriggerSchedule::Daily(L("1965-06-01 12:00")),
        "1965-06-01T00:00:00+01:00", {"1965-06-01T12:00:00+01:00"});

    // New York moves from 02:00 to 03:00 on 10 March 2024 and from 02:00 back to 01:00 on 3 November.
    row("New York: weekly start in the gap", newYork, TriggerSchedule::Weekly(L("2024-03-03 02:30"), 1, Sun),
        "2024-03-01T00:00:00-05:00",
        {"2024-03-03T02:30:00-05:00", "2024-03-10T03:00:00-04:00", "2024-03-17T02:30:00-04:00"});
    row("New York: a start in the repeated hour runs once", newYork, TriggerSchedule::Daily(L("2024-11-02 01:30")),
        "2024-11-02T00:00:00-04:00",
        {"2024-11-02T01:30:00-04:00", "2024-11-03T01:30:00-04:00", "2024-11-04T01:30:00-05:00"});
    row("New York: asked in the second 01:xx", newYork, TriggerSchedule::Daily(L("2024-11-02 01:30")),
        "2024-11-03T01:10:00-05:00", {"2024-11-04T01:30:00-05:00"});
    row("New York: second Sunday of March in the gap", newYork,
        TriggerSchedule::MonthlyDow(L("2024-01-01 02:15"), Second, Sun, 0x4), "2024-01-01T00:00:00-05:00",
        {"2024-03-10T03:00:00-04:00", "2025-03-09T03:00:00-04:00", "2026-03-08T03:00:00-04:00"});
}

void tst_ScheduleEngine::runTimes()
{
    QFETCH(QString, zone);
    QFETCH(TriggerSchedule, trigger);
    QFETCH(QString, from);
    QFETCH(QStringList, expected);
    QFETCH(bool, complete);

    const QTimeZone tz(zone.toLatin1());
    QVERIFY(tz.isValid());
    const ScheduleEngine engine(tz);
    const QList<RunTime> runs = engine.RunTimes(trigger, At(from), std::nullopt, expected.size() + 1);
    const QStringList got = Iso(runs, tz);
    QCOMPARE(got.mid(0, expected.size()), expected);
    QCOMPARE(got.size(), complete ? expected.size() : expected.size() + 1);
    VerifyLocal(runs, tz);

    // The next run after the moment before `from` is the first of the list.
    const std::optional<RunTime> next = engine.NextRunAfter(trigger, At(from).addSecs(-1));
    QCOMPARE(next.has_value(), !expected.isEmpty());
    if (next) QCOMPARE(Iso(*next, tz), expected.first());
    if (!expected.isEmpty()) QVERIFY(engine.CanEverRun(trigger));
}

void tst_ScheduleEngine::nextRunIsStrictlyAfter_data()
{
    QTest::addColumn<TriggerSchedule>("trigger");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("expected");

    const TriggerSchedule daily = TriggerSchedule::Daily(L("2024-03-05 07:30"));
    QTest::newRow("at a run") << daily << "2024-03-06T07:30:00Z" << "2024-03-07T07:30:00Z";
    QTest::newRow("half a second before a run") << daily << "2024-03-06T07:29:59.500Z" << "2024-03-06T07:30:00Z";
    QTest::newRow("half a second after a run") << daily << "2024-03-06T07:30:00.500Z" << "2024-03-07T07:30:00Z";
    QTest::newRow("at the last repetition") << daily.Repeating(10 * Minute, 30 * Minute) << "2024-03-06T07:50:00Z"
                                            << "2024-03-07T07:30:00Z";
    QTest::newRow("long before the first day") << daily << "1999-01-01T00:00:00Z" << "2024-03-05T07:30:00Z";
    QTest::newRow("decades later, directly") << daily << "2090-06-15T12:00:00Z" << "2090-06-16T07:30:00Z";
    QTest::newRow("after the last run") << TriggerSchedule::Once(L("2024-03-05 07:30")) << "2024-03-05T07:30:00Z" << "";
}

void tst_ScheduleEngine::nextRunIsStrictlyAfter()
{
    QFETCH(TriggerSchedule, trigger);
    QFETCH(QString, after);
    QFETCH(QString, expected);

    const ScheduleEngine engine(QTimeZone::utc());
    const std::optional<RunTime> next = engine.NextRunAfter(trigger, At(after));
    QCOMPARE(next ? Iso(*next, QTimeZone::utc()) : QString(), expected);
}

void tst_ScheduleEngine::periodBounds()
{
    const ScheduleEngine engine(QTimeZone::utc());
    const TriggerSchedule hourly = TriggerSchedule::Daily(L("2024-01-01 00:00")).Repeating(Hour, Day);
    const QDateTime begin = At("2024-01-01T03:00:00Z"), end = At("2024-01-01T06:00:00Z");

    QCOMPARE(Iso(engine.RunTimes(hourly, begin, end, 100), QTimeZone::utc()),
             QStringList({"2024-01-01T03:00:00Z", "2024-01-01T04:00:00Z", "2024-01-01T05:00:00Z", "2024-01-01T06:00:00Z"}));
    QCOMPARE(engine.RunTimes(hourly, begin, end, 2).size(), 2);
    QVERIFY(engine.RunTimes(hourly, begin, end, 0).isEmpty());
    QVERIFY(engine.RunTimes(hourly, end, begin, 10).isEmpty());
    QVERIFY(engine.RunTimes(hourly, QDateTime(), end, 10).isEmpty());
    QVERIFY(!engine.NextRunAfter(hourly, QDateTime()).has_value());
    QCOMPARE(engine.RunTimes(hourly, At("2024-01-01T03:00:00.001Z"), end, 100).size(), 3);
}

void tst_ScheduleEngine::taskRunsAreAUnion()
{
    const QTimeZone tz("Europe/Berlin");
    const ScheduleEngine engine(tz);
    Schedule schedule;
    schedule.triggers = {TriggerSchedule::Daily(L("2024-01-01 08:00")),
                         TriggerSchedule::Weekly(L("2024-01-01 08:00"), 1, Mon | Wed),
                         TriggerSchedule::Once(L("2024-01-02 12:00")),
                         TriggerSchedule::Event()};
    TriggerSchedule off = TriggerSchedule::Daily(L("2024-01-01 09:00"));
    off.enabled = false;
    schedule.triggers << off;

    const QStringList expected{"2024-01-01T08:00:00+01:00", "2024-01-02T08:00:00+01:00", "2024-01-02T12:00:00+01:00",
                               "2024-01-03T08:00:00+01:00", "2024-01-04T08:00:00+01:00"};
    QCOMPARE(Iso(engine.RunTimes(schedule, At("2024-01-01T00:00:00+01:00"), std::nullopt, 5), tz), expected);
    QCOMPARE(Iso(*engine.NextRunAfter(schedule, At("2024-01-02T08:00:00+01:00")), tz), expected[2]);

    schedule.enabled = false;
    QVERIFY(engine.RunTimes(schedule, At("2024-01-01T00:00:00+01:00"), std::nullopt, 5).isEmpty());
    QVERIFY(!engine.NextRunAfter(schedule, At("2024-01-01T00:00:00+01:00")).has_value());
    QVERIFY(!engine.NextRunAfter(Schedule{}, At("2024-01-01T00:00:00+01:00")).has_value());
}

void tst_ScheduleEngine::minuteRepetitionForAYear_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<TriggerSchedule>("trigger");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("last");

    const TriggerSchedule daily = TriggerSchedule::Daily(L("2025-01-01 00:00")).Repeating(Minute, Day);
    const TriggerSchedule once = TriggerSchedule::Once(L("2025-01-01 00:00")).Repeating(Minute, 365 * Day);
    QTest::newRow("UTC, daily") << "UTC" << daily << 525600 << "2025-12-31T23:59:00Z";
    QTest::newRow("UTC, once for 365 days") << "UTC" << once << 525600 << "2025-12-31T23:59:00Z";
    // Repetition counts elapsed minutes: the short spring day's repetition overlaps the next
    // day's on the same minutes, and the last hour of the long autumn day has none.
    QTest::newRow("Berlin") << "Europe/Berlin" << daily << 525540 << "2025-12-31T23:59:00+01:00";
    QTest::newRow("New York") << "America/New_York" << daily << 525540 << "2025-12-31T23:59:00-05:00";
}

void tst_ScheduleEngine::minuteRepetitionForAYear()
{
    QFETCH(QString, zone);
    QFETCH(TriggerSchedule, trigger);
    QFETCH(int, count);
    QFETCH(QString, last);

    const QTimeZone tz(zone.toLatin1());
    const ScheduleEngine engine(tz);
    const QDateTime begin(QDate(2025, 1, 1), QTime(0, 0), tz);
    const QDateTime end(QDate(2026, 1, 1), QTime(0, 0), tz);
    const QList<RunTime> runs = engine.RunTimes(trigger, begin, end.addSecs(-1), 1000000);
    QCOMPARE(runs.size(), count);
    QCOMPARE(runs.first().utc, begin.toSecsSinceEpoch());
    QCOMPARE(Iso(runs.last(), tz), last);
    for (qsizetype i = 1; i < runs.size(); ++i) {
        if (runs[i].utc <= runs[i - 1].utc) QFAIL(qPrintable(QStringLiteral("not ascending at %1").arg(i)));
    }
}

void tst_ScheduleEngine::legacyStatus_data()
{
    QTest::addColumn<bool>("disabled");
    QTest::addColumn<QList<TriggerSchedule>>("triggers");
    QTest::addColumn<bool>("neverRan");
    QTest::addColumn<LegacyStatus>("expected");

    const TriggerSchedule future = TriggerSchedule::Daily(L("2024-06-01 08:00"));
    const TriggerSchedule past = TriggerSchedule::Once(L("2024-01-01 08:00"));
    const TriggerSchedule impossible = TriggerSchedule::MonthlyDate(L("2024-01-01 08:00"), DayBit(31), Feb);
    const TriggerSchedule ended = TriggerSchedule::Daily(L("2024-06-01 08:00")).Until(L("2024-05-01 00:00"));
    TriggerSchedule off = future;
    off.enabled = false;
    TriggerSchedule logon = TriggerSchedule::Event();
    TriggerSchedule offLogon = logon;
    offLogon.enabled = false;
    const TriggerSchedule pastLogon = logon.Until(L("2024-02-01 00:00"));

    QTest::newRow("disabled wins") << true << QList<TriggerSchedule>{future} << true << LegacyStatus::Disabled;
    QTest::newRow("no triggers") << false << QList<TriggerSchedule>{} << true << LegacyStatus::NotScheduled;
    QTest::newRow("disabled trigger") << false << QList<TriggerSchedule>{off} << true << LegacyStatus::NoValidTriggers;
    QTest::newRow("31 February") << false << QList<TriggerSchedule>{impossible} << false << LegacyStatus::NoValidTriggers;
    QTest::newRow("ends before it begins") << false << QList<TriggerSchedule>{ended, offLogon} << false
                                           << LegacyStatus::NoValidTriggers;
    QTest::newRow("only past runs") << false << QList<TriggerSchedule>{past, impossible} << true << LegacyStatus::NoMoreRuns;
    QTest::newRow("event trigger ended") << false << QList<TriggerSchedule>{pastLogon} << true << LegacyStatus::NoMoreRuns;
    QTest::newRow("never ran") << false << QList<TriggerSchedule>{past, future} << true << LegacyStatus::HasNotRun;
    QTest::newRow("ran before") << false << QList<TriggerSchedule>{future} << false << LegacyStatus::Ready;
    QTest::newRow("logon, never ran") << false << QList<TriggerSchedule>{logon} << true << LegacyStatus::HasNotRun;
}

void tst_ScheduleEngine::legacyStatus()
{
    QFETCH(bool, disabled);
    QFETCH(QList<TriggerSchedule>, triggers);
    QFETCH(bool, neverRan);
    QFETCH(LegacyStatus, expected);

    const ScheduleEngine engine(QTimeZone("Europe/Berlin"));
    QCOMPARE(ComputeLegacyStatus(disabled, triggers, neverRan, At("2024-03-01T12:00:00+01:00"), engine), expected);
}

void tst_ScheduleEngine::boundaryText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("zone");
    QTest::addColumn<QString>("expected"); // empty: refused

    QTest::newRow("local") << "2024-03-05T07:30:15" << "Europe/Berlin" << "2024-03-05T07:30:15";
    QTest::newRow("without seconds") << "2024-03-05T07:30" << "Europe/Berlin" << "2024-03-05T07:30:00";
    QTest::newRow("fraction dropped") << "2024-03-05T07:30:15.750" << "Europe/Berlin" << "2024-03-05T07:30:15";
    QTest::newRow("Z in winter") << "2024-03-05T07:30:15Z" << "Europe/Berlin" << "2024-03-05T08:30:15";
    QTest::newRow("Z in summer") << "2024-07-05T07:30:00Z" << "Europe/Berlin" << "2024-07-05T09:30:00";
    QTest::newRow("offset east") << "2024-03-05T07:30:00+05:30" << "UTC" << "2024-03-05T02:00:00";
    QTest::newRow("offset across midnight") << "2024-03-05T23:30:00-05:00" << "Europe/Berlin" << "2024-03-06T05:30:00";
    QTest::newRow("into the repeated hour") << "2024-10-27T01:30:00Z" << "Europe/Berlin" << "2024-10-27T02:30:00";
    QTest::newRow("empty") << "" << "UTC" << "";
    QTest::newRow("no such day") << "2024-02-30T00:00:00" << "UTC" << "";
    QTest::newRow("space for T") << "2024-03-05 07:30:00" << "UTC" << "";
    QTest::newRow("hour 25") << "2024-03-05T25:00:00" << "UTC" << "";
    QTest::newRow("offset too large") << "2024-03-05T07:30:00+15:00" << "UTC" << "";
    QTest::newRow("offset minutes") << "2024-03-05T07:30:00+01:60" << "UTC" << "";
    QTest::newRow("trailing text") << "2024-03-05T07:30:00 tomorrow" << "UTC" << "";
    QTest::newRow("date only") << "2024-03-05" << "UTC" << "";
    QTest::newRow("colon without seconds") << "2024-03-05T07:30:" << "UTC" << "";
    QTest::newRow("fraction without digits") << "2024-03-05T07:30:15." << "UTC" << "";
    QTest::newRow("fraction without seconds") << "2024-03-05T07:30.5" << "UTC" << "";
    QTest::newRow("offset without minutes") << "2024-03-05T07:30:00+05" << "UTC" << "";
    QTest::newRow("offset without colon") << "2024-03-05T07:30:00+0530" << "UTC" << "";
    QTest::newRow("text after Z") << "2024-03-05T07:30:00Zulu" << "UTC" << "";
    QTest::newRow("single-digit month") << "2024-3-05T07:30:00" << "UTC" << "";
    QTest::newRow("offset west without seconds") << "2024-03-05T07:30-01:00" << "UTC" << "2024-03-05T08:30:00";
}

void tst_ScheduleEngine::boundaryText()
{
    QFETCH(QString, text);
    QFETCH(QString, zone);
    QFETCH(QString, expected);

    QString error;
    const std::optional<LocalDateTime> parsed = BoundaryText::Parse(text, QTimeZone(zone.toLatin1()), &error);
    QCOMPARE(parsed ? parsed->ToString() : QString(), expected);
    QCOMPARE(error.isEmpty(), !expected.isEmpty());
    if (!parsed) QCOMPARE(error, QStringLiteral("'%1' is not a valid date and time").arg(text));
}

QTEST_GUILESS_MAIN(tst_ScheduleEngine)
#include "tst_schedule_engine.moc"
