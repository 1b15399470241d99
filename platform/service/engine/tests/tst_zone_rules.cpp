// The engine's own zone tables against Qt's time-zone database, the yearly rules they
// continue with, the zone file reader on damaged input and the calendar arithmetic.

#include "CivilDate.h"
#include "PosixZoneRule.h"
#include "ZoneFile.h"
#include "ZoneRules.h"

#include <QDateTime>
#include <QTest>

class tst_ZoneRules : public QObject {
    Q_OBJECT
private slots:
    void offsetsMatchTheZoneDatabase_data();
    void offsetsMatchTheZoneDatabase();
    void rules_data();
    void rules();
    void damagedZoneFiles_data();
    void damagedZoneFiles();
    void civilDateMatchesQDate();
};

void tst_ZoneRules::offsetsMatchTheZoneDatabase_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<int>("fromYear");
    QTest::addColumn<int>("toYear");
    // Northern and southern summers, a zone whose summer offset is below its standard one in
    // the source data, half- and three-quarter-hour offsets, a zone that dropped its rule,
    // one with listed changes decades ahead, and a fixed one.
    const QList<QByteArray> zones{"Europe/Berlin",    "America/New_York", "Australia/Sydney", "Europe/Dublin",
                                  "Australia/Adelaide", "Pacific/Chatham", "Asia/Tehran",      "America/Sao_Paulo",
                                  "Africa/Casablanca", "America/Nuuk",    "Asia/Kolkata",      "UTC"};
    for (const QByteArray& zone : zones) {
        QTest::newRow(zone + " 1970-2160") << zone << 1970 << 2160;
        QTest::newRow(zone + " 2390-2410") << zone << 2390 << 2410;
        QTest::newRow(zone + " 9990-9999") << zone << 9990 << 9999;
    }
    QTest::newRow("Europe/Berlin 1900-1970") << QByteArray("Europe/Berlin") << 1900 << 1970;
}

// The wall clock the engine gives for moments 47 hours apart (every hour of the day in turn), and at every change Qt knows
// of (and a second before it), equals Qt's.
void tst_ZoneRules::offsetsMatchTheZoneDatabase()
{
    QFETCH(QByteArray, zone);
    QFETCH(int, fromYear);
    QFETCH(int, toYear);
    const QTimeZone tz(zone);
    if (!tz.isValid()) QSKIP("zone not installed");
    const ZoneRules rules(tz);
    ZoneCursor cursor(rules);
    const qint64 from = QDateTime(QDate(fromYear, 1, 1), QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch();
    const qint64 to = QDateTime(QDate(toYear, 12, 31), QTime(23, 0), QTimeZone::utc()).toSecsSinceEpoch();
    QList<qint64> moments;
    for (qint64 t = from; t <= to; t += 47 * 3600) moments << t;
    for (const QTimeZone::OffsetData& change :
         tz.transitions(QDateTime::fromSecsSinceEpoch(from, QTimeZone::utc()), QDateTime::fromSecsSinceEpoch(to, QTimeZone::utc()))) {
        moments << change.atUtc.toSecsSinceEpoch() << change.atUtc.toSecsSinceEpoch() - 1;
    }
    int mismatches = 0;
    for (const qint64 t : moments) {
        const int expected = tz.offsetFromUtc(QDateTime::fromSecsSinceEpoch(t, QTimeZone::utc()));
        const qint64 got = cursor.WallAt(t) - t;
        if (got != expected && ++mismatches <= 3)
            qWarning("%s at %s: %lld instead of %d", zone.constData(),
                     qPrintable(QDateTime::fromSecsSinceEpoch(t, QTimeZone::utc()).toString(Qt::ISODate)), got, expected);
    }
    QCOMPARE(mismatches, 0);
}

void tst_ZoneRules::rules_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("year");
    QTest::addColumn<QStringList>("changes"); // "yyyy-MM-ddTHH:mm:ssZ +offset"

    auto row = [](const char* name, const char* text, int year, const QStringList& changes) {
        QTest::newRow(name) << QByteArray(text) << true << year << changes;
    };
    row("central Europe", "CET-1CEST,M3.5.0,M10.5.0/3", 2400,
        {"2400-03-26T01:00:00Z +7200", "2400-10-29T01:00:00Z +3600"});
    row("United States east", "EST5EDT,M3.2.0,M11.1.0", 9998,
        {"9998-03-08T07:00:00Z -14400", "9998-11-01T06:00:00Z -18000"});
    row("southern summer", "AEST-10AEDT,M10.1.0,M4.1.0/3", 2030,
        {"2030-04-06T16:00:00Z +36000", "2030-10-05T16:00:00Z +39600"});
    row("quoted names, negative change time", "<-02>2<-01>,M3.5.0/-1,M10.5.0/0", 2100,
        {"2100-03-28T01:00:00Z -3600", "2100-10-31T01:00:00Z -7200"});
    row("fourth Thursday at 26:00", "IST-2IDT,M3.4.4/26,M10.5.0", 2050,
        {"2050-03-25T00:00:00Z +10800", "2050-10-29T23:00:00Z +7200"});
    row("days without leap day", "XST3XDT,J60/0,J300/0", 2024,
        {"2024-03-01T03:00:00Z -7200", "2024-10-27T02:00:00Z -10800"});
    row("zero-based days", "XST3XDT,59/0,299/0", 2024,
        {"2024-02-29T03:00:00Z -7200", "2024-10-26T02:00:00Z -10800"});
    row("offset with minutes", "<+0545>-5:45", 2024, {});
    row("no dates: the United States' rule", "EST5EDT", 2024,
        {"2024-03-10T07:00:00Z -14400", "2024-11-03T06:00:00Z -18000"});
    for (const char* bad : {"", "C", "CET", "CET-1CEST,M3.5.0", "CET-1CEST,M13.5.0,M10.5.0", "CET-1CEST,M3.6.0,M10.5.0",
                            "CET-1CEST,J0,J300", "<+01-1", "CET-1CEST,M3.5.0,M10.5.0/3x", "CET-25"}) {
        QTest::newRow(qPrintable(QStringLiteral("invalid \"%1\"").arg(QLatin1String(bad)))) << QByteArray(bad) << false << 2024
                                                                                          << QStringList{};
    }
}

