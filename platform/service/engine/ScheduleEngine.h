#pragma once
// When tasks run: the next run after a moment and the runs within a period, for one trigger
// or a whole task, in the service's time zone. Pure: the clock and the zone are parameters.

#include "RunTime.h"
#include "TriggerSchedule.h"
#include "ZoneRules.h"

#include <QDateTime>
#include <QList>
#include <QTimeZone>
#include <optional>

/// Computes run times in one time zone. Every answer follows from the arguments alone; the
/// object holds nothing but the zone's precomputed offsets, so one engine serves every query.
class ScheduleEngine {
public:
    /// An engine for `zone` (an invalid zone is taken as UTC).
    explicit ScheduleEngine(const QTimeZone& zone);

    const QTimeZone& Zone() const { return m_rules.Zone(); }

    /// The first run of `trigger` strictly after `after`; none when it never runs again
    /// (or `after` is not valid).
    std::optional<RunTime> NextRunAfter(const TriggerSchedule& trigger, const QDateTime& after) const;
    /// The first run of any trigger of `schedule` strictly after `after`; none for a disabled task.
    std::optional<RunTime> NextRunAfter(const Schedule& schedule, const QDateTime& after) const;
    /// The runs of `schedule` from `begin` up to `end` (both included; no end when none), at most
    /// `maxCount`, ascending and without duplicates across triggers.
    QList<RunTime> RunTimes(const Schedule& schedule, const QDateTime& begin, const std::optional<QDateTime>& end,
                            qsizetype maxCount) const;
    /// The same for a single trigger.
    QList<RunTime> RunTimes(const TriggerSchedule& trigger, const QDateTime& begin, const std::optional<QDateTime>& end,
                            qsizetype maxCount) const;
    /// True when `trigger` has a run at some time: a calendar run, or an event it waits for.
    bool CanEverRun(const TriggerSchedule& trigger) const;
    /// True when `trigger` may still run after `now`: a calendar run after it, or an event
    /// trigger whose end has not passed.
    bool CanRunAfter(const TriggerSchedule& trigger, const QDateTime& now) const;

private:
    QList<RunTime> Merge(const QList<TriggerSchedule>& triggers, qint64 begin, qint64 end, qsizetype maxCount) const;

    ZoneRules m_rules;
};
