// Run times as they cross between the service and its clients: what the service packs comes
// out as the same local times, in the caller's zone or the service's, and bytes that are not
// whole runs are refused rather than read as some other times.

#include "CivilDate.h"
#include "OleDate.h"
#include "RunTimesWire.h"

#include <QTest>
#include <cstdlib>
#include <ctime>

namespace {

// The run at `moment`, with the wall clock of this process's zone then.
RunTime Run(const QDateTime& moment)
{
    RunTime run;
    run.utc = moment.toSecsSinceEpoch();
    const QDateTime local = moment.toLocalTime();
    run.local = LocalDateTime(local.date(), local.time());
    return run;
}

QString Text(const SYSTEMTIME& t)
{
    return QStringLiteral("%1-%2-%3 %4:%5:%6 (%7)")
        .arg(t.wYear)
        .arg(t.wMonth, 2, 10, QLatin1Char('0'))
        .arg(t.wDay, 2, 10, QLatin1Char('0'))
        .arg(t.wHour, 2, 10, QLatin1Char('0'))
        .arg(t.wMinute, 2, 10, QLatin1Char('0'))
        .arg(t.wSecond, 2, 10, QLatin1Char('0'))
        .arg(t.wDayOfWeek);
}

QStringList Texts(const QList<SYSTEMTIME>& times)
{
    QStringList out;
    for (const SYSTEMTIME& t : times) out << Text(t);
    return out;
}

} // namespace

class TestRunTimesWire : public QObject {
    Q_OBJECT

private slots:
    void sameTimesEitherWay_data()
    {
        QTest::addColumn<QList<QDateTime>>("moments");
        const auto utc = [](const char* text) { return QDateTime::fromString(QLatin1String(text), Qt::ISODate); };
        QList<QDateTime> everyTenMinutes;
        for (int i = 0; i < 200; ++i) everyTenMinutes << utc("2030-03-30T22:00:00Z").addSecs(600 * i);
        QTest::newRow("every ten minutes across the change to summer time") << everyTenMinutes;
        QList<QDateTime> backAnHour;
        for (int i = 0; i < 20; ++i) backAnHour << utc("2030-10-26T23:30:00Z").addSecs(900 * i);
        QTest::newRow("the hour repeated at the end of summer time") << backAnHour;
        QTest::newRow("years apart") << QList<QDateTime>{utc("1601-01-01T12:00:00Z"), utc("2030-06-15T09:00:00Z"),
                                                         utc("9998-12-31T12:00:00Z")};
        QTest::newRow("one run") << QList<QDateTime>{utc("2030-01-01T00:00:00Z")};
        QTest::newRow("no runs") << QList<QDateTime>{};
    }
    // The wall clocks when the caller shares the service's zone, the moments otherwise: both
    // show what the local time of each moment shows.
    void sameTimesEitherWay()
    {
        QFETCH(QList<QDateTime>, moments);
        QList<RunTime> runs;
        QStringList expected;
        for (const QDateTime& m : moments) {
            runs << Run(m);
            expected << Text(OleDate::ToSystemTime(m));
        }
        for (const bool wall : {true, false}) {
            const auto times = RunTimesWire::Unpack(RunTimesWire::Pack(runs, wall), wall);
            QVERIFY(times);
            QCOMPARE(Texts(*times), expected);
        }
    }

    // Close runs take a byte or two each; a list of the most runs a call returns stays small.
    void closeRunsArePackedSmall()
    {
        QList<RunTime> runs;
        const QDateTime first = QDateTime::fromString(QStringLiteral("2030-01-01T00:00:00Z"), Qt::ISODate);
        for (int i = 0; i < 65535; ++i) runs << Run(first.addSecs(60 * i));
        QVERIFY(RunTimesWire::Pack(runs, true).size() < 65535 + 16);
    }

    // A next or last run read from a status answer: the same DATE as the local-time classes
    // give, across both changes of offset, before 1899 and with milliseconds.
    void localDates()
    {
        for (const char* text : {"2030-03-31T00:59:59.999Z", "2030-03-31T01:00:00Z", "2030-10-27T00:30:00Z",
                                 "2030-10-27T01:30:00.250Z", "1850-07-01T12:00:00Z", "1970-01-01T00:00:00Z",
                                 "9999-12-31T12:00:00Z"}) {
            const QDateTime moment = QDateTime::fromString(QLatin1String(text), Qt::ISODate);
            QCOMPARE(RunTimesWire::LocalDate(moment.toMSecsSinceEpoch()), OleDate::FromDateTime(moment));
        }
    }

    void refused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ends inside a number") << QByteArray::fromHex("8e86ebde");
        QTest::newRow("a number longer than 64 bits") << QByteArray::fromHex("ffffffffffffffffffff01");
        // 2^40 seconds and more are beyond the year 30827 in either direction.
        QTest::newRow("after the last year") << QByteArray::fromHex("8080808080c000");
        QTest::newRow("before the first year") << QByteArray::fromHex("ffffffffff3f");
    }
    void refused()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!RunTimesWire::Unpack(bytes, true));
        QVERIFY(!RunTimesWire::Unpack(bytes, false));
    }
};

int main(int argc, char** argv)
{
    // A zone with summer time, so that a moment and its wall clock differ by season.
    qputenv("TZ", "Europe/Berlin");
    tzset();
    TestRunTimesWire test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_runtimeswire.moc"
