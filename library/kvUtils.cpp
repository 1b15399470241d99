#include "kvUtils.h"

#include "AdminCheck.h"
#include "BoundaryText.h"
#include "Exceptions.h"
#include "OsVersion.h"

#include <QCollator>
#include <QHash>
#include <QLocale>
#include <QStringView>
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace {

constexpr qint64 MsPerDay = 86'400'000;
constexpr qint64 MaxInteger = std::numeric_limits<qint32>::max();

// Julian day number of 1899-12-30, day 0 of TDateTime.
constexpr qint64 EpochJulianDay = 2'415'019;

// ---- Comparison slots ----

struct ComparisonSlots {
    QCollator ignoringCase;
    QCollator caseSensitive;
    /// The locale orders plain texts (PlainOrderIgnoringCase) as their characters do.
    bool plainOrder = false;
};

std::optional<ComparisonSlots>& Slots()
{
    static std::optional<ComparisonSlots> chosen;
    return chosen;
}

const ComparisonSlots& ChosenSlots()
{
    if (!Slots()) ChooseLocaleComparison();
    return *Slots();
}

int Sign(int value) { return (value > 0) - (value < 0); }

// A space, an ASCII digit or an ASCII letter, the letter in lower case; 0 for anything else.
char16_t PlainKey(QChar c)
{
    const char16_t u = c.unicode();
    if (u == u' ' || (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'z')) return u;
    if (u >= u'A' && u <= u'Z') return char16_t(u + (u'a' - u'A'));
    return 0;
}

// The English order of two texts of spaces, ASCII digits and letters only, letter case
// ignored: that of their characters with letters in one case (spaces before digits before
// letters), shorter first where one begins the other. Nothing for other texts. Most task
// names are such texts, and a list sorted and searched so never loads the collation, which
// takes over a megabyte of the system's code and tables into the program.
std::optional<int> PlainOrderIgnoringCase(QStringView a, QStringView b)
{
    int order = 0;
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t x = PlainKey(a[i]);
        const char16_t y = PlainKey(b[i]);
        if (!x || !y) return std::nullopt;
        if (order == 0 && x != y) order = x < y ? -1 : 1;
    }
    for (const QStringView rest : {a.sliced(common), b.sliced(common)}) {
        for (const QChar c : rest) {
            if (!PlainKey(c)) return std::nullopt;
        }
    }
    return order != 0 ? order : Sign(int(a.size() > b.size()) - int(a.size() < b.size()));
}

// ---- Date-time values ----

struct DecodedDateTime {
    QDate date;
    int msOfDay;
};

std::optional<DecodedDateTime> Decode(TDateTime value)
{
    // Beyond this the day count cannot be a year from 1 to 9999 anyway; the bound keeps the
    // conversion to an integer defined.
    if (!std::isfinite(value) || std::fabs(value) > 1e7) return std::nullopt;
    const double wholeDays = std::trunc(value);
    qint64 day = static_cast<qint64>(wholeDays);
    qint64 ms = std::llround(std::fabs(value - wholeDays) * MsPerDay);
    if (ms >= MsPerDay) {
        // Rounded up to the next midnight: that is the next calendar day on either side of day 0.
        ms -= MsPerDay;
        ++day;
    }
    const QDate date = QDate::fromJulianDay(EpochJulianDay + day);
    if (!date.isValid() || date.year() < 1 || date.year() > 9999) return std::nullopt;
    return DecodedDateTime{date, static_cast<int>(ms)};
}

QString InvalidDateTimeMessage(const QString& text)
{
    return QStringLiteral("'%1' is not a valid date and time").arg(text);
}

