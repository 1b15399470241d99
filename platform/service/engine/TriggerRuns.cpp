#include "TriggerRuns.h"

#include <limits>

namespace {

constexpr qint64 Unbounded = std::numeric_limits<qint64>::max();
constexpr qint64 NoDay = StartCalendar::NoDay;

// The wall-clock second after the last one any schedule reaches.
constexpr qint64 CapWall() { return LocalDateTime::StartOfDay(StartCalendar::LastDay + 1); }

qint64 EndWall(const TriggerSchedule& t)
{
    const qint64 cap = CapWall();
    return t.end && t.end->IsValid() ? qMin(t.end->Seconds(), cap) : cap;
}

// A repetition longer than this many starts back is not looked for: no real schedule
// overlaps itself that often, and the bound keeps every query cheap.
constexpr int MostOverlapping = 1000;

} // namespace

qint64 TriggerRuns::EndUtc(const TriggerSchedule& trigger, const ZoneRules& zone)
{
    const qint64 wall = EndWall(trigger);
    // Without an end of its own a trigger ends with the last year; the zone's rules there are
    // not worth asking for, as no offset moves that end past a run of 9999.
    if (wall == CapWall()) return wall;
    if (trigger.utcOffset) return wall - *trigger.utcOffset;
    return ZoneCursor(zone).Resolve(wall).utc;
}

TriggerRuns::TriggerRuns(const TriggerSchedule& trigger, const ZoneRules& zone, qint64 fromUtc)
    : m_calendar(trigger, LocalDateTime::DayOf(EndWall(trigger) - 1)), m_zone(zone), m_offset(trigger.utcOffset)
{
    if (!trigger.enabled || m_calendar.IsEmpty()) return;
    m_timeOfDay = trigger.start.SecondOfDay();
    m_step = qMax<qint64>(0, trigger.repetitionInterval);
    m_duration = m_step > 0 ? qMax<qint64>(0, trigger.repetitionDuration) : 0;
    m_endUtc = EndUtc(trigger, zone);
    m_atEnd = false;

    const qint64 fromWall = FirstWallFrom(fromUtc);
    const qint64 today = LocalDateTime::DayOf(fromWall);
    qint64 day = m_calendar.FirstOnOrAfter(today);
    if (day != NoDay && StartWall(day) < fromWall) day = m_calendar.FirstOnOrAfter(day + 1);
    SetPending(day);

    if (m_step > 0) {
        // Repetitions that began before `fromUtc` may still be running. An indefinite one ends
        // at the next start, so only the last start before it matters; one with a duration
        // may be overlapped by later ones, so every start within the duration does. A day of
        // margin covers the clock changes inside the duration.
        const qint64 low = m_duration > 0 ? LocalDateTime::DayOf(fromWall - m_duration) - 1 : std::numeric_limits<qint64>::min();
        qint64 earlier = m_calendar.LastOnOrBefore(today, low);
        if (earlier != NoDay && StartWall(earlier) >= fromWall) earlier = m_calendar.LastOnOrBefore(earlier - 1, low);
        for (int n = 0; earlier != NoDay && n < MostOverlapping; ++n) {
            AddSeries(earlier, fromUtc);
            if (m_duration == 0) break;
            earlier = m_calendar.LastOnOrBefore(earlier - 1, low);
        }
    }
    Settle();
}

