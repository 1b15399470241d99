// The shared helpers: sets, name comparison, month and weekday lists, date-time values and
// their texts, duration texts, and the environment questions.

#include "kvUtils.h"

#include "AdminCheck.h"
#include "Exceptions.h"
#include "OsVersion.h"
#include "TemporaryServiceRoot.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QtTest>
#include <cmath>
#include <limits>

namespace {
enum TProbe : quint8 { prFirst, prSecond, prThird, prSixteenth = 15, prLast = 31 };
using TProbes = TSet<TProbe>;

constexpr qint32 MaxInteger = std::numeric_limits<qint32>::max();

SYSTEMTIME Record(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0)
{
    SYSTEMTIME st{};
    st.wYear = WORD(year);
    st.wMonth = WORD(month);
    st.wDay = WORD(day);
    st.wHour = WORD(hour);
    st.wMinute = WORD(minute);
    st.wSecond = WORD(second);
    st.wMilliseconds = WORD(ms);
    return st;
}

TDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0)
{
    return EncodeDateTime(QDate(year, month, day), QTime(hour, minute, second, ms));
}

// Switches the default locale (and with it the comparison slots) for one test.
class LocaleScope {
public:
    explicit LocaleScope(const QLocale& locale) : m_previous(QLocale())
    {
        QLocale::setDefault(locale);
        ChooseLocaleComparison();
    }
    ~LocaleScope()
    {
        QLocale::setDefault(m_previous);
        ChooseLocaleComparison();
    }

private:
    QLocale m_previous;
};

const QLocale German(QLocale::German, QLocale::Germany);
const QLocale Swedish(QLocale::Swedish, QLocale::Sweden);
const QLocale AmericanEnglish(QLocale::English, QLocale::UnitedStates);
} // namespace

class TestKvUtils : public QObject {
    Q_OBJECT

private slots:
    void setOperations();

    void compareInLocale_data();
    void compareInLocale();
    void compareOrderDependsOnLocale();
    void plainNamesInTheCollatorsOrder_data();
    void plainNamesInTheCollatorsOrder();
    void compareStrEqualsOnlyIdenticalTexts();

    void monthsToText_data();
    void monthsToText();
    void daysOfMonthToText_data();
    void daysOfMonthToText();
    void daysOfWeekToText_data();
    void daysOfWeekToText();

    void isoDateTimeToDateTime_data();
    void isoDateTimeToDateTime();
    void isoDateTimeToDateTimeIgnoresUserDateFormat();
    void isoDateTimeToDateTimeFailures_data();
    void isoDateTimeToDateTimeFailures();

    void systemTimeToDateTimeRaw_data();
    void systemTimeToDateTimeRaw();
    void systemTimeToDateTimeRawMatchesCalendar();

    void dateTimeDecoding_data();
    void dateTimeDecoding();
    void systemTimeConversions();
    void qDateTimeConversions();
    void invalidValuesAreRefused();

    void dateTimeToUserText_data();
    void dateTimeToUserText();

    void minutesToDuration_data();
    void minutesToDuration();
    void durationToMinutes_data();
    void durationToMinutes();
    void durationRoundTrip();
    void digitsBefore_data();
    void digitsBefore();

    void environmentQuestions();

private:
    TemporaryServiceRoot m_root;
};

