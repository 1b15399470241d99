#pragma once
// One run of a task: the moment, and the service's wall clock at that moment.

#include "LocalDateTime.h"

#include <QDateTime>
#include <QTimeZone>
#include <QtGlobal>

struct RunTime {
    /// When the run happens, seconds since 1970-01-01T00:00Z.
    qint64 utc = 0;
    /// The wall clock of the service's zone at that moment.
    LocalDateTime local;
    /// The trigger of the task's schedule that gives this run (the first one, when several
    /// give the same moment); -1 when asked of a single trigger.
    int trigger = -1;
    /// When the repetition this run belongs to ends (its start plus its duration), seconds
    /// since 1970-01-01T00:00Z; 0 when it has no end of its own.
    qint64 repetitionEnd = 0;

    /// The moment as a date-time in `zone`.
    QDateTime ToDateTime(const QTimeZone& zone) const { return QDateTime::fromSecsSinceEpoch(utc, zone); }
    friend bool operator==(const RunTime&, const RunTime&) = default;
};
