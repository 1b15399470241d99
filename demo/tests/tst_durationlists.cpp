// The duration lists of the properties windows: item texts to the service's durations and back.

#include "Props.h"

#include <QtTest>

class TestDurationLists : public QObject {
    Q_OBJECT

private slots:
    void timeString_data();
    void timeString();
    void timeIndex_data();
    void timeIndex();
};

void TestDurationLists::timeString_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("duration");
    QTest::newRow("empty") << "" << "";
    QTest::newRow("zero item") << "Immediately" << "PT0S";
    QTest::newRow("do not wait") << "Do not wait" << "PT0S";
    QTest::newRow("minutes") << "10 minutes" << "PT10M";
    QTest::newRow("zero minutes") << "0 minutes" << "PT0M";
    QTest::newRow("one hour") << "1 hour" << "PT1H";
    QTest::newRow("hours") << "2 hours" << "PT2H";
    QTest::newRow("one day") << "1 day" << "P1D";
    QTest::newRow("days") << "30 days" << "P30D";
    QTest::newRow("plain number") << "3" << "3";
    QTest::newRow("number and a trailing blank") << "5 " << "PT5M";
}

void TestDurationLists::timeString()
{
    QFETCH(QString, text);
    QFETCH(QString, duration);
    QCOMPARE(GetTimeString(text), duration);
}

void TestDurationLists::timeIndex_data()
{
    const QStringList stop{"1 hour", "2 hours", "4 hours", "8 hours", "12 hours", "1 day", "3 days"};
    const QStringList wait{"Do not wait", "1 minute", "5 minutes", "10 minutes", "15 minutes", "30 minutes", "1 hour", "2 hours"};
    const QStringList del{"Immediately", "30 days", "90 days", "180 days", "365 days"};
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("includesZero");
    QTest::addColumn<int>("index");
    QTest::newRow("empty") << stop << "" << false << -1;
    QTest::newRow("one hour") << stop << "PT1H" << false << 0;
    QTest::newRow("letter case ignored") << stop << "pt2h" << false << 1;
    QTest::newRow("sixty minutes are not the list's form") << stop << "PT60M" << false << -1;
    QTest::newRow("ninety minutes") << stop << "PT90M" << false << -1;
    QTest::newRow("24 hours are a day") << stop << "PT24H" << false << 5;
    QTest::newRow("36 hours are a day") << stop << "PT36H" << false << 5;
    QTest::newRow("72 hours are three days") << stop << "PT72H" << false << 6;
    QTest::newRow("two days are not listed") << stop << "P2D" << false << -1;
    QTest::newRow("zero with a zero item") << wait << "PT0S" << true << 0;
    QTest::newRow("zero without one") << stop << "PT0S" << false << -1;
    QTest::newRow("zero in a list of minutes") << wait << "PT0S" << false << 0;
    QTest::newRow("minutes") << wait << "PT10M" << false << 3;
    QTest::newRow("hours below a day") << wait << "PT2H" << false << 7;
    QTest::newRow("immediately") << del << "PT0S" << true << 0;
    QTest::newRow("ninety days") << del << "P90D" << true << 2;
}

void TestDurationLists::timeIndex()
{
    QFETCH(QStringList, items);
    QFETCH(QString, value);
    QFETCH(bool, includesZero);
    QFETCH(int, index);
    QCOMPARE(GetTimeIndex(items, value, includesZero), index);
}

QTEST_GUILESS_MAIN(TestDurationLists)
#include "tst_durationlists.moc"