void TestKvUtils::setOperations()
{
    static_assert(TProbes{}.IsEmpty());
    static_assert(TProbes{prFirst, prThird}.Bits() == 0b101);
    static_assert(TProbes{prSixteenth, prLast}.Bits() == 0x8000'8000u);

    TProbes set{prSecond};
    QVERIFY(set.Contains(prSecond));
    QVERIFY(!set.Contains(prFirst));
    set.Include(prFirst).Include(prFirst).Exclude(prSecond);
    QCOMPARE(set.Bits(), 0b1u);
    QVERIFY(set == TProbes{prFirst});
    QVERIFY((set != TProbes{prFirst, prSecond}));
    set.Exclude(prFirst).Exclude(prThird);
    QVERIFY(set.IsEmpty());

    const TProbes fromBits = TProbes::FromBits(0x8000'0004u);
    QVERIFY(fromBits.Contains(prThird));
    QVERIFY(fromBits.Contains(prLast));
    QVERIFY(!fromBits.Contains(prSixteenth));
    QVERIFY(fromBits == (TProbes{prLast, prThird}));
}

void TestKvUtils::compareInLocale_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("text");
    QTest::addColumn<int>("str");

    // Ordinal comparison would put every one of these the other way round (or tell case apart).
    QTest::newRow("umlaut before Z") << German << u"Äpfel"_qs << u"Zebra"_qs << -1 << -1;
    QTest::newRow("lower a before capital B") << German << u"apfel"_qs << u"Birne"_qs << -1 << -1;
    QTest::newRow("capital B after lower a") << German << u"Birne"_qs << u"apfel"_qs << 1 << 1;
    QTest::newRow("case only") << German << u"Backup"_qs << u"BACKUP"_qs << 0 << 0;
    QTest::newRow("equal") << German << u"Sicherung"_qs << u"Sicherung"_qs << 0 << 0;
    QTest::newRow("empty first") << German << QString() << u"a"_qs << -1 << -1;
    QTest::newRow("accent before plain next letter") << Swedish << u"é"_qs << u"f"_qs << -1 << -1;
    QTest::newRow("ä after z in Swedish") << Swedish << u"äpple"_qs << u"zebra"_qs << 1 << 1;
    // Plain letters that a language orders otherwise than English does.
    const QLocale danish(QLocale::Danish, QLocale::Denmark);
    QTest::newRow("aa after z in Danish") << danish << u"Aalborg"_qs << u"Zealand"_qs << 1 << 1;
    const QLocale lithuanian(QLocale::Lithuanian, QLocale::Lithuania);
    QTest::newRow("y before j in Lithuanian") << lithuanian << u"yra"_qs << u"jis"_qs << -1 << -1;
}

void TestKvUtils::compareInLocale()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, text);
    QFETCH(int, str);
    const LocaleScope scope(locale);

    QCOMPARE(LocaleCompareText(a, b), text);
    QCOMPARE(LocaleCompareText(b, a), -text);
    const int caseSensitive = LocaleCompareStr(a, b);
    if (a.compare(b, Qt::CaseInsensitive) == 0 && a != b) {
        // Differ only in case: apart for LocaleCompareStr, whichever way round.
        QVERIFY(caseSensitive == -1 || caseSensitive == 1);
    } else {
        QCOMPARE(caseSensitive, str);
    }
    QCOMPARE(LocaleCompareStr(b, a), -caseSensitive);
}

void TestKvUtils::compareOrderDependsOnLocale()
{
    {
        const LocaleScope scope(German);
        QCOMPARE(LocaleCompareText(u"zebra"_qs, u"äpple"_qs), 1);
    }
    {
        const LocaleScope scope(Swedish);
        QCOMPARE(LocaleCompareText(u"zebra"_qs, u"äpple"_qs), -1);
    }
}

void TestKvUtils::plainNamesInTheCollatorsOrder_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::newRow("C, compared as English") << QLocale::c();
    QTest::newRow("English, United States") << QLocale(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("English, United Kingdom") << QLocale(QLocale::English, QLocale::UnitedKingdom);
}