bool IsLeapYear(qint64 year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(qint64 year, int month)
{
    static constexpr int Lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : Lengths[month - 1];
}

// Reads the rebuilt "dd.mm.yyyy hh:nn:ss" text of the service's boundaries.
class DateTimeScanner {
public:
    explicit DateTimeScanner(QStringView text) : m_text(text) {}

    void SkipBlanks()
    {
        while (m_pos < m_text.size() && m_text[m_pos] == u' ') ++m_pos;
    }
    bool AtEnd() const { return m_pos == m_text.size(); }
    bool Take(char16_t c)
    {
        if (m_pos >= m_text.size() || m_text[m_pos] != c) return false;
        ++m_pos;
        return true;
    }
    /// One to `maxDigits` decimal digits, and not more.
    std::optional<int> Number(int maxDigits)
    {
        int value = 0;
        int digits = 0;
        while (m_pos < m_text.size() && m_text[m_pos] >= u'0' && m_text[m_pos] <= u'9') {
            if (++digits > maxDigits) return std::nullopt;
            value = value * 10 + (m_text[m_pos].unicode() - u'0');
            ++m_pos;
        }
        if (digits == 0) return std::nullopt;
        return value;
    }

private:
    QStringView m_text;
    qsizetype m_pos = 0;
};

std::optional<TDateTime> ParseDayMonthYearTime(QStringView text)
{
    DateTimeScanner scan(text);
    scan.SkipBlanks();
    const auto day = scan.Number(2);
    if (!day || !scan.Take(u'.')) return std::nullopt;
    const auto month = scan.Number(2);
    if (!month || !scan.Take(u'.')) return std::nullopt;
    const auto year = scan.Number(4);
    if (!year) return std::nullopt;
    const QDate date(*year, *month, *day);
    if (!date.isValid() || date.year() < 1) return std::nullopt;

    scan.SkipBlanks();
    QTime time(0, 0);
    if (!scan.AtEnd()) {
        // The service writes its boundaries with ":" whatever the user's time separator is.
        const auto hour = scan.Number(2);
        if (!hour || !scan.Take(u':')) return std::nullopt;
        const auto minute = scan.Number(2);
        if (!minute) return std::nullopt;
        std::optional<int> second = 0;
        if (scan.Take(u':')) second = scan.Number(2);
        if (!second || !QTime::isValid(*hour, *minute, *second)) return std::nullopt;
        scan.SkipBlanks();
        if (!scan.AtEnd()) return std::nullopt;
        time = QTime(*hour, *minute, *second);
    }
    return EncodeDateTime(date, time);
}

// ---- Durations ----

bool IsZeroDurationText(QStringView text)
{
    static constexpr char16_t Zero[] = u"pt0s";
    if (text.size() != 4) return false;
    for (qsizetype i = 0; i < 4; ++i) {
        char16_t c = text[i].unicode();
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + (u'a' - u'A'));
        if (c != Zero[i]) return false;
    }
    return true;
}

void AddSaturating(qint64& sum, qint64 amount) { sum = std::min(sum + amount, MaxInteger); }

} // namespace

QString LongTimeFormatWithoutZone(const QLocale& locale)
{
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'') {
            quoted = !quoted;
        } else if (!quoted && c == u't') {
            while (!result.isEmpty() && result.back() == u' ') result.chop(1);
            continue;
        }
        result += c;
    }
    return result.trimmed();
}

// ---- Comparison of task names ----

void ChooseLocaleComparison()
{
    // The C locale collates by code units, so its case-sensitive order would disagree with the
    // case-ignoring one that task lists are sorted by, and searches of those lists would miss
    // names. It compares as English instead, the neutral linguistic order.
    const QLocale locale = QLocale().language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : QLocale();
    ComparisonSlots collators{QCollator(locale), QCollator(locale)};
    // English tailors nothing of the common order, whose plain characters sort as above;
    // other languages may (Danish "aa", Lithuanian "y", Turkish dotless i, Welsh "ll").
    collators.plainOrder = locale.language() == QLocale::English;
    collators.ignoringCase.setCaseSensitivity(Qt::CaseInsensitive);
    collators.caseSensitive.setCaseSensitivity(Qt::CaseSensitive);
    Slots() = std::move(collators);
}

int LocaleCompareText(const QString& a, const QString& b)
{
    const ComparisonSlots& collators = ChosenSlots();
    if (collators.plainOrder) {
        if (const auto order = PlainOrderIgnoringCase(a, b)) return *order;
    }
    return Sign(collators.ignoringCase.compare(a, b));
}

QCollatorSortKey LocaleSortKeyText(const QString& a)
{
    return ChosenSlots().ignoringCase.sortKey(a);
}