std::optional<RunTime> TriggerRuns::FirstRun(const TriggerSchedule& trigger, const ZoneRules& zone, qint64 fromUtc)
{
    if (trigger.repetitionInterval > 0) {
        const TriggerRuns runs(trigger, zone, fromUtc);
        if (runs.AtEnd()) return std::nullopt;
        return runs.Current();
    }
    // Without repetition the first run is the first start at or after `fromUtc`.
    if (!trigger.enabled) return std::nullopt;
    const StartCalendar calendar(trigger, LocalDateTime::DayOf(EndWall(trigger) - 1));
    if (calendar.IsEmpty()) return std::nullopt;
    ZoneCursor cursor(zone);
    const std::optional<int> offset = trigger.utcOffset;
    const qint64 timeOfDay = trigger.start.SecondOfDay();
    const qint64 fromWall = offset ? fromUtc + *offset : cursor.FirstWallFrom(fromUtc);
    qint64 day = calendar.FirstOnOrAfter(LocalDateTime::DayOf(fromWall));
    if (day != NoDay && LocalDateTime::StartOfDay(day) + timeOfDay < fromWall) day = calendar.FirstOnOrAfter(day + 1);
    if (day == NoDay) return std::nullopt;
    const qint64 wall = LocalDateTime::StartOfDay(day) + timeOfDay;
    const qint64 utc = offset ? wall - *offset : cursor.Resolve(wall).utc;
    if (utc >= EndUtc(trigger, zone)) return std::nullopt;
    return RunTime{utc, LocalDateTime::FromSeconds(cursor.WallAt(utc)), -1, 0};
}

qint64 TriggerRuns::Resolve(qint64 wall)
{
    if (m_offset) return wall - *m_offset;
    return m_zone.Resolve(wall).utc;
}

qint64 TriggerRuns::FirstWallFrom(qint64 utc)
{
    if (m_offset) return utc + *m_offset;
    return m_zone.FirstWallFrom(utc);
}

void TriggerRuns::AddSeries(qint64 day, qint64 fromUtc)
{
    const qint64 start = Resolve(StartWall(day));
    Series series;
    if (m_step == 0) {
        series.limit = start + 1;
    } else if (m_duration > 0) {
        series.limit = start + m_duration;
        series.end = series.limit;
    } else {
        const qint64 next = m_calendar.FirstOnOrAfter(day + 1);
        series.limit = next != NoDay ? Resolve(StartWall(next)) : Unbounded;
    }
    series.next = start;
    if (fromUtc > start) {
        if (m_step == 0) return;
        series.next = start + (fromUtc - start + m_step - 1) / m_step * m_step;
    }
    if (series.next < series.limit) m_active.append(series);
}

void TriggerRuns::SetPending(qint64 day)
{
    m_pendingDay = day;
    if (day != NoDay) m_pendingUtc = Resolve(StartWall(day));
}

void TriggerRuns::Settle()
{
    for (;;) {
        qint64 earliest = Unbounded;
        for (const Series& series : m_active) earliest = qMin(earliest, series.next);
        // Without repetition a start's one run comes before the next start, so the next start
        // day (which may be years away) is looked for only once the run is over.
        if (m_enteredDay != NoDay && (m_step > 0 || m_active.isEmpty())) {
            SetPending(m_calendar.FirstOnOrAfter(m_enteredDay + 1));
            m_enteredDay = NoDay;
        }
        if (m_pendingDay != NoDay && m_pendingUtc <= earliest) {
            m_enteredDay = m_pendingDay;
            m_pendingDay = NoDay;
            AddSeries(m_enteredDay, std::numeric_limits<qint64>::min());
            continue;
        }
        if (earliest == Unbounded || earliest >= m_endUtc) {
            m_atEnd = true;
            return;
        }
        // A run shared by overlapping repetitions ends with the last of them.
        qint64 end = 0;
        bool endless = false;
        for (const Series& series : m_active) {
            if (series.next != earliest) continue;
            if (series.end == 0) endless = true;
            end = qMax(end, series.end);
        }
        m_current = RunTime{earliest, LocalDateTime::FromSeconds(m_zone.WallAt(earliest)), -1, endless ? 0 : end};
        return;
    }
}

void TriggerRuns::Advance()
{
    if (m_atEnd) return;
    const qint64 last = m_current.utc;
    for (qsizetype i = 0; i < m_active.size();) {
        Series& series = m_active[i];
        if (series.next == last) series.next = m_step > 0 ? series.next + m_step : series.limit;
        if (series.next >= series.limit) m_active.remove(i);
        else ++i;
    }
    Settle();
}