void TestKvUtils::plainNamesInTheCollatorsOrder()
{
    // Names of spaces, digits and letters are ordered without the collator; the order must be
    // the collator's all the same, for sorting by its keys and searching by comparison to
    // agree.
    QFETCH(QLocale, locale);
    const LocaleScope scope(locale);
    QCollator collator(locale.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    QStringList names{QString(), u" "_qs, u"0"_qs, u"9"_qs, u"a"_qs, u"A"_qs, u"Z"_qs, u"z"_qs, u"Task 1"_qs,
                      u"Task 10"_qs, u"Task 2"_qs, u"task 1"_qs, u"Task1"_qs, u"Task  1"_qs, u"Tas"_qs, u"Task 00001"_qs,
                      u"Backup 2024"_qs, u"backup"_qs, u"BACKUP 1"_qs, u"a b"_qs, u"ab"_qs, u"a0"_qs, u"0a"_qs};
    // And texts of those characters at random, most of them sharing their beginning.
    QRandomGenerator random(20261211);
    const QString alphabet = u" 0159aAbBmMzZ"_qs;
    for (int i = 0; i < 300; ++i) {
        QString name = i % 3 ? u"Ta"_qs : QString();
        for (int n = int(random.bounded(6)); n > 0; --n) name += alphabet[int(random.bounded(int(alphabet.size())))];
        names.append(name);
    }
    for (const QString& a : std::as_const(names)) {
        for (const QString& b : std::as_const(names)) {
            const int expected = collator.compare(a, b);
            const int order = LocaleCompareText(a, b);
            if (order != (expected > 0) - (expected < 0))
                QFAIL(qPrintable(u"\"%1\" against \"%2\": %3, the collator says %4"_qs.arg(a, b).arg(order).arg(expected)));
            const int keys = LocaleSortKeyText(a).compare(LocaleSortKeyText(b));
            QCOMPARE((keys > 0) - (keys < 0), order);
        }
    }
}

void TestKvUtils::compareStrEqualsOnlyIdenticalTexts()
{
    const LocaleScope scope(German);
    // The locale's rules call these pairs equal; a lookup by name must still tell them apart,
    // consistently either way round.
    const QList<std::pair<QString, QString>> pairs{
        {u"Backup"_qs, u"Back\u200Bup"_qs},
        {u"Caf\u00E9"_qs, u"Cafe\u0301"_qs},
    };
    for (const auto& [a, b] : pairs) {
        const int order = LocaleCompareStr(a, b);
        QVERIFY2(order == -1 || order == 1, qPrintable(a));
        QCOMPARE(LocaleCompareStr(b, a), -order);
        QCOMPARE(LocaleCompareStr(a, a), 0);
    }
}

void TestKvUtils::monthsToText_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << 0 << QString();
    QTest::newRow("January, March, December") << 0x805 << u"1, 3, 12"_qs;
    QTest::newRow("December alone") << 0x800 << u"12"_qs;
    QTest::newRow("every month") << 0xFFF << u"1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12"_qs;
    QTest::newRow("higher bits ignored") << 0x7FFFF000 << QString();
    QTest::newRow("all bits, sign included") << -1 << u"1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12"_qs;
}

void TestKvUtils::monthsToText()
{
    QFETCH(int, mask);
    QFETCH(QString, text);
    QCOMPARE(MonthsToText(mask), text);
}

void TestKvUtils::daysOfMonthToText_data()
{
    QTest::addColumn<quint32>("mask");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << 0u << QString() << QString();
    QTest::newRow("first alone") << 0u << u"last"_qs << u"last"_qs;
    QTest::newRow("1st, 10th, 31st after last") << 0x40000201u << u"last"_qs << u"last, 1, 10, 31"_qs;
    QTest::newRow("bit 31 ignored") << 0x80000000u << QString() << QString();
    QString all = u"1"_qs;
    for (int day = 2; day <= 31; ++day) all += u", "_qs + QString::number(day);
    QTest::newRow("every day") << 0xFFFFFFFFu << QString() << all;
}

void TestKvUtils::daysOfMonthToText()
{
    QFETCH(quint32, mask);
    QFETCH(QString, first);
    QFETCH(QString, text);
    QCOMPARE(DaysOfMonthToText(mask, first), text);
}

void TestKvUtils::daysOfWeekToText_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<int>("mask");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << German << 0 << QString();
    QTest::newRow("Sunday and Saturday") << German << 0x41 << u"Sonntag, Samstag"_qs;
    QTest::newRow("Monday") << German << 0x2 << u"Montag"_qs;
    QTest::newRow("whole week")
        << German << 0x7F << u"Sonntag, Montag, Dienstag, Mittwoch, Donnerstag, Freitag, Samstag"_qs;
    QTest::newRow("higher bits ignored") << German << 0x180 << QString();
    QTest::newRow("all bits, sign included")
        << German << -1 << u"Sonntag, Montag, Dienstag, Mittwoch, Donnerstag, Freitag, Samstag"_qs;
    QTest::newRow("Swedish") << Swedish << 0x21 << u"söndag, fredag"_qs;
}

void TestKvUtils::daysOfWeekToText()
{
    QFETCH(QLocale, locale);
    QFETCH(int, mask);
    QFETCH(QString, text);
    const LocaleScope scope(locale);
    QCOMPARE(DaysOfWeekToText(mask), text);
}

