#include "ZoneRules.h"

#include "LocalDateTime.h"

#include <QDateTime>

namespace {
// The margin around a year: larger than any offset from UTC, so the wall-clock times of the
// year and the moments they resolve to both fall inside it.
constexpr qint64 YearMargin = 2 * LocalDateTime::SecondsPerDay;
}

ZoneRules::ZoneRules(const QTimeZone& zone) : m_zone(zone.isValid() ? zone : QTimeZone::utc())
{
    if (!m_zone.hasTransitions()) {
        m_fixed = true;
        m_fixedOffset = m_zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(0, QTimeZone::utc()));
        return;
    }
    m_table.reserve(LastTableYear - FirstTableYear + 1);
    for (int year = FirstTableYear; year <= LastTableYear; ++year) m_table.append(ComputeYear(year));
}

const ZoneRules::Year* ZoneRules::TableYear(int year) const
{
    if (m_fixed || year < FirstTableYear || year > LastTableYear) return nullptr;
    return &m_table[year - FirstTableYear];
}

ZoneRules::Year ZoneRules::ComputeYear(int year) const
{
    Year rules;
    if (m_fixed) {
        rules.baseOffset = m_fixedOffset;
        return rules;
    }
    const qint64 from = LocalDateTime::StartOfDay(QDate(year, 1, 1).toJulianDay()) - YearMargin;
    const qint64 to = LocalDateTime::StartOfDay(QDate(year + 1, 1, 1).toJulianDay()) + YearMargin;
    const QDateTime fromUtc = QDateTime::fromSecsSinceEpoch(from, QTimeZone::utc());
    rules.baseOffset = m_zone.offsetFromUtc(fromUtc);
    // Asked one year at a time: a wider span stops at the end of the zone file's explicit
    // transitions instead of continuing with the zone's rule.
    int previous = rules.baseOffset;
    const auto changes = m_zone.transitions(fromUtc, QDateTime::fromSecsSinceEpoch(to, QTimeZone::utc()));
    for (const QTimeZone::OffsetData& change : changes) {
        const qint64 at = change.atUtc.toSecsSinceEpoch();
        if (at <= from || change.offsetFromUtc == previous) continue; // a change of name only
        rules.transitions.append(Transition{at, previous, change.offsetFromUtc});
        previous = change.offsetFromUtc;
    }
    return rules;
}

const ZoneRules::Year& ZoneCursor::YearOf(qint64 seconds)
{
    if (!m_haveYear || seconds < m_yearBegin || seconds >= m_yearEnd) {
        const int year = QDate::fromJulianDay(LocalDateTime::DayOf(seconds)).year();
        m_yearBegin = LocalDateTime::StartOfDay(QDate(year, 1, 1).toJulianDay());
        m_yearEnd = LocalDateTime::StartOfDay(QDate(year + 1, 1, 1).toJulianDay());
        m_table = m_rules->TableYear(year);
        if (!m_table) m_computed = m_rules->ComputeYear(year);
        m_haveYear = true;
    }
    return m_table ? *m_table : m_computed;
}

ZoneCursor::Moment ZoneCursor::Resolve(qint64 wall)
{
    const ZoneRules::Year& year = YearOf(wall);
    Moment moment{wall - year.baseOffset, wall};
    for (const ZoneRules::Transition& change : year.transitions) {
        if (change.atUtc + change.offsetBefore > wall) break;
        const qint64 utc = wall - change.offsetAfter;
        // Inside a gap the wall clock jumps past `wall`: it happens at the change itself.
        moment = utc < change.atUtc ? Moment{change.atUtc, change.atUtc + change.offsetAfter} : Moment{utc, wall};
    }
    return moment;
}

qint64 ZoneCursor::FirstWallFrom(qint64 utc)
{
    const ZoneRules::Year& year = YearOf(utc);
    const ZoneRules::Transition* last = nullptr;
    for (const ZoneRules::Transition& change : year.transitions) {
        if (change.atUtc > utc) break;
        last = &change;
    }
    if (!last) return utc + year.baseOffset;
    const qint64 boundary = last->atUtc + last->offsetBefore;
    // The wall-clock times of a gap happen at the change; those of a repeated hour have
    // already happened at their first occurrence.
    if (last->offsetAfter > last->offsetBefore && utc == last->atUtc) return boundary;
    return qMax(utc + last->offsetAfter, boundary);
}

qint64 ZoneCursor::WallAt(qint64 utc)
{
    const ZoneRules::Year& year = YearOf(utc);
    int offset = year.baseOffset;
    for (const ZoneRules::Transition& change : year.transitions) {
        if (change.atUtc > utc) break;
        offset = change.offsetAfter;
    }
    return utc + offset;
}
