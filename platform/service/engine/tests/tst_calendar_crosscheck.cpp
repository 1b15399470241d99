// The engine against systemd's calendar: hundreds of random schedules, and hand-picked ones
// across month ends, leap years and repeated hours, must give the same moments in both.
// (Starts inside a gap are left out: there systemd skips the run, where the engine runs it
// when the gap ends. So are repetitions across a change of offset: calendar expressions step
// through the wall clock, where the engine steps through elapsed time. The engine's own tests
// cover both rules.)

#include "ScheduleEngine.h"
#include "SystemdCalendar.h"

#include <QRandomGenerator>
#include <QTest>

Q_DECLARE_METATYPE(TriggerSchedule)

namespace {

constexpr qint64 Hour = 3600;
// systemd's calendar lists nothing after 2199; the comparison stops there too.
const QDateTime Horizon(QDate(2199, 12, 31), QTime(0, 0), QTimeZone::utc());

struct Case {
    TriggerSchedule trigger;
    QString description;
};

QString Describe(const TriggerSchedule& t, const QStringList& expressions)
{
    QString text = QStringLiteral("kind %1 from %2").arg(int(t.kind)).arg(t.start.ToString());
    if (t.kind == TriggerKind::Daily) text += QStringLiteral(" every %1 days").arg(t.daysInterval);
    if (t.kind == TriggerKind::Weekly) text += QStringLiteral(" every %1 weeks").arg(t.weeksInterval);
    if (t.end) text += QStringLiteral(" until %1").arg(t.end->ToString());
    return text + QStringLiteral(" as \"%1\"").arg(expressions.join(QStringLiteral("\" + \"")));
}

QString Moment(qint64 utc, const QTimeZone& zone)
{
    return QDateTime::fromSecsSinceEpoch(utc, zone).toString(Qt::ISODateWithMs);
}

// Random schedules of every calendar kind that calendar expressions can state.
class Generator {
public:
    explicit Generator(quint32 seed) : m_random(seed) {}

    TriggerSchedule Next(QDate base, bool zoneHasChanges)
    {
        TriggerSchedule t;
        const int kind = Below(10);
        const bool repeats = kind != 0 && Below(10) < 3;
        QTime time;
        qint64 interval = 0, hours = 0;
        for (;;) {
            if (repeats) {
                static const int steps[] = {5, 6, 10, 12, 15, 20, 30};
                interval = steps[Below(7)];
                hours = 1 + Below(4);
                time = QTime(Below(24), Below(int(interval)), Below(60));
                if (time.hour() + hours > 24) continue;
            } else {
                time = QTime(Below(24), Below(60), Below(60));
                hours = 1;
            }
            // Keep away from 02:00 to 03:00, the hour that zones with changes skip in spring.
            if (zoneHasChanges && time.hour() <= 2 && time.hour() + hours > 2) continue;
            break;
        }
        const bool startsLater = !repeats && Below(5) == 0;
        const QDate first = startsLater ? base.addDays(Below(4)) : base.addDays(-Below(400));
        const LocalDateTime start(first, time);
        switch (kind) {
        case 0: t = TriggerSchedule::Once(LocalDateTime(base.addDays(Below(3)), time)); break;
        case 1:
        case 2: t = TriggerSchedule::Daily(start, Below(2) ? 1 : 1 + Below(6)); break;
        case 3:
        case 4: t = TriggerSchedule::Weekly(start, Below(2) ? 1 : 1 + Below(3), quint8(1 + Below(127))); break;
        case 5:
        case 6: {
            quint32 days = 0;
            for (int n = Below(4); n > 0; --n) days |= 1u << Below(31);
            t = TriggerSchedule::MonthlyDate(start, days, Months(), days == 0 || Below(3) == 0);
            break;
        }
        default: t = TriggerSchedule::MonthlyDow(start, quint8(1 + Below(31)), quint8(1 + Below(127)), Months()); break;
        }
        if (repeats) t = t.Repeating(interval * 60, hours * Hour);
        if (Below(5) == 0) t = t.Until(LocalDateTime(base.addDays(1 + Below(200)), QTime(Below(24), 0)));
        return t;
    }

private:
    int Below(int n) { return int(m_random.bounded(n)); }
    quint16 Months() { return Below(3) == 0 ? 0xFFF : quint16(1 + Below(0xFFF)); }

    QRandomGenerator m_random;
};

} // namespace

