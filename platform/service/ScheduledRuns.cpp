#include "ScheduledRuns.h"

QList<QDateTime> ScheduledRunTimes(const TaskDocument&, const QDateTime&, const QDateTime&, int)
{
    // The schedule engine (platform/service/engine) answers this once it is connected.
    return {};
}