void TestKvUtils::isoDateTimeToDateTime_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("empty") << QString() << 0.0;
    QTest::newRow("full") << u"2024-03-15T09:30:00"_qs << At(2024, 3, 15, 9, 30);
    QTest::newRow("seconds") << u"2024-03-15T23:59:59"_qs << At(2024, 3, 15, 23, 59, 59);
    QTest::newRow("ends after the minutes") << u"2024-03-15T09:30"_qs << At(2024, 3, 15, 9, 30);
    QTest::newRow("date only") << u"2024-03-15"_qs << At(2024, 3, 15);
    QTest::newRow("zone Z ignored") << u"2024-03-15T09:30:00Z"_qs << At(2024, 3, 15, 9, 30);
    QTest::newRow("offset ignored") << u"2024-03-15T09:30:00+02:00"_qs << At(2024, 3, 15, 9, 30);
    QTest::newRow("fraction ignored") << u"2024-03-15T09:30:00.750"_qs << At(2024, 3, 15, 9, 30);
    QTest::newRow("single-digit hour") << u"2024-03-15T9:30:00"_qs << At(2024, 3, 15, 9, 30);
    QTest::newRow("leap day") << u"2024-02-29T12:00:00"_qs << 45351.5;
    QTest::newRow("day zero") << u"1899-12-30T00:00:00"_qs << 0.0;
    QTest::newRow("before day zero") << u"1899-12-29T06:00:00"_qs << -1.25;
    QTest::newRow("last day") << u"9999-12-31T00:00:00"_qs << 2958465.0;
    // Only the positions of the digits are read, not the separators between them.
    QTest::newRow("other separators") << u"2024/03/15 09:30:00"_qs << At(2024, 3, 15, 9, 30);
}

void TestKvUtils::isoDateTimeToDateTime()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(IsoDateTimeToDateTime(text), value);
}

void TestKvUtils::isoDateTimeToDateTimeIgnoresUserDateFormat()
{
    for (const QLocale& locale : {AmericanEnglish, German, QLocale(QLocale::Finnish, QLocale::Finland)}) {
        const LocaleScope scope(locale);
        QCOMPARE(IsoDateTimeToDateTime(u"2024-03-05T09:30:00"_qs), At(2024, 3, 5, 9, 30));
    }
}

void TestKvUtils::isoDateTimeToDateTimeFailures_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("rebuilt");
    QTest::newRow("no date") << u"garbage"_qs << u".ge.garb "_qs;
    QTest::newRow("year only") << u"2024"_qs << u"..2024 "_qs;
    QTest::newRow("shorter than a date") << u"2024-03-1"_qs << u"1.03.2024 "_qs;
    QTest::newRow("February 30") << u"2024-02-30T00:00:00"_qs << u"30.02.2024 00:00:00"_qs;
    QTest::newRow("February 29, no leap year") << u"2023-02-29T00:00:00"_qs << u"29.02.2023 00:00:00"_qs;
    QTest::newRow("month 13") << u"2024-13-01T00:00:00"_qs << u"01.13.2024 00:00:00"_qs;
    QTest::newRow("month 0") << u"2024-00-01T00:00:00"_qs << u"01.00.2024 00:00:00"_qs;
    QTest::newRow("year 0") << u"0000-01-01T00:00:00"_qs << u"01.01.0000 00:00:00"_qs;
    QTest::newRow("hour 24") << u"2024-03-15T24:00:00"_qs << u"15.03.2024 24:00:00"_qs;
    QTest::newRow("minute 60") << u"2024-03-15T09:60:00"_qs << u"15.03.2024 09:60:00"_qs;
    QTest::newRow("hour only") << u"2024-03-15T09"_qs << u"15.03.2024 09"_qs;
    QTest::newRow("letters in the time") << u"2024-03-15T09:30:xx"_qs << u"15.03.2024 09:30:xx"_qs;
    QTest::newRow("unpadded date") << u"2024-3-5T09:30:00"_qs << u"T0.3-.2024 :30:00"_qs;
}

void TestKvUtils::isoDateTimeToDateTimeFailures()
{
    QFETCH(QString, text);
    QFETCH(QString, rebuilt);
    try {
        IsoDateTimeToDateTime(text);
        QFAIL("converted text that is no date and time");
    } catch (const EConvertError& error) {
        QCOMPARE(error.Message(), u"'%1' is not a valid date and time"_qs.arg(rebuilt));
    }
}