int LocaleCompareStr(const QString& a, const QString& b)
{
    const int order = Sign(ChosenSlots().caseSensitive.compare(a, b));
    return order != 0 ? order : Sign(QString::compare(a, b, Qt::CaseSensitive));
}

// ---- Lists of months and weekdays ----

namespace {

// Appends `value` (0 to 99) in decimal: a list row describes every calendar trigger with
// such numbers, and QString::number allocated a text for each.
void AppendSmallNumber(QString& text, int value)
{
    if (value >= 10) text += QChar(char16_t(u'0' + value / 10));
    text += QChar(char16_t(u'0' + value % 10));
}

} // namespace

QString MonthsToText(int mask)
{
    QString text;
    text.reserve(48);   // "1, 2, ..., 12"
    for (int month = 1; month <= 12; ++month) {
        if (!(mask & (1 << (month - 1)))) continue;
        if (!text.isEmpty()) text += QLatin1String(", ");
        AppendSmallNumber(text, month);
    }
    return text;
}

QString DaysOfMonthToText(quint32 mask, const QString& first)
{
    QString text = first;
    text.reserve(text.size() + 128);   // "1, 2, ..., 31"
    for (int day = 1; day <= 31; ++day) {
        if (!(mask & (quint32(1) << (day - 1)))) continue;
        if (!text.isEmpty()) text += QLatin1String(", ");
        AppendSmallNumber(text, day);
    }
    return text;
}

QString DaysOfWeekToText(int mask)
{
    // The names of the default locale, looked up again only when another locale becomes
    // the default: a list row names the days of every weekly trigger.
    static thread_local QLocale cachedLocale(QLocale::C);
    static thread_local QStringList cachedNames;
    const QLocale locale;
    if (cachedNames.isEmpty() || cachedLocale != locale) {
        QStringList names;
        for (int day = 1; day <= 7; ++day) names.append(locale.dayName(day, QLocale::LongFormat));
        cachedLocale = locale;
        cachedNames = names;
    }
    QString text;
    text.reserve(80);
    for (int bit = 0; bit <= 6; ++bit) {
        if (!(mask & (1 << bit))) continue;
        if (!text.isEmpty()) text += QLatin1String(", ");
        // Bit 0 is Sunday; Qt counts Monday 1 to Sunday 7.
        text += cachedNames[bit == 0 ? 6 : bit - 1];
    }
    return text;
}

// ---- Date-time values ----

namespace {

// The form the service writes, yyyy-mm-ddThh:nn:ss and maybe more, read without building the
// rebuilt text that the general route parses: a list reads one for every trigger it shows.
// Nothing when the text is of another form or names no date and time; the general route then
// decides, with its message.
std::optional<TDateTime> ServiceDateTime(QStringView text)
{
    if (text.size() < 19 || text[13] != u':' || text[16] != u':') return std::nullopt;
    const int year = BoundaryText::DigitsAt(text, 0, 4);
    const int month = BoundaryText::DigitsAt(text, 5, 2);
    const int day = BoundaryText::DigitsAt(text, 8, 2);
    const int hour = BoundaryText::DigitsAt(text, 11, 2);
    const int minute = BoundaryText::DigitsAt(text, 14, 2);
    const int second = BoundaryText::DigitsAt(text, 17, 2);
    if (year < 1 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0) return std::nullopt;
    if (!QDate::isValid(year, month, day) || !QTime::isValid(hour, minute, second)) return std::nullopt;
    return EncodeDateTime(QDate(year, month, day), QTime(hour, minute, second));
}

} // namespace

TDateTime IsoDateTimeToDateTime(const QString& text)
{
    if (text.isEmpty()) return 0;
    if (const auto quick = ServiceDateTime(text)) return *quick;
    const QString rebuilt = text.mid(8, 2) + u'.' + text.mid(5, 2) + u'.' + text.mid(0, 4) + u' ' + text.mid(11, 8);
    // Shorter than yyyy-mm-dd is not the service's form, even where its pieces happen to read
    // as a date ("2024-03-1" would otherwise pass as the 1st).
    if (text.size() >= 10) {
        if (const auto value = ParseDayMonthYearTime(rebuilt)) return *value;
    }
    throw EConvertError(InvalidDateTimeMessage(rebuilt));
}