class tst_CalendarCrossCheck : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void randomSchedules_data();
    void randomSchedules();
    void handPicked_data();
    void handPicked();
    void cleanupTestCase();

private:
    qint64 m_compared = 0;
    /// Compares the engine with systemd for `cases` in `zone` from the moment `from` on, as
    /// far as `iterations` elapses of each expression reach; adds the runs compared to `compared`.
    void Compare(const QTimeZone& zone, qint64 from, int iterations, const QList<TriggerSchedule>& cases,
                 qint64* compared);
};

void tst_CalendarCrossCheck::initTestCase()
{
    if (SystemdCalendar::Program().isEmpty()) QSKIP("systemd-analyze is not installed");
}

void tst_CalendarCrossCheck::Compare(const QTimeZone& zone, qint64 from, int iterations,
                                     const QList<TriggerSchedule>& cases, qint64* compared)
{
    QStringList expressions;
    QList<qsizetype> firstExpression;
    for (const TriggerSchedule& t : cases) {
        const std::optional<QStringList> own = SystemdCalendar::Expressions(t);
        QVERIFY2(own.has_value(), qPrintable(t.start.ToString()));
        firstExpression << expressions.size();
        expressions += *own;
    }
    firstExpression << expressions.size();

    QString error;
    const auto answers = SystemdCalendar::Run(zone, from - 1, iterations, expressions, &error);
    QVERIFY2(answers.has_value(), qPrintable(error));

    const ScheduleEngine engine(zone);
    const QDateTime begin = QDateTime::fromSecsSinceEpoch(from, QTimeZone::utc());
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const TriggerSchedule& t = cases[i];
        const qsizetype at = firstExpression[i], count = firstExpression[i + 1] - at;
        bool complete = false;
        qint64 until = 0;
        const QList<qint64> expected = SystemdCalendar::Runs(t, zone, answers->mid(at, count), &complete, &until);
        const QDateTime end = complete ? Horizon : QDateTime::fromSecsSinceEpoch(until, QTimeZone::utc());
        const QList<RunTime> runs = engine.RunTimes(t, begin, end, 100000);
        QList<qint64> got;
        for (const RunTime& run : runs) got << run.utc;
        if (got != expected) {
            qsizetype diff = 0;
            while (diff < got.size() && diff < expected.size() && got[diff] == expected[diff]) ++diff;
            QFAIL(qPrintable(QStringLiteral("%1 in %2 from %3: run %4 is %5, systemd says %6 (%7 vs %8 runs)")
                                 .arg(Describe(t, expressions.mid(at, count)), QString::fromLatin1(zone.id()),
                                      Moment(from, zone))
                                 .arg(diff)
                                 .arg(diff < got.size() ? Moment(got[diff], zone) : QStringLiteral("none"),
                                      diff < expected.size() ? Moment(expected[diff], zone) : QStringLiteral("none"))
                                 .arg(got.size())
                                 .arg(expected.size())));
        }
        *compared += got.size();
    }
}

void tst_CalendarCrossCheck::cleanupTestCase()
{
    qInfo("%lld random runs compared", static_cast<long long>(m_compared));
}

void tst_CalendarCrossCheck::randomSchedules_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<quint32>("seed");
    const char* const zones[] = {"UTC", "Europe/Berlin", "America/New_York", "Australia/Sydney", "Asia/Kolkata"};
    for (quint32 batch = 0; batch < 25; ++batch) {
        const char* zone = zones[batch % 5];
        QTest::addRow("%s, batch %u", zone, batch) << QString::fromLatin1(zone) << 20240305u + batch;
    }
}

void tst_CalendarCrossCheck::randomSchedules()
{
    QFETCH(QString, zone);
    QFETCH(quint32, seed);

    const QTimeZone tz(zone.toLatin1());
    QVERIFY(tz.isValid());
    Generator generator(seed);
    QRandomGenerator dates(seed);
    // systemd's calendar ends a little after 2199; the schedules start well before.
    const QDate base = QDate(1976, 1, 1).addDays(dates.bounded(365 * 174));
    const qint64 from = QDateTime(base, QTime(12, 0), tz).toSecsSinceEpoch();
    QList<TriggerSchedule> cases;
    for (int i = 0; i < 24; ++i) cases << generator.Next(base, tz.hasDaylightTime());
    qint64 compared = 0;
    Compare(tz, from, 200, cases, &compared);
    if (QTest::currentTestFailed()) return;
    // Each batch must really compare something, not just agree on nothing.
    QVERIFY2(compared > 24 * 5, qPrintable(QString::number(compared)));
    m_compared += compared;
}

