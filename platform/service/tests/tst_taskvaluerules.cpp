// Duration and boundary texts, and the checks a definition passes before it is stored.

#include "SampleDocuments.h"
#include "gen2/TaskValueRules.h"

#include <QTest>

class TestTaskValueRules : public QObject {
    Q_OBJECT

private slots:
    void durations_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<qint64>("seconds");
        QTest::newRow("zero") << "PT0S" << true << qint64(0);
        QTest::newRow("minutes") << "PT10M" << true << qint64(600);
        QTest::newRow("days and time") << "P1DT2H3M" << true << qint64(93780);
        QTest::newRow("days") << "P3D" << true << qint64(259200);
        QTest::newRow("seconds") << "PT90S" << true << qint64(90);
        QTest::newRow("years and months") << "P1Y2M" << true << qint64(0);
        QTest::newRow("empty") << "" << false << qint64(0);
        QTest::newRow("P alone") << "P" << false << qint64(0);
        QTest::newRow("T alone") << "PT" << false << qint64(0);
        QTest::newRow("date part after T") << "PT1D" << false << qint64(0);
        QTest::newRow("fraction") << "PT1.5H" << false << qint64(0);
        QTest::newRow("negative") << "-PT1H" << false << qint64(0);
        QTest::newRow("lower case") << "pt1h" << false << qint64(0);
        QTest::newRow("order") << "PT1M1H" << false << qint64(0);
        QTest::newRow("blank") << "PT1H " << false << qint64(0);
        QTest::newRow("ten digits") << "PT1234567890S" << false << qint64(0);
    }

    void durations()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(qint64, seconds);
        const auto parts = TaskValueRules::ParseDuration(text);
        QCOMPARE(parts.has_value(), valid);
        if (parts && !parts->years && !parts->months) QCOMPARE(parts->TotalSeconds(), seconds);
        QCOMPARE(TaskValueRules::IsDurationOrEmpty(text), valid || text.isEmpty());
    }

    void boundaries_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QDateTime>("utc");
        QTest::newRow("utc") << "2024-03-15T09:30:00Z" << true << QDateTime(QDate(2024, 3, 15), QTime(9, 30), Qt::UTC);
        QTest::newRow("offset") << "2024-03-15T09:30:00+02:00" << true << QDateTime(QDate(2024, 3, 15), QTime(7, 30), Qt::UTC);
        QTest::newRow("fraction") << "2024-03-15T09:30:00.250-01:00" << true << QDateTime(QDate(2024, 3, 15), QTime(10, 30, 0, 250), Qt::UTC);
        QTest::newRow("leap day") << "2024-02-29T00:00:00Z" << true << QDateTime(QDate(2024, 2, 29), QTime(0, 0), Qt::UTC);
        QTest::newRow("no leap day") << "2023-02-29T00:00:00" << false << QDateTime();
        QTest::newRow("no seconds") << "2024-03-15T09:30" << false << QDateTime();
        QTest::newRow("space") << "2024-03-15 09:30:00" << false << QDateTime();
        QTest::newRow("hour 24") << "2024-03-15T24:00:00" << false << QDateTime();
        QTest::newRow("zone hour 15") << "2024-03-15T09:30:00+15:00" << false << QDateTime();
        QTest::newRow("before 1601") << "1600-12-31T00:00:00" << false << QDateTime();
    }

    void boundaries()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QDateTime, utc);
        const auto parsed = TaskValueRules::ParseBoundary(text);
        QCOMPARE(parsed.has_value(), valid);
        if (parsed) QCOMPARE(parsed->toUTC(), utc);
        const auto local = TaskValueRules::ParseBoundary(QStringLiteral("2024-03-15T09:30:15"));
        QVERIFY(local && local->timeSpec() == Qt::LocalTime && local->time() == QTime(9, 30, 15));
    }

    void documentChecks_data()
    {
        QTest::addColumn<int>("change");
        QTest::addColumn<HRESULT>("expected");
        // How the problem begins: it names the property at fault, so a user can find it.
        QTest::addColumn<QString>("message");
        QTest::newRow("sample") << 0 << S_OK << QString();
        QTest::newRow("interval below a minute") << 1 << SCHED_E_INVALIDVALUE << "Trigger 3 Repetition Interval: \"PT30S\"";
        QTest::newRow("duration shorter than interval") << 2 << SCHED_E_INVALIDVALUE << "Trigger 3 Repetition Duration: \"PT5M\"";
        QTest::newRow("end before start") << 3 << SCHED_E_INVALIDVALUE << "Trigger 3 EndBoundary: ";
        QTest::newRow("restart interval in months") << 4 << SCHED_E_INVALIDVALUE << "Settings RestartInterval: \"P1M\"";
        QTest::newRow("priority out of range") << 5 << SCHED_E_INVALIDVALUE << "Settings Priority: the value 11 is out of range.";
        QTest::newRow("network id") << 6 << SCHED_E_INVALIDVALUE << "Settings NetworkSettings Id: ";
        QTest::newRow("handler without class") << 7 << SCHED_E_INVALIDVALUE << "Action 2 ClassId: ";
        QTest::newRow("monthly day-of-week without weeks") << 8 << SCHED_E_INVALIDVALUE << "Trigger 6 WeeksOfMonth: ";
        QTest::newRow("monthly with last day only") << 9 << S_OK << QString();
        QTest::newRow("33 actions") << 10 << SCHED_E_TOO_MANY_NODES << "A task holds at most 32 actions.";
        QTest::newRow("daily every 0 days") << 11 << SCHED_E_INVALIDVALUE << "Trigger 3 DaysInterval: the value 0 is out of range.";
        QTest::newRow("settings duration") << 12 << SCHED_E_INVALIDVALUE << "Settings ExecutionTimeLimit: \"soon\" is not a duration.";
        QTest::newRow("logon type") << 13 << SCHED_E_INVALIDVALUE << "Principal LogonType: the value 99 is out of range.";
        QTest::newRow("program action without program") << 14 << SCHED_E_MISSINGNODE << "Action 1 Path: ";
    }

    void documentChecks()
    {
        QFETCH(int, change);
        QFETCH(HRESULT, expected);
        QFETCH(QString, message);
        TaskDocument d = FullDocument();
        TriggerData& daily = d.triggers[2];
        switch (change) {
        case 1: daily.repetition.interval = QStringLiteral("PT30S"); break;
        case 2: daily.repetition.duration = QStringLiteral("PT5M"); break;
        case 3: daily.endBoundary = QStringLiteral("2024-01-01T00:00:00Z"); break;
        case 4: d.settings.restartInterval = QStringLiteral("P1M"); break;
        case 5: d.settings.priority = 11; break;
        case 6: d.settings.network.id = QStringLiteral("office"); break;
        case 7: d.actions[1].classId.clear(); break;
        case 8: d.triggers[5].weeksOfMonth = 0; d.triggers[5].runOnLastWeekOfMonth = false; break;
        case 9: d.triggers[4].daysOfMonth = 0; break;
        case 10: while (d.actions.size() < 33) d.actions.append(d.actions.first()); break;
        case 11: daily.daysInterval = 0; break;
        case 12: d.settings.executionTimeLimit = QStringLiteral("soon"); break;
        case 13: d.principal.logonType = 99; break;
        case 14: d.actions[0].path = QStringLiteral("  "); break;
        default: break;
        }
        const ValueProblem problem = TaskValueRules::CheckDocument(d);
        QCOMPARE(problem.code, expected);
        QCOMPARE(problem.message.isEmpty(), problem.IsOk());
        QVERIFY2(problem.message.startsWith(message), qPrintable(problem.message));
    }
};

QTEST_GUILESS_MAIN(TestTaskValueRules)
#include "tst_taskvaluerules.moc"