TDateTime SystemTimeToDateTimeRaw(const SYSTEMTIME& st)
{
    const qint64 year = st.wYear;
    qint64 day = st.wDay;
    const int monthsBefore = st.wMonth > 0 ? st.wMonth - 1 : 0;
    for (int fullYear = 0; fullYear < monthsBefore / 12; ++fullYear) day += IsLeapYear(year + fullYear) ? 366 : 365;
    for (int month = 1; month <= monthsBefore % 12; ++month) day += DaysInMonth(year + monthsBefore / 12, month);

    const qint64 y = year - 1;
    const qint64 days = y * 365 + y / 4 - y / 100 + y / 400 + day - 693594;
    const qint64 ms = st.wHour * 3600000LL + st.wMinute * 60000LL + st.wSecond * 1000LL + st.wMilliseconds;
    return static_cast<double>(days) + static_cast<double>(ms) / MsPerDay;
}

TDateTime EncodeDateTime(QDate date, QTime time)
{
    if (!date.isValid() || date.year() < 1 || date.year() > 9999)
        throw EConvertError(QStringLiteral("Invalid argument to date encode"));
    const auto days = static_cast<double>(date.toJulianDay() - EpochJulianDay);
    const double fraction = time.isValid() ? static_cast<double>(time.msecsSinceStartOfDay()) / MsPerDay : 0.0;
    return days >= 0 ? days + fraction : days - fraction;
}

QDate DateTimeToDate(TDateTime value)
{
    const auto decoded = Decode(value);
    return decoded ? decoded->date : QDate();
}

QTime DateTimeToTime(TDateTime value)
{
    const auto decoded = Decode(value);
    return decoded ? QTime::fromMSecsSinceStartOfDay(decoded->msOfDay) : QTime();
}

QDateTime DateTimeToQDateTime(TDateTime value)
{
    const auto decoded = Decode(value);
    if (!decoded) return {};
    return QDateTime(decoded->date, QTime::fromMSecsSinceStartOfDay(decoded->msOfDay));
}

TDateTime QDateTimeToDateTime(const QDateTime& value)
{
    if (!value.isValid()) throw EConvertError(QStringLiteral("Invalid argument to date encode"));
    const QDateTime local = value.toLocalTime();
    return EncodeDateTime(local.date(), local.time());
}

SYSTEMTIME DateTimeToSystemTime(TDateTime value)
{
    SYSTEMTIME st{};
    const auto decoded = Decode(value);
    if (!decoded) return st;
    const QTime time = QTime::fromMSecsSinceStartOfDay(decoded->msOfDay);
    st.wYear = static_cast<WORD>(decoded->date.year());
    st.wMonth = static_cast<WORD>(decoded->date.month());
    st.wDayOfWeek = static_cast<WORD>(decoded->date.dayOfWeek() % 7);
    st.wDay = static_cast<WORD>(decoded->date.day());
    st.wHour = static_cast<WORD>(time.hour());
    st.wMinute = static_cast<WORD>(time.minute());
    st.wSecond = static_cast<WORD>(time.second());
    st.wMilliseconds = static_cast<WORD>(time.msec());
    return st;
}

TDateTime SystemTimeToDateTime(const SYSTEMTIME& st)
{
    const QDate date(st.wYear, st.wMonth, st.wDay);
    if (st.wYear < 1 || st.wYear > 9999 || !date.isValid()
        || !QTime::isValid(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds)) {
        throw EConvertError(InvalidDateTimeMessage(QString::asprintf(
            "%04u-%02u-%02u %02u:%02u:%02u.%03u", unsigned(st.wYear), unsigned(st.wMonth), unsigned(st.wDay),
            unsigned(st.wHour), unsigned(st.wMinute), unsigned(st.wSecond), unsigned(st.wMilliseconds))));
    }
    return EncodeDateTime(date, QTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds));
}

namespace {

// A list shows the same few dates and times in many rows, and formatting them in the locale
// costs more than anything else about a row; each one is formatted once while the default
// locale stays the same. A bounded number are kept.
class UserTexts {
public:
    QString Date(QDate date)
    {
        Follow();
        const qint64 key = date.isValid() ? date.toJulianDay() : std::numeric_limits<qint64>::min();
        auto found = m_dates.constFind(key);
        if (found == m_dates.cend()) {
            if (m_dates.size() >= Kept) m_dates.clear();
            found = m_dates.insert(key, m_locale.toString(date, QLocale::ShortFormat));
        }
        return *found;
    }

