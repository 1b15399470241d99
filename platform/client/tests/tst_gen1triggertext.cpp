// The service's description of each kind of trigger, with its details.

#include "Gen1TriggerText.h"
#include "TriggerRecords.h"

#include <QtTest>

using TriggerRecords::Bytes;
using TriggerRecords::Record;

class TestGen1TriggerText : public QObject {
    Q_OBJECT

private slots:
    void describe_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("text");
        auto row = [](const char* name, const TASK_TRIGGER& t, const char* text) {
            QTest::newRow(name) << Bytes(t) << QString::fromUtf8(text);
        };

        TASK_TRIGGER t = Record(TASK_TIME_TRIGGER_ONCE);
        t.wStartMinute = 5;
        row("once", t, "At 09:05 on 15/03/2024");
        t.wBeginYear = t.wBeginMonth = t.wBeginDay = 0;
        row("once without a date", t, "At 09:05 (no date set)");

        t = Record(TASK_TIME_TRIGGER_DAILY);
        t.Type.Daily.DaysInterval = 1;
        row("daily", t, "At 09:00 every day, starting 15/03/2024");
        t.Type.Daily.DaysInterval = 0;
        row("daily, interval 0", t, "At 09:00 every day, starting 15/03/2024");
        t.Type.Daily.DaysInterval = 3;
        row("every 3 days", t, "At 09:00 every 3 days, starting 15/03/2024");
        t.wBeginYear = t.wBeginMonth = t.wBeginDay = 0;
        row("daily without a date", t, "At 09:00 every 3 days (no start date set)");

        t = Record(TASK_TIME_TRIGGER_WEEKLY);
        t.Type.Weekly.WeeksInterval = 1;
        t.Type.Weekly.rgfDaysOfTheWeek = TASK_SUNDAY | TASK_SATURDAY;
        row("weekly", t, "At 09:00 every Sunday, Saturday of every week, starting 15/03/2024");
        t.Type.Weekly.WeeksInterval = 2;
        t.Type.Weekly.rgfDaysOfTheWeek = TASK_MONDAY | TASK_FRIDAY;
        row("every 2 weeks", t, "At 09:00 every Monday, Friday of every 2 weeks, starting 15/03/2024");
        t.Type.Weekly.rgfDaysOfTheWeek = 0;
        row("weekly, no day", t, "At 09:00 on no day of every 2 weeks, starting 15/03/2024");

        t = Record(TASK_TIME_TRIGGER_MONTHLYDATE);
        t.Type.MonthlyDate.rgfDays = 1u | (1u << 14) | (1u << 30);
        t.Type.MonthlyDate.rgfMonths = 0xFFF;
        row("monthly, every month", t, "At 09:00 on days 1, 15, 31 of every month, starting 15/03/2024");
        t.Type.MonthlyDate.rgfDays = 1u << 9;
        t.Type.MonthlyDate.rgfMonths = TASK_JANUARY | TASK_MARCH | TASK_DECEMBER;
        row("monthly, some months", t, "At 09:00 on day 10 of January, March, December, starting 15/03/2024");
        t.Type.MonthlyDate.rgfDays = 0;
        t.Type.MonthlyDate.rgfMonths = 0;
        row("monthly, nothing chosen", t, "At 09:00 on no day of no month, starting 15/03/2024");

        t = Record(TASK_TIME_TRIGGER_MONTHLYDOW);
        t.Type.MonthlyDOW.wWhichWeek = TASK_SECOND_WEEK;
        t.Type.MonthlyDOW.rgfDaysOfTheWeek = TASK_MONDAY;
        t.Type.MonthlyDOW.rgfMonths = 0xFFF;
        row("second Monday", t, "At 09:00 on the second Monday of every month, starting 15/03/2024");
        t.Type.MonthlyDOW.wWhichWeek = TASK_LAST_WEEK;
        t.Type.MonthlyDOW.rgfDaysOfTheWeek = TASK_TUESDAY | TASK_THURSDAY;
        t.Type.MonthlyDOW.rgfMonths = TASK_JUNE;
        row("last Tuesday and Thursday", t, "At 09:00 on the last Tuesday, Thursday of June, starting 15/03/2024");
        t.Type.MonthlyDOW.rgfDaysOfTheWeek = 0;
        row("monthly by weekday, no day", t, "At 09:00 on no day of the last week of June, starting 15/03/2024");

        row("idle", Record(TASK_EVENT_TRIGGER_ON_IDLE), "When the computer is idle");
        row("startup", Record(TASK_EVENT_TRIGGER_AT_SYSTEMSTART), "At system startup");
        row("logon", Record(TASK_EVENT_TRIGGER_AT_LOGON), "At logon");

        t = Record(TASK_TIME_TRIGGER_DAILY);
        t.Type.Daily.DaysInterval = 1;
        t.rgFlags = TASK_TRIGGER_FLAG_HAS_END_DATE | TASK_TRIGGER_FLAG_KILL_AT_DURATION_END;
        t.wEndYear = 2024;
        t.wEndMonth = 4;
        t.wEndDay = 14;
        t.MinutesInterval = 10;
        t.MinutesDuration = 150;
        row("with end, repetition and stop", t,
            "At 09:00 every day, starting 15/03/2024, ending 14/04/2024, repeating every 10 minutes for 2 hours 30 minutes, then stopping the task");
        t.rgFlags = TASK_TRIGGER_FLAG_KILL_AT_DURATION_END | TASK_TRIGGER_FLAG_DISABLED;
        t.MinutesInterval = 0;
        t.MinutesDuration = 1441;
        t.wRandomMinutesInterval = 60;
        row("stop without repetition, delay, disabled", t,
            "At 09:00 every day, starting 15/03/2024, stopping the task after 1 day 1 minute, delayed at random by up to 1 hour (disabled)");
    }
    void describe()
    {
        QFETCH(QByteArray, record);
        QFETCH(QString, text);
        TASK_TRIGGER t;
        std::memcpy(&t, record.constData(), sizeof t);
        QCOMPARE(Gen1TriggerText::Describe(t, QLocale(QLocale::English, QLocale::UnitedKingdom)), text);
    }

    void followsTheLocale()
    {
        TASK_TRIGGER t = Record(TASK_TIME_TRIGGER_WEEKLY);
        t.wStartHour = 21;
        t.Type.Weekly.WeeksInterval = 1;
        t.Type.Weekly.rgfDaysOfTheWeek = TASK_MONDAY;
        const QLocale german(QLocale::German, QLocale::Germany);
        QCOMPARE(Gen1TriggerText::Describe(t, german), QStringLiteral("At 21:00 every Montag of every week, starting 15.03.24"));
        const QLocale us(QLocale::English, QLocale::UnitedStates);
        QVERIFY(Gen1TriggerText::Describe(t, us).startsWith(QStringLiteral("At 9:00")));
        QVERIFY(Gen1TriggerText::Describe(t, us).endsWith(QStringLiteral("3/15/24")));
    }

    void minutes()
    {
        QCOMPARE(Gen1TriggerText::Minutes(0), QStringLiteral("0 minutes"));
        QCOMPARE(Gen1TriggerText::Minutes(1), QStringLiteral("1 minute"));
        QCOMPARE(Gen1TriggerText::Minutes(60), QStringLiteral("1 hour"));
        QCOMPARE(Gen1TriggerText::Minutes(2 * 1440 + 61), QStringLiteral("2 days 1 hour 1 minute"));
    }
};

QTEST_GUILESS_MAIN(TestGen1TriggerText)
#include "tst_gen1triggertext.moc"
