#pragma once
// The 2.0 service's start and end boundaries ("2024-03-05T07:30:15", optionally with "Z" or
// an offset such as "+05:30") as wall-clock times of the service's zone.

#include "LocalDateTime.h"

#include <QString>
#include <QStringView>
#include <QTimeZone>
#include <optional>

class BoundaryText {
public:
    /// The `count` ASCII digits at `at` as a number; -1 when they are not all there.
    static int DigitsAt(QStringView text, qsizetype at, int count);

    /// The wall-clock time of `zone` that `text` names. Text without a zone is already local;
    /// "Z" and ±hh:mm name a moment, which becomes the wall clock of `zone` at that moment.
    /// Seconds and a fraction of a second are optional (the fraction is dropped). Text that is
    /// not a valid date and time gives none, with `error` (when given) saying so.
    static std::optional<LocalDateTime> Parse(QStringView text, const QTimeZone& zone, QString* error = nullptr);

    /// A boundary as written: its wall clock, and the offset from UTC (seconds east) that it
    /// names, none for text without a zone.
    struct Written {
        LocalDateTime wall;
        std::optional<int> offset;
    };
    /// The boundary `text` as written; none, with `error` saying so, for text that is not a
    /// valid date and time.
    static std::optional<Written> ParseWritten(QStringView text, QString* error = nullptr);
    /// The wall clock that `boundary` names in a trigger's frame: at the fixed offset
    /// `frameOffset` when given, else in `zone`.
    static LocalDateTime InFrame(const Written& boundary, const std::optional<int>& frameOffset, const QTimeZone& zone);
};
