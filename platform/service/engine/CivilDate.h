#pragma once
// Gregorian calendar arithmetic on Julian day numbers, in closed form: the engine's hot paths
// turn days into dates and back millions of times, and a calendar object per call costs more
// than the rest of a next-run query.

#include <QtGlobal>

/// A date of the proleptic Gregorian calendar, numbered as QDate numbers it (no year 0:
/// year -1 comes right before year 1).
struct CivilDate {
    int year = 1970;
    int month = 1; ///< 1 .. 12
    int day = 1;   ///< 1 .. 31

    /// True when `year` has a 29 February.
    static constexpr bool IsLeapYear(int year)
    {
        const qint64 y = Astronomical(year);
        return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
    }
    /// The number of days of `month` in `year`.
    static constexpr int DaysInMonth(int year, int month)
    {
        constexpr int Lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        return month == 2 && IsLeapYear(year) ? 29 : Lengths[month - 1];
    }
    /// The Julian day number of `year`-`month`-`day` (the same as QDate::toJulianDay()).
    static constexpr qint64 JulianDay(int year, int month, int day)
    {
        const qint64 y = Astronomical(year) - (month <= 2 ? 1 : 0);
        const qint64 era = (y >= 0 ? y : y - 399) / 400;
        const qint64 yearOfEra = y - era * 400;
        const qint64 dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
        const qint64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
        return era * 146097 + dayOfEra + MarchFirstOfYearZero;
    }
    constexpr qint64 JulianDay() const { return JulianDay(year, month, day); }
    /// The date of Julian day number `julianDay` (the same as QDate::fromJulianDay()).
    static constexpr CivilDate FromJulianDay(qint64 julianDay)
    {
        const qint64 z = julianDay - MarchFirstOfYearZero;
        const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
        const qint64 dayOfEra = z - era * 146097;
        const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
        const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
        const qint64 shifted = (5 * dayOfYear + 2) / 153;
        const int month = int(shifted < 10 ? shifted + 3 : shifted - 9);
        const qint64 y = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
        return CivilDate{int(y <= 0 ? y - 1 : y), month, int(dayOfYear - (153 * shifted + 2) / 5 + 1)};
    }
    /// The Julian day number of 1 January of `year`.
    static constexpr qint64 NewYear(int year) { return JulianDay(year, 1, 1); }

    friend constexpr bool operator==(const CivilDate&, const CivilDate&) = default;

private:
    // Years counted with a year 0, which the closed forms need.
    static constexpr qint64 Astronomical(int year) { return year < 0 ? qint64(year) + 1 : year; }
    // The Julian day of 1 March of (astronomical) year 0, the origin of the closed forms.
    static constexpr qint64 MarchFirstOfYearZero = 1721120;
};

static_assert(CivilDate::JulianDay(1970, 1, 1) == 2440588);
static_assert(CivilDate::JulianDay(2000, 3, 1) == 2451605);
static_assert(CivilDate::FromJulianDay(2440588) == CivilDate{1970, 1, 1});
static_assert(CivilDate::FromJulianDay(CivilDate::JulianDay(-1, 12, 31) + 1) == CivilDate{1, 1, 1});
