#include "TriggerRuns.h"

#include <QDate>
#include <limits>

namespace {

constexpr qint64 Unbounded = std::numeric_limits<qint64>::max();

// The wall-clock second after the last one any schedule reaches.
qint64 CapWall() { return LocalDateTime::StartOfDay(QDate(StartCalendar::LastYear + 1, 1, 1).toJulianDay()); }

qint64 EndWall(const TriggerSchedule& t)
{
    const qint64 cap = CapWall();
    return t.end && t.end->IsValid() ? qMin(t.end->Seconds(), cap) : cap;
}

} // namespace

TriggerRuns::TriggerRuns(const TriggerSchedule& trigger, const ZoneRules& zone, qint64 fromUtc)
    : m_calendar(trigger, LocalDateTime::DayOf(EndWall(trigger) - 1)), m_zone(zone)
{
    if (!trigger.enabled || m_calendar.IsEmpty()) return;
    m_timeOfDay = trigger.start.SecondOfDay();
    m_step = qMax<qint64>(0, trigger.repetitionInterval);
    m_duration = qMax<qint64>(0, trigger.repetitionDuration);
    m_endWall = EndWall(trigger);
    m_atEnd = false;
    SeekWall(m_zone.FirstWallFrom(fromUtc));
}

void TriggerRuns::EnterSeries(qint64 day)
{
    m_seriesStart = StartWall(day);
    m_nextKnown = false;
    if (m_step == 0) {
        m_seriesLimit = m_seriesStart + 1;
        return;
    }
    // The end of a repetition depends on the next start, so it is needed now.
    m_nextDay = m_calendar.FirstOnOrAfter(day + 1);
    m_nextKnown = true;
    m_seriesLimit = m_nextDay ? StartWall(*m_nextDay) : Unbounded;
    if (m_duration > 0) m_seriesLimit = qMin(m_seriesLimit, m_seriesStart + m_duration);
}

void TriggerRuns::SeekWall(qint64 wall)
{
    if (m_step > 0) {
        // A repetition that began on an earlier day may still be running at `wall`.
        const qint64 day = LocalDateTime::DayOf(wall);
        const qint64 low = m_duration > 0 ? LocalDateTime::DayOf(wall - m_duration) : std::numeric_limits<qint64>::min();
        std::optional<qint64> earlier = m_calendar.LastOnOrBefore(day, low);
        if (earlier && StartWall(*earlier) > wall) earlier = m_calendar.LastOnOrBefore(*earlier - 1, low);
        if (earlier) {
            EnterSeries(*earlier);
            if (wall < m_seriesLimit) {
                const qint64 steps = (wall - m_seriesStart + m_step - 1) / m_step;
                const qint64 candidate = m_seriesStart + steps * m_step;
                if (candidate < m_seriesLimit) {
                    Land(candidate, std::numeric_limits<qint64>::min());
                    return;
                }
            }
            if (NextSeries()) Land(m_seriesStart, std::numeric_limits<qint64>::min());
            return;
        }
    }
    std::optional<qint64> day = m_calendar.FirstOnOrAfter(LocalDateTime::DayOf(wall));
    if (day && StartWall(*day) < wall) day = m_calendar.FirstOnOrAfter(*day + 1);
    if (!day) {
        m_atEnd = true;
        return;
    }
    EnterSeries(*day);
    Land(m_seriesStart, std::numeric_limits<qint64>::min());
}

bool TriggerRuns::NextSeries()
{
    if (!m_nextKnown) m_nextDay = m_calendar.FirstOnOrAfter(LocalDateTime::DayOf(m_seriesStart) + 1);
    if (!m_nextDay) {
        m_atEnd = true;
        return false;
    }
    EnterSeries(*m_nextDay);
    return true;
}

bool TriggerRuns::Land(qint64 wall, qint64 lastUtc)
{
    if (wall >= m_endWall) {
        m_atEnd = true;
        return true;
    }
    m_wall = wall;
    const ZoneCursor::Moment moment = m_zone.Resolve(wall);
    if (moment.utc <= lastUtc) {
        // Inside a gap every step up to its end lands on the same moment: skip them at once,
        // leaving the next step on the first one at or after the gap's end.
        if (m_step > 0 && moment.shown > wall) {
            const qint64 steps = (moment.shown - m_seriesStart + m_step - 1) / m_step;
            m_wall = qMax(wall, m_seriesStart + (steps - 1) * m_step);
        }
        return false;
    }
    m_current = RunTime{moment.utc, LocalDateTime::FromSeconds(moment.shown)};
    return true;
}

void TriggerRuns::Advance()
{
    if (m_atEnd) return;
    const qint64 last = m_current.utc;
    for (;;) {
        qint64 next = m_wall + m_step;
        if (m_step == 0 || next >= m_seriesLimit) {
            if (!NextSeries()) return;
            next = m_seriesStart;
        }
        if (Land(next, last)) return;
    }
}