void TestKvUtils::systemTimeToDateTimeRaw_data()
{
    QTest::addColumn<SYSTEMTIME>("record");
    QTest::addColumn<double>("value");
    QTest::newRow("all zeros") << SYSTEMTIME{} << -693959.0;
    QTest::newRow("day zero") << Record(1899, 12, 30) << 0.0;
    QTest::newRow("day one") << Record(1899, 12, 31) << 1.0;
    QTest::newRow("leap day noon") << Record(2024, 2, 29, 12) << 45351.5;
    QTest::newRow("February 29 of a common year") << Record(2023, 2, 29) << At(2023, 3, 1);
    QTest::newRow("century, no leap year") << Record(1900, 3, 1) << At(1900, 3, 1);
    QTest::newRow("fourth century, leap year") << Record(2000, 2, 29) << At(2000, 2, 29);
    QTest::newRow("month 0 as January") << Record(2024, 0, 10) << At(2024, 1, 10);
    QTest::newRow("day 0 is the day before") << Record(2024, 3, 0) << At(2024, 2, 29);
    QTest::newRow("day 32") << Record(2024, 1, 32) << At(2024, 2, 1);
    QTest::newRow("month 13 carries") << Record(2023, 13, 1) << At(2024, 1, 1);
    QTest::newRow("month 15 carries into a leap year") << Record(2023, 15, 1) << At(2024, 3, 1);
    QTest::newRow("month 25") << Record(2022, 25, 1) << At(2024, 1, 1);
    QTest::newRow("hour 25 is the next day") << Record(2024, 3, 15, 25) << At(2024, 3, 16, 1);
    QTest::newRow("milliseconds") << Record(2024, 3, 15, 9, 30, 15, 250) << At(2024, 3, 15, 9, 30, 15, 250);
    QTest::newRow("last moment") << Record(9999, 12, 31, 23, 59, 59, 999) << 2958465.0 + 86399999.0 / 86400000.0;
    QTest::newRow("first day") << Record(1, 1, 1) << -693593.0;
    SYSTEMTIME weekday = Record(2024, 3, 15);
    weekday.wDayOfWeek = 6;
    QTest::newRow("day of week not read") << weekday << At(2024, 3, 15);
}

void TestKvUtils::systemTimeToDateTimeRaw()
{
    QFETCH(SYSTEMTIME, record);
    QFETCH(double, value);
    QCOMPARE(SystemTimeToDateTimeRaw(record), value);
}

void TestKvUtils::systemTimeToDateTimeRawMatchesCalendar()
{
    // Every 17th day from year 1 to 9999: the raw arithmetic and the calendar agree on midnights.
    for (qint64 day = -693593; day <= 2958465; day += 17) {
        const QDate date = DateTimeToDate(double(day));
        const SYSTEMTIME st = Record(date.year(), date.month(), date.day());
        if (SystemTimeToDateTimeRaw(st) != double(day))
            QFAIL(qPrintable(u"%1 gives %2"_qs.arg(date.toString(Qt::ISODate)).arg(SystemTimeToDateTimeRaw(st))));
    }
}

void TestKvUtils::dateTimeDecoding_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QTime>("time");
    QTest::newRow("day zero") << 0.0 << QDate(1899, 12, 30) << QTime(0, 0);
    QTest::newRow("noon of day one") << 1.5 << QDate(1899, 12, 31) << QTime(12, 0);
    QTest::newRow("before day zero") << -1.25 << QDate(1899, 12, 29) << QTime(6, 0);
    QTest::newRow("inside day zero, negative") << -0.25 << QDate(1899, 12, 30) << QTime(6, 0);
    QTest::newRow("rounds to the next midnight") << 45351.9999999999 << QDate(2024, 3, 1) << QTime(0, 0);
    QTest::newRow("rounds to midnight, negative") << -1.9999999999 << QDate(1899, 12, 30) << QTime(0, 0);
    QTest::newRow("nearest millisecond") << 45351.0 + 1.0004 / 86400.0 << QDate(2024, 2, 29) << QTime(0, 0, 1);
    QTest::newRow("first day") << -693593.0 << QDate(1, 1, 1) << QTime(0, 0);
    QTest::newRow("last moment") << 2958465.0 + 86399999.0 / 86400000.0 << QDate(9999, 12, 31)
                                 << QTime(23, 59, 59, 999);
    QTest::newRow("all-zero record value") << -693959.0 << QDate() << QTime();
    QTest::newRow("past year 9999") << 2958466.0 << QDate() << QTime();
    QTest::newRow("NaN") << std::nan("") << QDate() << QTime();
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << QDate() << QTime();
    QTest::newRow("huge") << 1e300 << QDate() << QTime();
}