    QString Time(QTime time)
    {
        Follow();
        const int key = time.isValid() ? time.msecsSinceStartOfDay() : -1;
        auto found = m_times.constFind(key);
        if (found == m_times.cend()) {
            if (m_times.size() >= Kept) m_times.clear();
            found = m_times.insert(key, m_locale.toString(time, m_timeFormat));
        }
        return *found;
    }

private:
    static constexpr qsizetype Kept = 4096;

    // Starts afresh when the default locale is another one than the texts were made in.
    void Follow()
    {
        const QLocale current;
        if (m_followed && current == m_locale) return;
        m_locale = current;
        m_timeFormat = LongTimeFormatWithoutZone(current);
        m_dates.clear();
        m_times.clear();
        m_followed = true;
    }

    bool m_followed = false;
    QLocale m_locale;
    QString m_timeFormat;
    QHash<qint64, QString> m_dates;
    QHash<int, QString> m_times;
};

UserTexts& TextsOfThisThread()
{
    thread_local UserTexts texts;
    return texts;
}

} // namespace

QString UserDateText(QDate date)
{
    return TextsOfThisThread().Date(date);
}

QString UserTimeText(QTime time)
{
    return TextsOfThisThread().Time(time);
}

QString DateTimeToUserText(TDateTime value)
{
    const auto decoded = Decode(value);
    if (!decoded) return {};
    QString text = UserDateText(decoded->date);
    if (decoded->msOfDay != 0) {
        text += u' ';
        text += UserTimeText(QTime::fromMSecsSinceStartOfDay(decoded->msOfDay));
    }
    return text;
}

// ---- Durations ----

QString MinutesToDuration(quint32 minutes)
{
    if (minutes == 0) return {};
    const quint32 days = minutes / 1440;
    const quint32 hours = (minutes % 1440) / 60;
    const quint32 rest = (minutes % 1440) % 60;
    if (days > 0) return QString::asprintf("P%uDT%uH%uM", days, hours, rest);
    if (hours > 0) return QString::asprintf("PT%uH%uM", hours, rest);
    return QString::asprintf("PT%uM", rest);
}

qint32 DurationToMinutes(const QString& text)
{
    if (text.isEmpty() || IsZeroDurationText(text)) return 0;
    // Positions below are 1-based, as the designators are described; t is 0 without a "T".
    const qsizetype t = text.indexOf(u'T') + 1;
    const QString datePart = t > 2 ? text.mid(1, t - 2) : QString();
    const QString timePart = t == 0 ? text : text.mid(t);

    qint64 sum = 0;
    for (qsizetype j = 2; j <= datePart.size(); ++j) {
        if (datePart[j - 1] == u'D') AddSaturating(sum, 1440LL * DigitsBefore(datePart, qint32(j - 1)));
    }
    for (qsizetype j = 2; j <= timePart.size(); ++j) {
        const char16_t designator = timePart[j - 1].unicode();
        if (designator != u'H' && designator != u'M' && designator != u'S') continue;
        const qint64 digits = DigitsBefore(timePart, qint32(j - 1));
        AddSaturating(sum, designator == u'H' ? 60 * digits : designator == u'M' ? digits : digits / 60);
    }
    return static_cast<qint32>(sum);
}

qint32 DigitsBefore(const QString& text, qint32 k)
{
    if (k < 1 || k > text.size()) return 0;
    qint64 value = 0;
    qint64 weight = 1;
    for (qsizetype i = k - 1; i >= 0; --i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') break;
        value = std::min(value + (c - u'0') * weight, MaxInteger);
        // Past this weight any further non-zero digit saturates the value anyway.
        if (weight <= MaxInteger) weight *= 10;
    }
    return static_cast<qint32>(value);
}

// ---- The environment ----

bool IsVistaOrLater() { return OsVersion::Current().Major() >= 6; }

bool IsUserAdmin() { return AdminCheck::IsAdministrator(); }
