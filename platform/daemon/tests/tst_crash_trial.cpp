// A real daemon killed at random moments while a client changes tasks through it: nothing it
// acknowledged is lost, and nothing it stored is damaged. A benchmark program runs many more.

#include "CrashTrial.h"
#include "ObjectRuntime.h"
#include "ResultCodes.h"
#include "TemporaryServiceRoot.h"

#include <QtTest>

class TestCrashTrial : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qunsetenv("TASKSCHEDULER_TRANSPORT");   // the real daemon, over its socket
        QCOMPARE(CoInitialize(nullptr), S_OK);
    }
    void cleanupTestCase() { CoUninitialize(); }

    void killsLoseNothingAcknowledged()
    {
        TemporaryServiceRoot root;
        QVERIFY(root.IsValid());
        const CrashTrial::Result result = CrashTrial::Run(root.Path(), 8, 20261209);
        QVERIFY2(result.problems.isEmpty(), qPrintable(result.problems.join(QLatin1Char('\n'))));
        QCOMPARE(result.trials, 8);
        QVERIFY(result.acknowledged > 0);
        QCOMPARE(result.lost, 0);
        QCOMPARE(result.damaged, 0);
    }
};

QTEST_GUILESS_MAIN(TestCrashTrial)
#include "tst_crash_trial.moc"