void TestKvUtils::dateTimeDecoding()
{
    QFETCH(double, value);
    QFETCH(QDate, date);
    QFETCH(QTime, time);
    QCOMPARE(DateTimeToDate(value), date);
    QCOMPARE(DateTimeToTime(value), time);
    if (date.isValid())
        QCOMPARE(DateTimeToDate(EncodeDateTime(date, time)), date);
}

void TestKvUtils::systemTimeConversions()
{
    const SYSTEMTIME st = DateTimeToSystemTime(45351.5 + 1234.0 / 86400000.0);
    QCOMPARE(st.wYear, WORD(2024));
    QCOMPARE(st.wMonth, WORD(2));
    QCOMPARE(st.wDay, WORD(29));
    QCOMPARE(st.wDayOfWeek, WORD(4)); // a Thursday
    QCOMPARE(st.wHour, WORD(12));
    QCOMPARE(st.wSecond, WORD(1));
    QCOMPARE(st.wMilliseconds, WORD(234));
    QCOMPARE(SystemTimeToDateTime(st), 45351.5 + 1234.0 / 86400000.0);
    QCOMPARE(DateTimeToSystemTime(At(2024, 3, 17)).wDayOfWeek, WORD(0)); // a Sunday

    // The 2.0 path: a date value split into a record and put together again by the raw
    // arithmetic keeps its millisecond, and "no time" stays no time.
    for (const double value : {45351.5, 45351.123456789, 2.0, 1.0}) {
        QVERIFY(std::fabs(SystemTimeToDateTimeRaw(DateTimeToSystemTime(value)) - value) <= 0.5 / 86400000.0);
    }
    QCOMPARE(DateTimeToSystemTime(-693959.0), SYSTEMTIME{});
    QCOMPARE(DateTimeToSystemTime(std::nan("")), SYSTEMTIME{});
    QVERIFY(SystemTimeToDateTimeRaw(DateTimeToSystemTime(std::nan(""))) <= 1.0);

    for (const SYSTEMTIME& invalid : {SYSTEMTIME{}, Record(2023, 2, 29), Record(2024, 13, 1), Record(2024, 1, 1, 24),
                                      Record(2024, 1, 1, 0, 0, 0, 1000), Record(10000, 1, 1)}) {
        QVERIFY_THROWS_EXCEPTION(EConvertError, SystemTimeToDateTime(invalid));
    }
    try {
        SystemTimeToDateTime(Record(2023, 2, 29, 8, 5));
        QFAIL("converted February 29 of a common year");
    } catch (const EConvertError& error) {
        QCOMPARE(error.Message(), u"'2023-02-29 08:05:00.000' is not a valid date and time"_qs);
    }
}

void TestKvUtils::qDateTimeConversions()
{
    const QDateTime local(QDate(2024, 7, 1), QTime(9, 30, 15, 500));
    QCOMPARE(QDateTimeToDateTime(local), At(2024, 7, 1, 9, 30, 15, 500));
    QCOMPARE(DateTimeToQDateTime(QDateTimeToDateTime(local)), local);
    QCOMPARE(QDateTimeToDateTime(local.toUTC()), QDateTimeToDateTime(local));
    QVERIFY(!DateTimeToQDateTime(-693959.0).isValid());
    QCOMPARE(DateTimeToQDateTime(0.0).timeSpec(), Qt::LocalTime);
}

void TestKvUtils::invalidValuesAreRefused()
{
    QVERIFY_THROWS_EXCEPTION(EConvertError, EncodeDateTime(QDate(), QTime(0, 0)));
    QVERIFY_THROWS_EXCEPTION(EConvertError, EncodeDateTime(QDate(10000, 1, 1), QTime(0, 0)));
    QVERIFY_THROWS_EXCEPTION(EConvertError, EncodeDateTime(QDate(-1, 12, 31), QTime(0, 0)));
    QVERIFY_THROWS_EXCEPTION(EConvertError, QDateTimeToDateTime(QDateTime()));
    QCOMPARE(EncodeDateTime(QDate(2024, 3, 15), QTime()), At(2024, 3, 15));
}

