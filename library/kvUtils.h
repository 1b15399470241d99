#pragma once
// Helpers shared by the task library and the application: date-time values and their text
// forms, the service's duration texts, weekday and month lists, the process-wide comparison
// of task names, and two questions about the environment.

#include "ComBase.h"

#include <QCollator>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <QtGlobal>
#include <cstdint>
#include <initializer_list>
#include <type_traits>

class QLocale;

/// Days since 1899-12-30 00:00; the fraction is the time of day. Before that day the value is
/// negative and its fraction still counts forward from midnight (-1.25 is 1899-12-29 06:00).
/// A value not greater than 1.0 stands for "no such time".
using TDateTime = double;

/// A set of members of the enumeration E, bit n standing for the member of value n.
template <typename E>
class TSet {
    static_assert(std::is_enum_v<E>, "TSet holds members of an enumeration");

public:
    using BitsType = std::uint32_t;

    constexpr TSet() = default;
    /// The set of the listed members: `TTaskFlags{tfDisabled, tfHidden}`.
    constexpr TSet(std::initializer_list<E> members)
    {
        for (E member : members) Include(member);
    }

    /// The set whose bit n is bit n of `bits`.
    static constexpr TSet FromBits(BitsType bits)
    {
        TSet set;
        set.m_bits = bits;
        return set;
    }

    constexpr bool Contains(E member) const { return (m_bits & Bit(member)) != 0; }
    /// Adds `member`; returns the set for chaining.
    constexpr TSet& Include(E member)
    {
        m_bits |= Bit(member);
        return *this;
    }
    /// Removes `member`; returns the set for chaining.
    constexpr TSet& Exclude(E member)
    {
        m_bits &= ~Bit(member);
        return *this;
    }
    constexpr bool IsEmpty() const { return m_bits == 0; }
    /// The set as a bit mask.
    constexpr BitsType Bits() const { return m_bits; }

    friend constexpr bool operator==(const TSet&, const TSet&) = default;

private:
    static constexpr BitsType Bit(E member)
    {
        const auto n = static_cast<unsigned>(member);
        Q_ASSERT_X(n < 32, "TSet", "member value beyond the set's 32 bits");
        return n < 32 ? BitsType(1) << n : 0;
    }

    BitsType m_bits = 0;
};

// ---- Comparison of task names -------------------------------------------------------------

/// Chooses the collators behind LocaleCompareText and LocaleCompareStr for the default locale
/// (QLocale()). The library calls it once while the program starts; the comparisons choose by
/// themselves if nobody has. Call it again after changing the default locale.
void ChooseLocaleComparison();

/// Linguistic order of `a` and `b` in the user's locale, letter case ignored: -1, 0 or +1.
int LocaleCompareText(const QString& a, const QString& b);

/// Linguistic order of `a` and `b` in the user's locale, letter case significant: -1, 0 or +1.
/// 0 only for identical texts: texts the locale's rules consider equal (a zero-width space,
/// composed against decomposed accents) are ordered by their code units, so that a name lookup
/// never finds a different name.
int LocaleCompareStr(const QString& a, const QString& b);

/// The collation key of `a` in the order of LocaleCompareText: two keys compare as their texts
/// do, at a fraction of the cost. For sorting many texts.
QCollatorSortKey LocaleSortKeyText(const QString& a);

// ---- Lists of months and weekdays ---------------------------------------------------------

/// The month numbers of the set bits of `mask` (bit 0 January ... bit 11 December), ascending,
/// joined by ", ": 0x805 gives "1, 3, 12". Higher bits are ignored.
QString MonthsToText(int mask);

/// `first`, then the day numbers of the set bits of `mask` (bit 0 the 1st ... bit 30 the
/// 31st), ascending, all joined by ", ": 0x40000001 after "last" gives "last, 1, 31".
QString DaysOfMonthToText(quint32 mask, const QString& first = QString());

/// The user locale's full weekday names of the set bits of `mask` (bit 0 Sunday ... bit 6
/// Saturday), Sunday first, joined by ", ". Higher bits are ignored.
QString DaysOfWeekToText(int mask);

