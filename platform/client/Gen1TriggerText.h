#pragma once
// The service's English description of a generation 1.0 trigger.

#include "tvMSTask.h"

#include <QLocale>
#include <QString>

/// Describes a trigger record in one line of English: the kind with its days, weeks, months
/// and intervals, the begin and end dates, the repetition, the random delay and whether the
/// trigger is disabled. Times and dates are written in `locale`'s short formats, day and
/// month names in its language; for example "At 09:00 every day, starting 15/03/2024".
class Gen1TriggerText {
public:
    static QString Describe(const TASK_TRIGGER& trigger, const QLocale& locale = QLocale());

    /// A span of minutes in words: "1 minute", "2 hours 30 minutes", "1 day 1 hour".
    static QString Minutes(quint32 minutes);
};
