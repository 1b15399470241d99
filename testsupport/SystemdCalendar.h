#pragma once
// An independent calendar to check the engine against: systemd's own, through
// `systemd-analyze calendar`. Translates a trigger into calendar expressions, runs the tool
// and reads back the moments it lists.

#include "LocalDateTime.h"
#include "TriggerSchedule.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <optional>

class SystemdCalendar {
public:
    /// The moments one expression elapses at, in order.
    struct Elapses {
        QList<qint64> utc;
        /// True when the tool listed as many as asked for, so more may follow.
        bool truncated = false;
    };

    /// The tool's path, or an empty text when it is not installed.
    static QString Program();

    /// Calendar expressions whose union holds every start of `trigger`, and its repetitions,
    /// or none when the trigger has no such form. What expressions cannot say (the first day,
    /// day and week intervals, the end) is left to `Accepts`. Repetition has a form when its
    /// interval divides an hour, the first start lies within the first interval of its hour,
    /// and it lasts whole hours without passing midnight.
    static std::optional<QStringList> Expressions(const TriggerSchedule& trigger);

    /// True when a start of the expressions at the wall-clock time `wall` is a run of `trigger`.
    static bool Accepts(const TriggerSchedule& trigger, const LocalDateTime& wall);

    /// Lists up to `iterations` elapses after the moment `afterUtc` for each expression, with
    /// `zone` as the tool's local zone. None, with `error` set, when the tool fails.
    static std::optional<QList<Elapses>> Run(const QTimeZone& zone, qint64 afterUtc, int iterations,
                                             const QStringList& expressions, QString* error);

    /// The runs of `trigger` that the tool's answer `elapses` (for its `Expressions`) shows:
    /// merged, accepted and cut where any truncated list stops. `complete` says whether the
    /// trigger has no runs beyond them; otherwise `until` is the last moment they cover.
    static QList<qint64> Runs(const TriggerSchedule& trigger, const QTimeZone& zone, const QList<Elapses>& elapses,
                              bool* complete, qint64* until);
};
