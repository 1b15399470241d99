#pragma once
// The rule a time zone follows after the last change its zone file lists: a POSIX TZ text
// such as "CET-1CEST,M3.5.0,M10.5.0/3". Computing a year's changes from it is arithmetic,
// so dates far ahead cost what dates of this year cost.

#include <QByteArray>
#include <QVarLengthArray>
#include <QtGlobal>
#include <optional>

/// A parsed POSIX TZ rule: a standard offset and, optionally, a daylight-saving offset with
/// the yearly days and times it begins and ends. Immutable.
class PosixZoneRule {
public:
    /// One change of offset.
    struct Change {
        qint64 atUtc = 0;    ///< the moment, seconds since 1970-01-01T00:00Z
        int offsetAfter = 0; ///< seconds east of UTC from then on
    };

    /// The rule of `text`, or nothing when it is empty or not a valid TZ text.
    static std::optional<PosixZoneRule> Parse(const QByteArray& text);

    /// Seconds east of UTC outside daylight-saving time.
    int StandardOffset() const { return m_standard; }
    /// Seconds east of UTC during daylight-saving time (the standard offset without it).
    int DaylightOffset() const { return m_hasDst ? m_dst : m_standard; }
    /// True when the rule changes offset twice a year.
    bool HasDaylightSaving() const { return m_hasDst; }
    /// The changes of `year`, ascending (none without daylight-saving time).
    QVarLengthArray<Change, 2> ChangesOf(int year) const;

private:
    /// A day of the year in one of the three POSIX forms, and the wall-clock time on it.
    struct Date {
        enum Form { JulianNoLeap, ZeroBased, MonthWeekDay } form = MonthWeekDay;
        int day = 0;     // Jn: 1..365; n: 0..365; Mm.w.d: the weekday 0 (Sunday) .. 6
        int month = 0;   // Mm.w.d only
        int week = 0;    // Mm.w.d only: 1..5, 5 the last
        int seconds = 7200; // the wall-clock time of the change, -167h .. 167h
        qint64 JulianDayIn(int year) const;
    };
    class Reader;

    int m_standard = 0;
    int m_dst = 0;
    bool m_hasDst = false;
    Date m_start; // daylight-saving time begins, at the standard wall clock
    Date m_end;   // and ends, at the daylight-saving wall clock
};