void tst_CalendarCrossCheck::handPicked_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<TriggerSchedule>("trigger");
    QTest::addColumn<QString>("from");

    auto L = [](int y, int m, int d, int h, int min) { return LocalDateTime(QDate(y, m, d), QTime(h, min)); };
    const QString berlin = QStringLiteral("Europe/Berlin"), newYork = QStringLiteral("America/New_York"),
                  sydney = QStringLiteral("Australia/Sydney");

    QTest::newRow("Berlin: every 10 minutes up to the repeated hour")
        << berlin << TriggerSchedule::Daily(L(2024, 10, 25, 0, 0)).Repeating(600, 2 * Hour) << "2024-10-26T00:00:00+02:00";
    QTest::newRow("Berlin: 02:30 over autumn") << berlin << TriggerSchedule::Daily(L(2024, 10, 1, 2, 30))
                                               << "2024-10-25T00:00:00+02:00";
    QTest::newRow("New York: weekly Sunday 01:30 in November")
        << newYork << TriggerSchedule::Weekly(L(2024, 10, 1, 1, 30), 1, 0x1) << "2024-10-20T00:00:00-04:00";
    QTest::newRow("Sydney: 02:30 over April") << sydney << TriggerSchedule::Daily(L(2024, 4, 1, 2, 30))
                                              << "2024-04-05T00:00:00+11:00";
    QTest::newRow("the 31st of every month") << berlin << TriggerSchedule::MonthlyDate(L(2023, 1, 1, 9, 0), 1u << 30, 0xFFF)
                                             << "2023-12-01T00:00:00+01:00";
    QTest::newRow("the 29th, 30th and last day")
        << berlin << TriggerSchedule::MonthlyDate(L(2023, 1, 1, 9, 0), 3u << 28, 0xFFF, true) << "2023-12-01T00:00:00+01:00";
    QTest::newRow("29 February around 2100") << newYork << TriggerSchedule::MonthlyDate(L(2090, 1, 1, 9, 0), 1u << 28, 0x2)
                                             << "2090-01-01T00:00:00-05:00";
    QTest::newRow("last Friday of each month") << berlin << TriggerSchedule::MonthlyDow(L(2024, 1, 1, 18, 0), 0x10, 0x20, 0xFFF)
                                               << "2024-01-01T00:00:00+01:00";
    QTest::newRow("fourth and last Sunday") << newYork << TriggerSchedule::MonthlyDow(L(2024, 1, 1, 7, 0), 0x18, 0x1, 0xFFF)
                                            << "2024-01-01T00:00:00-05:00";
    QTest::newRow("every other week over New Year") << berlin << TriggerSchedule::Weekly(L(2024, 12, 18, 8, 0), 2, 0x7F)
                                                    << "2024-12-20T00:00:00+01:00";
    QTest::newRow("every seven days through spring") << newYork << TriggerSchedule::Daily(L(2024, 2, 20, 4, 0), 7)
                                                     << "2024-03-01T00:00:00-05:00";
    QTest::newRow("far future") << berlin << TriggerSchedule::MonthlyDate(L(2190, 1, 1, 12, 0), 0, 0xFFF, true)
                                << "2190-01-01T00:00:00+01:00";
    QTest::newRow("never: 30 February") << berlin << TriggerSchedule::MonthlyDate(L(2024, 1, 1, 12, 0), 1u << 29, 0x2)
                                        << "2024-01-01T00:00:00+01:00";
    QTest::newRow("once, long past") << berlin << TriggerSchedule::Once(L(2001, 9, 9, 9, 9)) << "2024-01-01T00:00:00+01:00";
}

void tst_CalendarCrossCheck::handPicked()
{
    QFETCH(QString, zone);
    QFETCH(TriggerSchedule, trigger);
    QFETCH(QString, from);

    // Few enough elapses that daily starts in the small hours do not reach the next spring gap.
    qint64 compared = 0;
    Compare(QTimeZone(zone.toLatin1()), QDateTime::fromString(from, Qt::ISODate).toSecsSinceEpoch(), 40, {trigger},
            &compared);
}

QTEST_GUILESS_MAIN(tst_CalendarCrossCheck)
#include "tst_calendar_crosscheck.moc"
