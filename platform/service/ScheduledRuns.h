#pragma once
// Where the service asks when a task runs. Every question about future runs of a stored
// definition goes through this one function, so that connecting the schedule engine
// changes nothing else.

#include "TaskDocument.h"

#include <QDateTime>
#include <QList>

/// The scheduled starts of `doc` from `from` up to `to` (no end when invalid), at most
/// `maxCount` of them, in order. Until the schedule engine is connected no start is known.
QList<QDateTime> ScheduledRunTimes(const TaskDocument& doc, const QDateTime& from, const QDateTime& to, int maxCount);