// ---- Date-time values ---------------------------------------------------------------------

/// The service's local date-time text yyyy-mm-ddThh:nn[:ss] as a TDateTime; anything after the
/// seconds (a time-zone suffix, fractions) is ignored, and yyyy-mm-dd alone is midnight. Empty
/// text gives 0; other text shorter than yyyy-mm-dd does not convert. Raises EConvertError "'%s' is not a valid date and time" with the text rebuilt
/// as dd.mm.yyyy hh:nn:ss when it does not convert.
TDateTime IsoDateTimeToDateTime(const QString& text);

/// The calendar arithmetic of the service's run times, without validating any field: an
/// all-zero record gives -693959.0, 2023-02-29 gives 2023-03-01. Months above 12 carry into
/// the following years. The fraction counts forward from midnight also before 1899-12-30.
TDateTime SystemTimeToDateTimeRaw(const SYSTEMTIME& st);

/// The wall-clock date and time as a TDateTime (no time zone involved). Raises EConvertError
/// for an invalid date or a year outside 1 to 9999; an invalid time counts as midnight.
TDateTime EncodeDateTime(QDate date, QTime time);

/// The locale's long time format without its time-zone fields (unquoted "t") and the blanks
/// before them: a TDateTime or a trigger time has no zone, so a zone name would be made up.
QString LongTimeFormatWithoutZone(const QLocale& locale);

/// The calendar day of `value`; invalid outside the years 1 to 9999 and for NaN.
QDate DateTimeToDate(TDateTime value);

/// The time of day of `value`, to the nearest millisecond; invalid where DateTimeToDate is.
QTime DateTimeToTime(TDateTime value);

/// `value` as a local time; invalid where DateTimeToDate is. A wall-clock time that local time
/// skips (a daylight-saving gap) moves as QDateTime moves it.
QDateTime DateTimeToQDateTime(TDateTime value);

/// The local date and time of `value` as a TDateTime; raises EConvertError for an invalid value.
TDateTime QDateTimeToDateTime(const QDateTime& value);

/// The calendar record of `value`, day of week filled in (0 Sunday); all zeros where
/// DateTimeToDate is invalid, which SystemTimeToDateTimeRaw turns back into "no time".
SYSTEMTIME DateTimeToSystemTime(TDateTime value);

/// The calendar record as a TDateTime, validated; raises EConvertError "'%s' is not a valid
/// date and time" for a record that is no date and time. The day of week is not read.
TDateTime SystemTimeToDateTime(const SYSTEMTIME& st);

/// The text users see for a date-time: the user's short date format, a space and the user's
/// long time format (without a time-zone name: the value carries none); only the date when the
/// time is exactly midnight. Values not greater than 1.0 stand for no time and are not for this
/// routine: callers show "Never" for them. Empty for values DateTimeToDate cannot represent.
QString DateTimeToUserText(TDateTime value);

/// `date` in the user locale's short date format (the default locale's).
QString UserDateText(QDate date);

/// `time` in the user locale's long time format without its time-zone fields.
QString UserTimeText(QTime time);

// ---- Durations ----------------------------------------------------------------------------

/// The service's duration text of `minutes`: "" for 0, else "P%dDT%dH%dM", "PT%dH%dM" or
/// "PT%dM" for the largest unit present. Seconds are never written.
QString MinutesToDuration(quint32 minutes);

/// The minutes of the service's duration text: days, hours, minutes and whole minutes of the
/// seconds, each the digit run just before its capital designator. "" and "PT0S" (any case)
/// give 0; malformed text gives what its digit runs add up to, at most 2147483647.
qint32 DurationToMinutes(const QString& text);

/// The value of the run of decimal digits ending at the 1-based position `k` of `text` (0 when
/// there is none or `k` lies outside the text), at most 2147483647.
qint32 DigitsBefore(const QString& text, qint32 k);

// ---- The environment ----------------------------------------------------------------------

/// Whether the operating system offers the 2.0 scheduling service: major version 6 or later.
bool IsVistaOrLater();

/// Whether the user runs the program with administrator rights.
bool IsUserAdmin();