void tst_ZoneRules::rules()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(int, year);
    QFETCH(QStringList, changes);
    const std::optional<PosixZoneRule> rule = PosixZoneRule::Parse(text);
    QCOMPARE(rule.has_value(), valid);
    if (!rule) return;
    QStringList got;
    for (const PosixZoneRule::Change& c : rule->ChangesOf(year)) {
        got << QDateTime::fromSecsSinceEpoch(c.atUtc, QTimeZone::utc()).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'")) +
                   QStringLiteral(" %1%2").arg(c.offsetAfter >= 0 ? "+" : "").arg(c.offsetAfter);
    }
    QCOMPARE(got, changes);
}

void tst_ZoneRules::damagedZoneFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QFile file(QStringLiteral("/usr/share/zoneinfo/Europe/Berlin"));
    const QByteArray good = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not a zone file") << QByteArray("#!/bin/sh\necho hello\n").repeated(8);
    if (good.isEmpty()) return;
    QTest::newRow("cut in the header") << good.left(30);
    QTest::newRow("cut in the data") << good.left(good.size() / 2);
    QTest::newRow("no rule line end") << good.chopped(1);
    QByteArray version1 = good;
    version1[4] = '\0';
    QTest::newRow("version 1 only") << version1;
    QByteArray huge = good;
    huge[32] = '\x7f'; // the first header's count of changes
    QTest::newRow("counts beyond the file") << huge;
    QByteArray badRule = good;
    badRule.insert(badRule.lastIndexOf('\n'), ",M99");
    QTest::newRow("damaged rule") << badRule;
}

// A damaged file is refused, never half read; the engine then asks Qt instead.
void tst_ZoneRules::damagedZoneFiles()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(!ZoneFile::Parse(bytes).has_value());
}

void tst_ZoneRules::civilDateMatchesQDate()
{
    int mismatches = 0;
    const auto check = [&](qint64 jd) {
        const QDate expected = QDate::fromJulianDay(jd);
        const CivilDate got = CivilDate::FromJulianDay(jd);
        if (got != CivilDate{expected.year(), expected.month(), expected.day()} || got.JulianDay() != jd ||
            CivilDate::DaysInMonth(got.year, got.month) != expected.daysInMonth() ||
            CivilDate::IsLeapYear(got.year) != QDate::isLeapYear(got.year))
            ++mismatches;
    };
    // Around year 1 (there is no year 0), the Gregorian reform, 1970 and every day up to 10000.
    for (qint64 jd = QDate(-5, 1, 1).toJulianDay(); jd < QDate(5, 12, 31).toJulianDay(); ++jd) check(jd);
    for (qint64 jd = QDate(1500, 1, 1).toJulianDay(); jd <= QDate(10000, 12, 31).toJulianDay(); ++jd) check(jd);
    QCOMPARE(mismatches, 0);
}

QTEST_GUILESS_MAIN(tst_ZoneRules)
#include "tst_zone_rules.moc"