void TestKvUtils::dateTimeToUserText_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("German") << German << At(2024, 3, 15, 9, 30, 5) << u"15.03.24 09:30:05"_qs;
    QTest::newRow("German midnight") << German << At(2024, 3, 15) << u"15.03.24"_qs;
    QTest::newRow("a millisecond past midnight") << German << At(2024, 3, 15, 0, 0, 0, 1) << u"15.03.24 00:00:00"_qs;
    QTest::newRow("rounds up to midnight") << German << At(2024, 3, 16) - 1e-10 << u"16.03.24"_qs;
    QTest::newRow("American") << AmericanEnglish << At(2024, 3, 15, 21, 30, 5) << u"3/15/24 9:30:05 PM"_qs;
    QTest::newRow("Swedish") << Swedish << At(2024, 3, 15, 9, 30, 5) << u"2024-03-15 09:30:05"_qs;
    QTest::newRow("unrepresentable") << German << std::nan("") << QString();
}

void TestKvUtils::dateTimeToUserText()
{
    QFETCH(QLocale, locale);
    QFETCH(double, value);
    QFETCH(QString, text);
    const LocaleScope scope(locale);
    // Newer locale data put a narrow no-break space before AM/PM.
    QCOMPARE(DateTimeToUserText(value).replace(u'\u202F', u' '), text);
}

void TestKvUtils::minutesToDuration_data()
{
    QTest::addColumn<quint32>("minutes");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0u << QString();
    QTest::newRow("one minute") << 1u << u"PT1M"_qs;
    QTest::newRow("minutes only") << 45u << u"PT45M"_qs;
    QTest::newRow("the most minutes without an hour") << 59u << u"PT59M"_qs;
    QTest::newRow("an hour") << 60u << u"PT1H0M"_qs;
    QTest::newRow("hours and minutes") << 90u << u"PT1H30M"_qs;
    QTest::newRow("a minute short of a day") << 1439u << u"PT23H59M"_qs;
    QTest::newRow("a day") << 1440u << u"P1DT0H0M"_qs;
    QTest::newRow("days, hours and minutes") << 1563u << u"P1DT2H3M"_qs;
    QTest::newRow("largest signed") << 2147483647u << u"P1491308DT2H7M"_qs;
    QTest::newRow("largest unsigned") << 4294967295u << u"P2982616DT4H15M"_qs;
}

void TestKvUtils::minutesToDuration()
{
    QFETCH(quint32, minutes);
    QFETCH(QString, text);
    QCOMPARE(MinutesToDuration(minutes), text);
}

void TestKvUtils::durationToMinutes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("minutes");
    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("PT0S") << u"PT0S"_qs << 0;
    QTest::newRow("pt0s") << u"pt0s"_qs << 0;
    QTest::newRow("Pt0S") << u"Pt0S"_qs << 0;
    QTest::newRow("PT1H30M") << u"PT1H30M"_qs << 90;
    QTest::newRow("P1DT2H3M") << u"P1DT2H3M"_qs << 1563;
    QTest::newRow("seconds cut to whole minutes") << u"PT90S"_qs << 1;
    QTest::newRow("less than a minute of seconds is none") << u"PT59S"_qs << 0;
    QTest::newRow("seconds beyond a minute cut too") << u"PT150S"_qs << 2;
    QTest::newRow("P3D without T") << u"P3D"_qs << 0;
    QTest::newRow("P2DT") << u"P2DT"_qs << 2880;
    QTest::newRow("PT1.5H") << u"PT1.5H"_qs << 300;
    QTest::newRow("years, months and weeks ignored") << u"P1Y2M3W4DT5H"_qs << 4 * 1440 + 300;
    QTest::newRow("month M in the date part") << u"P1MT"_qs << 0;
    QTest::newRow("lower-case designators") << u"pt1h30m"_qs << 0;
    QTest::newRow("lower-case t is no separator") << u"P1DtPT5M"_qs << 1440 + 5;
    QTest::newRow("designator first in its part") << u"PTH5M"_qs << 5;
    QTest::newRow("no P") << u"T5M"_qs << 5;
    QTest::newRow("only T") << u"PT"_qs << 0;
    QTest::newRow("repeated designators all count") << u"PT1H1H"_qs << 120;
    QTest::newRow("no designators") << u"12345"_qs << 0;
    QTest::newRow("leading zeros") << u"PT0000000000000000000007M"_qs << 7;
    QTest::newRow("largest count") << u"PT2147483647M"_qs << MaxInteger;
    QTest::newRow("hours beyond the count") << u"PT99999999H"_qs << MaxInteger;
    QTest::newRow("days beyond the count") << u"P99999999999999999999DT"_qs << MaxInteger;
    QTest::newRow("sum beyond the count") << u"P1491309DT2147483647M"_qs << MaxInteger;
}

