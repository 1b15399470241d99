#pragma once
// The offsets of one time zone, laid out per year so that turning a wall-clock time into a
// moment costs a couple of comparisons instead of a time-zone database query.

#include <QTimeZone>
#include <QVarLengthArray>
#include <QtGlobal>
#include <memory>

/// A time zone's changes of offset, laid out per year for the years schedules commonly use
/// and computed on demand (by `ZoneCursor`) outside them. The table is built on first use,
/// from the zone's file and the rule that continues it, so an engine that is never asked
/// costs nothing and a year far ahead costs what this year costs. Copies share the table;
/// it may be used from several threads.
class ZoneRules {
public:
    /// One change of the zone's offset from UTC.
    struct Transition {
        qint64 atUtc = 0;     ///< the moment, seconds since 1970-01-01T00:00Z
        int offsetBefore = 0; ///< seconds east of UTC until then
        int offsetAfter = 0;  ///< seconds east of UTC from then on
    };
    /// The changes that matter to one year: from two days before it to two days after it,
    /// so that a wall-clock time of that year always finds its own offset here.
    struct Year {
        qint64 begin = 0;   ///< the year's first wall-clock second (1 January 00:00:00)
        qint64 end = 0;     ///< the first wall-clock second of the year after
        int baseOffset = 0; ///< the offset in force at the start of that span
        QVarLengthArray<Transition, 4> transitions;
        /// The span of `year` with no changes and an offset of 0.
        static Year Empty(int year);
    };

    /// The years of the table.
    static constexpr int FirstTableYear = 1970;
    static constexpr int LastTableYear = 2150;

    /// The rules of `zone`; an invalid zone is taken as UTC.
    explicit ZoneRules(const QTimeZone& zone);

    const QTimeZone& Zone() const { return m_zone; }
    /// The rules of the year that holds the wall-clock second `wall`, from the table (built
    /// now if it is not yet), or nullptr outside it.
    const Year* TableYearOf(qint64 wall) const;
    /// The rules of any `year`, computed.
    Year ComputeYear(int year) const;

private:
    struct Table;
    const Table& Built() const;
    /// The rules of `year` as the time-zone classes give them: for zones without a file.
    Year AskZone(int year) const;

    QTimeZone m_zone;
    bool m_fixed = false;
    int m_fixedOffset = 0;
    std::shared_ptr<Table> m_table;
};

/// Resolves wall-clock times of one zone into moments for one query. Keeps the year it used
/// last, so walking a schedule forward stays cheap. Not shared between threads.
///
/// The rules across changes of offset: a wall-clock time that does not exist (inside the gap
/// of a change forward) happens at the change itself, the first valid moment after it; a
/// wall-clock time that exists twice (inside the repeated hour of a change back) happens at
/// its first occurrence only.
class ZoneCursor {
public:
    explicit ZoneCursor(const ZoneRules& rules) : m_rules(&rules) {}

    /// A resolved wall-clock time.
    struct Moment {
        qint64 utc = 0;   ///< when it happens, seconds since 1970-01-01T00:00Z
        qint64 shown = 0; ///< the wall clock at that moment (differs only inside a gap)
    };
    /// When the wall-clock second `wall` happens.
    Moment Resolve(qint64 wall);
    /// The earliest wall-clock second whose moment is `utc` or later.
    qint64 FirstWallFrom(qint64 utc);
    /// The wall clock at the moment `utc`.
    qint64 WallAt(qint64 utc);

private:
    const ZoneRules::Year& YearOf(qint64 seconds);

    const ZoneRules* m_rules;
    // The year used last: a table entry, or (when `m_table` is null) `m_computed`. No pointer
    // into this object, so a cursor can be moved. Its wall-clock span: [m_yearBegin, m_yearEnd).
    const ZoneRules::Year* m_table = nullptr;
    qint64 m_yearBegin = 0;
    qint64 m_yearEnd = 0;
    ZoneRules::Year m_computed;
};
