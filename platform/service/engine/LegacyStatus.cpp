#include "LegacyStatus.h"

#include <algorithm>

LegacyStatus ComputeLegacyStatus(bool disabled, const QList<TriggerSchedule>& triggers, bool neverRan,
                                 const QDateTime& now, const ScheduleEngine& engine)
{
    if (disabled) return LegacyStatus::Disabled;
    if (triggers.isEmpty()) return LegacyStatus::NotScheduled;
    auto canEverRun = [&engine](const TriggerSchedule& t) { return engine.CanEverRun(t); };
    if (std::none_of(triggers.begin(), triggers.end(), canEverRun)) return LegacyStatus::NoValidTriggers;
    auto canRunLater = [&engine, &now](const TriggerSchedule& t) { return engine.CanRunAfter(t, now); };
    if (std::none_of(triggers.begin(), triggers.end(), canRunLater)) return LegacyStatus::NoMoreRuns;
    return neverRan ? LegacyStatus::HasNotRun : LegacyStatus::Ready;
}
