#include "ZoneRules.h"

#include "CivilDate.h"
#include "LocalDateTime.h"
#include "ZoneFile.h"

#include <QDateTime>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace {
// The margin around a year: larger than any offset from UTC, so the wall-clock times of the
// year and the moments they resolve to both fall inside it.
constexpr qint64 YearMargin = 2 * LocalDateTime::SecondsPerDay;

using Change = PosixZoneRule::Change;

qint64 YearFrom(int year) { return LocalDateTime::StartOfDay(CivilDate::NewYear(year)) - YearMargin; }
qint64 YearTo(int year) { return LocalDateTime::StartOfDay(CivilDate::NewYear(year + 1)) + YearMargin; }
int YearOfUtc(qint64 utc) { return CivilDate::FromJulianDay(LocalDateTime::DayOf(utc)).year; }

// The rules of `year` from an ascending list of changes, `initial` being the offset before
// the first of them.
ZoneRules::Year YearOfChanges(int year, const Change* begin, const Change* end, int initial)
{
    const qint64 from = YearFrom(year), to = YearTo(year);
    const Change* after = std::upper_bound(begin, end, from, [](qint64 t, const Change& c) { return t < c.atUtc; });
    ZoneRules::Year rules = ZoneRules::Year::Empty(year);
    rules.baseOffset = after == begin ? initial : (after - 1)->offsetAfter;
    int previous = rules.baseOffset;
    for (const Change* c = after; c != end && c->atUtc <= to; ++c) {
        if (c->offsetAfter == previous) continue;
        rules.transitions.append(ZoneRules::Transition{c->atUtc, previous, c->offsetAfter});
        previous = c->offsetAfter;
    }
    return rules;
}

} // namespace

struct ZoneRules::Table {
    std::once_flag once;
    std::optional<ZoneFile> file;
    // The file's changes, continued by its rule through the year after the table.
    std::vector<Change> changes;
    qint64 lastListed = 0; // the moment of the file's last change
    std::vector<Year> years;
    std::atomic<bool> ready{false}; // set once everything above is built
};

ZoneRules::ZoneRules(const QTimeZone& zone)
    : m_zone(zone.isValid() ? zone : QTimeZone::utc()), m_table(std::make_shared<Table>())
{
    if (!m_zone.hasTransitions()) {
        m_fixed = true;
        m_fixedOffset = m_zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(0, QTimeZone::utc()));
    }
}

const ZoneRules::Table& ZoneRules::Built() const
{
    // Asked on every query: the built table is recognised without a call into the library.
    if (m_table->ready.load(std::memory_order_acquire)) return *m_table;
    std::call_once(m_table->once, [this] {
        Table& t = *m_table;
        t.file = ZoneFile::Load(m_zone.id());
        if (t.file) {
            t.changes = t.file->changes;
            t.lastListed = t.changes.empty() ? std::numeric_limits<qint64>::min() : t.changes.back().atUtc;
            if (t.file->rule) {
                const int firstRuleYear = t.changes.empty() ? FirstTableYear : YearOfUtc(t.lastListed);
                for (int year = firstRuleYear; year <= LastTableYear + 1; ++year) {
                    for (const Change& c : t.file->rule->ChangesOf(year)) {
                        if (c.atUtc > t.lastListed) t.changes.push_back(c);
                    }
                }
            }
        }
        t.years.reserve(LastTableYear - FirstTableYear + 1);
        for (int year = FirstTableYear; year <= LastTableYear; ++year) {
            t.years.push_back(t.file ? YearOfChanges(year, t.changes.data(), t.changes.data() + t.changes.size(),
                                                     t.file->initialOffset)
                                     : AskZone(year));
        }
        t.ready.store(true, std::memory_order_release);
    });
    return *m_table;
}

ZoneRules::Year ZoneRules::ComputeYear(int year) const
{
    if (m_fixed) {
        Year rules = Year::Empty(year);
        rules.baseOffset = m_fixedOffset;
        return rules;
    }
    const Table& t = Built();
    if (!t.file) return AskZone(year);
    const PosixZoneRule* rule = t.file->rule ? &*t.file->rule : nullptr;
    if (year <= LastTableYear || !rule || YearFrom(year) <= t.lastListed)
        return YearOfChanges(year, t.changes.data(), t.changes.data() + t.changes.size(), t.file->initialOffset);
    // Past the table only the rule speaks. A neighbouring year's changes matter only when the
    // year's own come near its ends: the rule's days move by a week at most from year to year,
    // and a change's time by a week at most from midnight.
    constexpr qint64 Reach = 16 * LocalDateTime::SecondsPerDay;
    QVarLengthArray<Change, 6> changes;
    const auto own = rule->ChangesOf(year);
    const bool farFromEnds = !own.isEmpty() && own.front().atUtc > YearFrom(year) + Reach && own.back().atUtc < YearTo(year) - Reach;
    for (int y = farFromEnds ? year : year - 1; y <= (farFromEnds ? year : year + 1); ++y) {
        for (const Change& c : y == year ? own : rule->ChangesOf(y)) changes.append(c);
    }
    const int initial = changes.isEmpty() || changes.front().offsetAfter != rule->DaylightOffset() ? rule->DaylightOffset()
                                                                                                   : rule->StandardOffset();
    return YearOfChanges(year, changes.constData(), changes.constData() + changes.size(),
                         changes.isEmpty() ? rule->StandardOffset() : initial);
}

ZoneRules::Year ZoneRules::AskZone(int year) const
{
    Year rules = Year::Empty(year);
    const qint64 from = YearFrom(year), to = YearTo(year);
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

const ZoneRules::Year* ZoneRules::TableYearOf(qint64 wall) const
{
    constexpr qint64 TableBegin = LocalDateTime::StartOfDay(CivilDate::NewYear(FirstTableYear));
    constexpr qint64 TableEnd = LocalDateTime::StartOfDay(CivilDate::NewYear(LastTableYear + 1));
    constexpr qint64 AverageYear = 31556952; // seconds of the Gregorian calendar's mean year
    if (m_fixed || wall < TableBegin || wall >= TableEnd) return nullptr;
    const std::vector<Year>& years = Built().years;
    // The mean year guesses within one year either way.
    size_t index = size_t((wall - TableBegin) / AverageYear);
    if (index >= years.size()) index = years.size() - 1;
    while (wall < years[index].begin) --index;
    while (wall >= years[index].end) ++index;
    return &years[index];
}

const ZoneRules::Year& ZoneCursor::YearOf(qint64 seconds)
{
    if (seconds >= m_yearBegin && seconds < m_yearEnd) return m_table ? *m_table : m_computed;
    m_table = m_rules->TableYearOf(seconds);
    if (!m_table) m_computed = m_rules->ComputeYear(CivilDate::FromJulianDay(LocalDateTime::DayOf(seconds)).year);
    const ZoneRules::Year& year = m_table ? *m_table : m_computed;
    m_yearBegin = year.begin;
    m_yearEnd = year.end;
    return year;
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

ZoneRules::Year ZoneRules::Year::Empty(int year)
{
    Year rules;
    rules.begin = LocalDateTime::StartOfDay(CivilDate::NewYear(year));
    rules.end = LocalDateTime::StartOfDay(CivilDate::NewYear(year + 1));
    return rules;
}
