#pragma once
// The values the service accepts in a definition: duration and boundary texts, the ranges of
// its enumerations and masks, and the checks a whole definition passes before it is stored.

#include "ResultCodes.h"
#include "gen2/TaskDocument.h"

#include <QDateTime>
#include <QString>
#include <optional>

/// A refusal: the result code and a description naming the value.
struct ValueProblem {
    HRESULT code = S_OK;
    QString message;
    bool IsOk() const { return code == S_OK; }
};

/// The parts of an ISO 8601 duration ("P1DT2H", "PT10M"); all counts non-negative.
struct DurationParts {
    qint64 years = 0;
    qint64 months = 0;
    qint64 days = 0;
    qint64 hours = 0;
    qint64 minutes = 0;
    qint64 seconds = 0;
    /// The length in seconds; only meaningful without years and months.
    qint64 TotalSeconds() const { return ((days * 24 + hours) * 60 + minutes) * 60 + seconds; }
};

/// The fields of a boundary text; without a zone the time is local.
struct BoundaryParts {
    QDate date;
    QTime time;
    bool zoned = false;
    int offsetSeconds = 0;
    QDateTime ToDateTime() const;
};

class TaskValueRules {
public:
    /// Parses "P[nY][nM][nD][T[nH][nM][nS]]" with at least one part; nothing else is accepted.
    static std::optional<DurationParts> ParseDuration(const QString& text);
    /// True for the empty text (no duration) and for every text ParseDuration accepts.
    static bool IsDurationOrEmpty(const QString& text);
    /// Parses boundary text "yyyy-mm-ddThh:mm:ss", optionally with fractions of a second and
    /// "Z" or "+hh:mm"/"-hh:mm"; without a zone the time is local.
    static std::optional<QDateTime> ParseBoundary(const QString& text);
    static std::optional<BoundaryParts> ParseBoundaryParts(const QString& text);
    static bool IsBoundaryOrEmpty(const QString& text);
    /// A GUID in braces, "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
    static bool IsBracedGuid(const QString& text);

    static bool IsLogonType(int v) { return v >= 0 && v <= 6; }
    static bool IsRunLevel(int v) { return v == 0 || v == 1; }
    static bool IsInstancesPolicy(int v) { return v >= 0 && v <= 3; }
    static bool IsCompatibility(int v) { return v >= 0 && v <= 6; }
    static bool IsPriority(int v) { return v >= 0 && v <= 10; }
    static bool IsTriggerType(int v) { return (v >= 0 && v <= 9) || v == 11; }
    static bool IsActionType(int v) { return v == 0 || v == 5 || v == 6 || v == 7; }
    static bool IsStateChange(int v) { return (v >= 1 && v <= 4) || v == 7 || v == 8; }
    static bool IsDaysOfWeekMask(int v) { return v >= 0 && v <= 0x7F; }
    static bool IsMonthsMask(int v) { return v >= 0 && v <= 0xFFF; }
    static bool IsDaysOfMonthMask(qint64 v) { return v >= 0 && v <= 0x7FFFFFFF; }
    static bool IsWeeksOfMonthMask(int v) { return v >= 0 && v <= 0x1F; }

    /// The most triggers and actions one definition holds.
    static constexpr int MaxTriggers = 48;
    static constexpr int MaxActions = 32;

    /// A refusal for a text that is not a duration ("E_INVALIDARG", naming `property`).
    static ValueProblem DurationProblem(const QString& property, const QString& text);
    /// A refusal for a text that is not a boundary.
    static ValueProblem BoundaryProblem(const QString& property, const QString& text);
    /// A refusal for a number outside its enumeration or mask.
    static ValueProblem RangeProblem(const QString& property, qint64 value);

    /// Everything the service checks before it stores a definition; the first problem found.
    static ValueProblem CheckDocument(const TaskDocument& doc);
};
