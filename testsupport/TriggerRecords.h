#pragma once
// Trigger records of the 1.0 generation as tests and sample programs write them: a kind, a
// start day and time, and for the kinds that repeat, how often; the rest a caller sets on the
// record it gets back.

#include "tvMSTask.h"

#include <QByteArray>
#include <QDate>
#include <QTime>
#include <cstring>

namespace TriggerRecords {

/// The start day most records use.
inline const QDate kBegin{2024, 3, 15};
/// The start time most records use.
inline const QTime kStart{9, 0};

/// A record of `kind` that begins on `begin` at `start` (seconds are not kept): its size set,
/// everything else zero. An invalid `begin` leaves the date unset.
inline TASK_TRIGGER Record(TASK_TRIGGER_TYPE kind, const QDate& begin = kBegin, const QTime& start = kStart)
{
    TASK_TRIGGER t{};
    t.cbTriggerSize = sizeof(TASK_TRIGGER);
    t.TriggerType = kind;
    if (begin.isValid()) {
        t.wBeginYear = WORD(begin.year());
        t.wBeginMonth = WORD(begin.month());
        t.wBeginDay = WORD(begin.day());
    }
    t.wStartHour = WORD(start.hour());
    t.wStartMinute = WORD(start.minute());
    return t;
}

/// A daily record, every `everyDays` days.
inline TASK_TRIGGER Daily(const QDate& begin = kBegin, const QTime& start = kStart, WORD everyDays = 1)
{
    TASK_TRIGGER t = Record(TASK_TIME_TRIGGER_DAILY, begin, start);
    t.Type.Daily.DaysInterval = everyDays;
    return t;
}

/// A weekly record on `days` (TASK_SUNDAY, TASK_MONDAY, ... combined), every `everyWeeks` weeks.
inline TASK_TRIGGER Weekly(WORD days, const QDate& begin = kBegin, const QTime& start = kStart, WORD everyWeeks = 1)
{
    TASK_TRIGGER t = Record(TASK_TIME_TRIGGER_WEEKLY, begin, start);
    t.Type.Weekly.WeeksInterval = everyWeeks;
    t.Type.Weekly.rgfDaysOfTheWeek = days;
    return t;
}

/// Gives `t` an end day, with the flag that makes the service heed it.
inline void SetEnd(TASK_TRIGGER& t, const QDate& end)
{
    t.rgFlags |= TASK_TRIGGER_FLAG_HAS_END_DATE;
    t.wEndYear = WORD(end.year());
    t.wEndMonth = WORD(end.month());
    t.wEndDay = WORD(end.day());
}

/// The record's 48 bytes, as a test hands them through a table column.
inline QByteArray Bytes(const TASK_TRIGGER& t)
{
    return QByteArray(reinterpret_cast<const char*>(&t), sizeof t);
}

/// Whether two records agree byte for byte, the reserved fields included.
inline bool Same(const TASK_TRIGGER& a, const TASK_TRIGGER& b)
{
    return std::memcmp(&a, &b, sizeof(TASK_TRIGGER)) == 0;
}

} // namespace TriggerRecords
