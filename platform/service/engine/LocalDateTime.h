#pragma once
// A wall-clock date and time with no zone attached: what a schedule's fields say, before
// the service's time zone decides which moment it is.

#include <QDate>
#include <QString>
#include <QTime>
#include <QtGlobal>
#include <compare>

class LocalDateTime {
public:
    static constexpr qint64 SecondsPerDay = 86400;
    /// Julian day number of 1970-01-01, the origin of `Seconds()`.
    static constexpr qint64 EpochDay = 2440588;

    /// An invalid value.
    LocalDateTime() = default;
    /// The wall clock `time` on `date`, to the second (milliseconds are dropped);
    /// invalid when either part is invalid.
    LocalDateTime(QDate date, QTime time);
    /// The wall clock `seconds` after 1970-01-01T00:00:00.
    static LocalDateTime FromSeconds(qint64 seconds);

    bool IsValid() const { return m_valid; }
    /// Seconds of wall-clock time since 1970-01-01T00:00:00 (negative before it).
    qint64 Seconds() const { return m_seconds; }
    /// The Julian day number of the date.
    qint64 Day() const { return DayOf(m_seconds); }
    /// Seconds since midnight, 0 to 86399.
    int SecondOfDay() const { return int(m_seconds - (Day() - EpochDay) * SecondsPerDay); }
    QDate Date() const;
    QTime Time() const;
    /// "yyyy-MM-ddTHH:mm:ss", or an empty text when invalid.
    QString ToString() const;

    /// The Julian day number holding the wall-clock second `seconds`.
    static constexpr qint64 DayOf(qint64 seconds)
    {
        // Floor division: a second before 1970 belongs to the day before, not to 1970-01-01.
        return seconds / SecondsPerDay - (seconds % SecondsPerDay < 0 ? 1 : 0) + EpochDay;
    }
    /// The wall-clock second at which Julian day `day` begins.
    static constexpr qint64 StartOfDay(qint64 day) { return (day - EpochDay) * SecondsPerDay; }

    friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
    friend std::strong_ordering operator<=>(const LocalDateTime&, const LocalDateTime&) = default;

private:
    // Order matters for the defaulted comparison: invalid values sort first.
    bool m_valid = false;
    qint64 m_seconds = 0;
};
