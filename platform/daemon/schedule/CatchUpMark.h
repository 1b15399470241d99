#pragma once
// What a daemon records of one task before it carries out the task's catch-up.

#include "catalog/RunnableTask.h"

#include <QDateTime>
#include <QHash>

/// Written durably before a task's missed (or start-up) starts are carried out, so that a
/// daemon that dies in the middle of a catch-up is not followed by a second run of them.
struct CatchUpMark {
    QDateTime through;        ///< the task's missed starts up to this moment were handled
    bool started = false;     ///< an instance is started for them; its run shows it was
    bool bootStarts = false;  ///< its immediate start-up starts of this boot are made; their runs show it
    friend bool operator==(const CatchUpMark&, const CatchUpMark&) = default;
};

using CatchUpMarks = QHash<TaskKey, CatchUpMark>;