void TestKvUtils::durationToMinutes()
{
    QFETCH(QString, text);
    QFETCH(qint32, minutes);
    QCOMPARE(DurationToMinutes(text), minutes);
}

void TestKvUtils::durationRoundTrip()
{
    QList<quint32> counts;
    for (quint32 m = 0; m <= 3000; ++m) counts << m;
    for (quint32 days : {2u, 7u, 365u, 1491307u, 1491308u}) {
        for (qint64 delta = -61; delta <= 61; ++delta) counts << quint32(qint64(days) * 1440 + delta);
    }
    counts << 2147483646u << 2147483647u;
    QRandomGenerator random(20240315);
    for (int i = 0; i < 200000; ++i) counts << random.bounded(2147483648u);

    for (const quint32 m : counts) {
        if (m > 2147483647u) continue;
        if (DurationToMinutes(MinutesToDuration(m)) != qint32(m))
            QFAIL(qPrintable(u"%1 came back as %2"_qs.arg(m).arg(DurationToMinutes(MinutesToDuration(m)))));
    }
    // Counts the signed result cannot hold come back as the largest one, never as a negative.
    QCOMPARE(DurationToMinutes(MinutesToDuration(2147483648u)), MaxInteger);
    QCOMPARE(DurationToMinutes(MinutesToDuration(4294967295u)), MaxInteger);
}

void TestKvUtils::digitsBefore_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("k");
    QTest::addColumn<qint32>("value");
    QTest::newRow("whole run") << u"abc123"_qs << 6 << 123;
    QTest::newRow("stops at a non-digit") << u"12a34"_qs << 5 << 34;
    QTest::newRow("non-digit at k") << u"12a34"_qs << 3 << 0;
    QTest::newRow("inside a run") << u"12345"_qs << 3 << 123;
    QTest::newRow("first position") << u"9"_qs << 1 << 9;
    QTest::newRow("leading zeros") << u"007"_qs << 3 << 7;
    QTest::newRow("k zero") << u"123"_qs << 0 << 0;
    QTest::newRow("k negative") << u"123"_qs << -5 << 0;
    QTest::newRow("k past the end") << u"123"_qs << 4 << 0;
    QTest::newRow("empty text") << QString() << 1 << 0;
    QTest::newRow("other scripts' digits") << u"\u0661\u0662"_qs << 2 << 0;
    QTest::newRow("largest count") << u"2147483647"_qs << 10 << MaxInteger;
    QTest::newRow("one past the largest") << u"2147483648"_qs << 10 << MaxInteger;
    QTest::newRow("long run") << u"99999999999999999999999999"_qs << 26 << MaxInteger;
}

void TestKvUtils::digitsBefore()
{
    QFETCH(QString, text);
    QFETCH(qint32, k);
    QFETCH(qint32, value);
    QCOMPARE(DigitsBefore(text, k), value);
}

void TestKvUtils::environmentQuestions()
{
    {
        const OsVersion::ScopedOverride version({5, 1});
        QVERIFY(!IsVistaOrLater());
    }
    {
        const OsVersion::ScopedOverride version({6, 0});
        QVERIFY(IsVistaOrLater());
    }
    {
        const OsVersion::ScopedOverride version({10, 0});
        QVERIFY(IsVistaOrLater());
    }
    {
        const AdminCheck::ScopedOverride admin(false);
        QVERIFY(!IsUserAdmin());
    }
    {
        const AdminCheck::ScopedOverride admin(true);
        QVERIFY(IsUserAdmin());
    }
}

QTEST_GUILESS_MAIN(TestKvUtils)
#include "tst_kvutils.moc"
