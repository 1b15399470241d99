// The 2.0 definitions as the schedule engine sees them: which fields become which rule, and
// the run times the service reports for them.

#include "gen2/ScheduledRuns.h"

#include <QTest>

Q_DECLARE_METATYPE(TaskDocument)

namespace {

TriggerData Trigger(int type, const QString& start)
{
    TriggerData t;
    t.type = type;
    t.startBoundary = start;
    return t;
}

QStringList Wall(const QList<RunTime>& runs)
{
    QStringList out;
    for (const RunTime& r : runs) out << r.local.ToString();
    return out;
}

QList<RunTime> Runs(const TaskDocument& doc, const QTimeZone& zone, const QString& from, int count)
{
    const ScheduleEngine engine(zone);
    const QDateTime begin = QDateTime::fromString(from, Qt::ISODate).toTimeZone(zone);
    return engine.RunTimes(TaskSchedule::ToSchedule(doc, zone), begin, std::nullopt, count);
}

} // namespace

class TestTaskSchedule : public QObject {
    Q_OBJECT

private slots:
    void runs_data()
    {
        QTest::addColumn<TaskDocument>("doc");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QStringList>("expected");

        const QString utc = QStringLiteral("UTC"), berlin = QStringLiteral("Europe/Berlin");
        const QString from = QStringLiteral("2024-01-01T00:00:00Z");

        TaskDocument once;
        once.triggers << Trigger(1, "2024-03-05T07:30:15");
        QTest::newRow("time trigger keeps its seconds") << once << utc << from << QStringList{"2024-03-05T07:30:15"};

        TaskDocument zoned;
        zoned.triggers << Trigger(1, "2024-07-01T10:00:00Z");
        QTest::newRow("Z boundary becomes local summer time") << zoned << berlin << from << QStringList{"2024-07-01T12:00:00"};
        TaskDocument offset;
        offset.triggers << Trigger(1, "2024-07-01T10:00:00+05:30");
        QTest::newRow("offset boundary") << offset << utc << from << QStringList{"2024-07-01T04:30:00"};

        TaskDocument daily;
        TriggerData d = Trigger(2, "2024-01-01T08:00:00");
        d.daysInterval = 3;
        d.repetition.interval = "PT30M";
        d.repetition.duration = "PT1H";
        daily.triggers << d;
        QTest::newRow("daily with repetition, the duration's end excluded")
            << daily << utc << from << QStringList{"2024-01-01T08:00:00", "2024-01-01T08:30:00", "2024-01-04T08:00:00"};

        TaskDocument weekly;
        TriggerData w = Trigger(3, "2024-01-01T06:00:00");   // a Monday
        w.weeksInterval = 2;
        w.daysOfWeek = 0x01 | 0x20;   // Sunday and Friday
        weekly.triggers << w;
        QTest::newRow("weekly every other week")
            << weekly << utc << from << QStringList{"2024-01-05T06:00:00", "2024-01-14T06:00:00", "2024-01-19T06:00:00"};

        TaskDocument lastDay;
        TriggerData m = Trigger(4, "2024-01-01T12:00:00");
        m.daysOfMonth = 1 << 29;      // the 30th
        m.monthsOfYear = 0x3;         // January and February
        m.runOnLastDayOfMonth = true;
        lastDay.triggers << m;
        QTest::newRow("30th and last day, February skips the 30th")
            << lastDay << utc << from << QStringList{"2024-01-30T12:00:00", "2024-01-31T12:00:00", "2024-02-29T12:00:00", "2025-01-30T12:00:00"};

        TaskDocument lastWeek;
        TriggerData dow = Trigger(5, "2024-01-01T18:00:00");
        dow.daysOfWeek = 0x20;        // Friday
        dow.weeksOfMonth = 0x1;       // first
        dow.runOnLastWeekOfMonth = true;
        dow.monthsOfYear = 0x1;
        lastWeek.triggers << dow;
        QTest::newRow("first and last Friday")
            << lastWeek << utc << from << QStringList{"2024-01-05T18:00:00", "2024-01-26T18:00:00", "2025-01-03T18:00:00"};

        TaskDocument ended;
        TriggerData e = Trigger(2, "2024-01-01T08:00:00");
        e.endBoundary = "2024-01-03T08:00:00";
        ended.triggers << e;
        QTest::newRow("end boundary is exclusive") << ended << utc << from << QStringList{"2024-01-01T08:00:00", "2024-01-02T08:00:00"};

        TaskDocument merged;
        merged.triggers << Trigger(1, "2024-02-01T09:00:00") << Trigger(2, "2024-01-31T09:00:00") << Trigger(8, "");
        QTest::newRow("union without duplicates, boot has no calendar")
            << merged << utc << from << QStringList{"2024-01-31T09:00:00", "2024-02-01T09:00:00", "2024-02-02T09:00:00"};

        TaskDocument disabledTask = daily;
        disabledTask.settings.enabled = false;
        QTest::newRow("disabled task") << disabledTask << utc << from << QStringList{};
        TaskDocument disabledTrigger = once;
        disabledTrigger.triggers[0].enabled = false;
        QTest::newRow("disabled trigger") << disabledTrigger << utc << from << QStringList{};
        TaskDocument noStart;
        noStart.triggers << Trigger(2, "");
        QTest::newRow("daily without a start never runs") << noStart << utc << from << QStringList{};
        TaskDocument zeroInterval = daily;
        zeroInterval.triggers[0].daysInterval = 0;
        QTest::newRow("interval 0 never runs") << zeroInterval << utc << from << QStringList{};

        TaskDocument gap;
        gap.triggers << Trigger(2, "2024-03-30T02:30:00");
        QTest::newRow("start in the spring gap moves after it")
            << gap << berlin << from << QStringList{"2024-03-30T02:30:00", "2024-03-31T03:00:00", "2024-04-01T02:30:00"};
    }

    void runs()
    {
        QFETCH(TaskDocument, doc);
        QFETCH(QString, zone);
        QFETCH(QString, from);
        QFETCH(QStringList, expected);
        const QStringList runs = Wall(Runs(doc, QTimeZone(zone.toLatin1()), from, int(expected.size()) + 1));
        QCOMPARE(runs.mid(0, expected.size()), expected);
        if (QByteArray(QTest::currentDataTag()).contains("exclusive") || expected.isEmpty()) QCOMPARE(runs.size(), expected.size());

    }

    void serviceTimesHonourPeriodAndCount()
    {
        TaskDocument doc;
        TriggerData t = Trigger(2, "2024-01-01T08:00:00");
        doc.triggers << t;
        const QDateTime from(QDate(2024, 1, 2), QTime(8, 0));
        const QDateTime to(QDate(2024, 1, 5), QTime(8, 0));
        const QList<QDateTime> times = ScheduledRunTimes(doc, from, to, 10);
        QCOMPARE(times.size(), 4);   // both ends included
        QCOMPARE(times.first(), from);
        QCOMPARE(times.last(), to);
        QCOMPARE(ScheduledRunTimes(doc, from, {}, 2).size(), 2);
        QVERIFY(ScheduledRunTimes(doc, from, {}, 0).isEmpty());
        QVERIFY(ScheduledRunTimes(doc, QDateTime(), {}, 5).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTaskSchedule)
#include "tst_taskschedule.moc"
