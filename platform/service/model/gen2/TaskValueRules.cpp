#include "gen2/TaskValueRules.h"

#include <QRegularExpression>
#include <QTimeZone>
#include <algorithm>

namespace {

ValueProblem Invalid(const QString& message) { return ValueProblem{SCHED_E_INVALIDVALUE, message}; }
ValueProblem Missing(const QString& message) { return ValueProblem{SCHED_E_MISSINGNODE, message}; }

bool IsTimeBased(int type) { return type >= TASK_TRIGGER_TIME && type <= TASK_TRIGGER_MONTHLYDOW; }

bool EndsBeforeStart(const QString& start, const QString& end)
{
    const BoundaryParts s = *TaskValueRules::ParseBoundaryParts(start);
    const BoundaryParts e = *TaskValueRules::ParseBoundaryParts(end);
    if (!s.zoned && !e.zoned) return std::pair(e.date, e.time) < std::pair(s.date, s.time);
    return e.ToDateTime() < s.ToDateTime();
}

// The property a problem is about, such as "Trigger 2 DaysInterval". Its text is made only
// for a problem: every stored definition is checked each time it is loaded, and almost all
// of them are sound.
struct Field {
    const char* owner = nullptr;   ///< "Trigger", "Settings", ...; none for a whole name
    int position = 0;              ///< the owner's number from 1; 0 when it has none
    const char* property = "";

    Field(const char* whole) : property(whole) {}
    Field(const char* owner, int position, const char* property) : owner(owner), position(position), property(property) {}

    QString Text() const
    {
        QString text;
        if (owner) text = QLatin1String(owner) + QLatin1Char(' ');
        if (position > 0) text += QString::number(position) + QLatin1Char(' ');
        return text + QLatin1String(property);
    }
};

ValueProblem CheckDuration(const Field& field, const QString& text)
{
    if (TaskValueRules::IsDurationOrEmpty(text)) return {};
    return Invalid(QStringLiteral("%1: \"%2\" is not a duration.").arg(field.Text(), text));
}

ValueProblem CheckBoundary(const Field& field, const QString& text)
{
    if (TaskValueRules::IsBoundaryOrEmpty(text)) return {};
    return Invalid(QStringLiteral("%1: \"%2\" is not a date and time of the form yyyy-mm-ddThh:mm:ss.").arg(field.Text(), text));
}

ValueProblem CheckRange(const Field& field, qint64 value, bool ok)
{
    if (ok) return {};
    return Invalid(QStringLiteral("%1: the value %2 is out of range.").arg(field.Text()).arg(value));
}

ValueProblem CheckTrigger(const TriggerData& t, int position)
{
    auto name = [position](const char* property) { return Field("Trigger", position, property); };
    if (!TaskValueRules::IsTriggerType(t.type)) return CheckRange(name("Type"), t.type, false);
    for (const auto& [property, text] : {std::pair{"StartBoundary", &t.startBoundary}, {"EndBoundary", &t.endBoundary}}) {
        if (auto p = CheckBoundary(name(property), *text); !p.IsOk()) return p;
    }
    for (const auto& [property, text] :
         {std::pair{"ExecutionTimeLimit", &t.executionTimeLimit}, {"RandomDelay", &t.randomDelay}, {"Delay", &t.delay},
          {"Repetition Interval", &t.repetition.interval}, {"Repetition Duration", &t.repetition.duration}}) {
        if (auto p = CheckDuration(name(property), *text); !p.IsOk()) return p;
    }
    if (!t.repetition.interval.isEmpty()) {
        const DurationParts interval = *TaskValueRules::ParseDuration(t.repetition.interval);
        if (interval.years || interval.months || interval.TotalSeconds() < 60)
            return Invalid(name("Repetition Interval").Text() + QStringLiteral(": \"%1\" must be a fixed duration of at least one minute.").arg(t.repetition.interval));
        if (!t.repetition.duration.isEmpty()) {
            const DurationParts duration = *TaskValueRules::ParseDuration(t.repetition.duration);
            if (!duration.years && !duration.months && duration.TotalSeconds() < interval.TotalSeconds())
                return Invalid(name("Repetition Duration").Text() + QStringLiteral(": \"%1\" is shorter than the interval \"%2\".").arg(t.repetition.duration, t.repetition.interval));
        }
    }
    if (IsTimeBased(t.type) && t.startBoundary.isEmpty())
        return Missing(name("StartBoundary").Text() + QStringLiteral(": a time-based trigger needs a start."));
    if (!t.startBoundary.isEmpty() && !t.endBoundary.isEmpty() && EndsBeforeStart(t.startBoundary, t.endBoundary))
        return Invalid(name("EndBoundary").Text() + QStringLiteral(": \"%1\" lies before the start \"%2\".").arg(t.endBoundary, t.startBoundary));
    switch (t.type) {
    case TASK_TRIGGER_DAILY:
        return CheckRange(name("DaysInterval"), t.daysInterval, t.daysInterval >= 1 && t.daysInterval <= 32767);
    case TASK_TRIGGER_WEEKLY:
        if (auto p = CheckRange(name("WeeksInterval"), t.weeksInterval, t.weeksInterval >= 1 && t.weeksInterval <= 32767); !p.IsOk()) return p;
        if (auto p = CheckRange(name("DaysOfWeek"), t.daysOfWeek, TaskValueRules::IsDaysOfWeekMask(t.daysOfWeek)); !p.IsOk()) return p;
        if (t.daysOfWeek == 0) return Invalid(name("DaysOfWeek").Text() + QStringLiteral(": a weekly trigger needs at least one day."));
        return {};
    case TASK_TRIGGER_MONTHLY:
        if (auto p = CheckRange(name("DaysOfMonth"), t.daysOfMonth, TaskValueRules::IsDaysOfMonthMask(t.daysOfMonth)); !p.IsOk()) return p;
        if (auto p = CheckRange(name("MonthsOfYear"), t.monthsOfYear, TaskValueRules::IsMonthsMask(t.monthsOfYear)); !p.IsOk()) return p;
        if (t.daysOfMonth == 0 && !t.runOnLastDayOfMonth)
            return Invalid(name("DaysOfMonth").Text() + QStringLiteral(": a monthly trigger needs at least one day."));
        if (t.monthsOfYear == 0) return Invalid(name("MonthsOfYear").Text() + QStringLiteral(": a monthly trigger needs at least one month."));
        return {};
    case TASK_TRIGGER_MONTHLYDOW:
        if (auto p = CheckRange(name("DaysOfWeek"), t.daysOfWeek, TaskValueRules::IsDaysOfWeekMask(t.daysOfWeek)); !p.IsOk()) return p;
        if (auto p = CheckRange(name("WeeksOfMonth"), t.weeksOfMonth, TaskValueRules::IsWeeksOfMonthMask(t.weeksOfMonth)); !p.IsOk()) return p;
        if (auto p = CheckRange(name("MonthsOfYear"), t.monthsOfYear, TaskValueRules::IsMonthsMask(t.monthsOfYear)); !p.IsOk()) return p;
        if (t.daysOfWeek == 0) return Invalid(name("DaysOfWeek").Text() + QStringLiteral(": a monthly day-of-week trigger needs at least one day."));
        if (t.weeksOfMonth == 0 && !t.runOnLastWeekOfMonth)
            return Invalid(name("WeeksOfMonth").Text() + QStringLiteral(": a monthly day-of-week trigger needs at least one week."));
        if (t.monthsOfYear == 0) return Invalid(name("MonthsOfYear").Text() + QStringLiteral(": a monthly day-of-week trigger needs at least one month."));
        return {};
    case TASK_TRIGGER_SESSION_STATE_CHANGE:
        if (t.stateChange == 0) return Missing(name("StateChange").Text() + QStringLiteral(": a session state change trigger needs its kind of change."));
        return CheckRange(name("StateChange"), t.stateChange, TaskValueRules::IsStateChange(t.stateChange));
    case TASK_TRIGGER_EVENT:
        if (t.subscription.trimmed().isEmpty()) return Missing(name("Subscription").Text() + QStringLiteral(": an event trigger needs a subscription."));
        return {};
    default:
        return {};
    }
}

ValueProblem CheckAction(const ActionData& a, int position)
{
    if (!TaskValueRules::IsActionType(a.type)) return CheckRange(Field("Action", position, "Type"), a.type, false);
    if (a.type == TASK_ACTION_EXEC && a.path.trimmed().isEmpty())
        return Missing(Field("Action", position, "Path").Text() + QStringLiteral(": a program action needs a program."));
    if (a.type == TASK_ACTION_COM_HANDLER && !TaskValueRules::IsBracedGuid(a.classId))
        return Invalid(Field("Action", position, "ClassId").Text() + QStringLiteral(": \"%1\" is not a class identifier.").arg(a.classId));
    return {};
}

} // namespace

std::optional<DurationParts> TaskValueRules::ParseDuration(const QString& text)
{
    // Read by hand rather than by pattern: every stored definition is checked on load.
    if (text.size() < 3 || text[0] != QLatin1Char('P')) return std::nullopt;
    static constexpr char16_t kDesignators[] = u"YMDHMS";
    DurationParts parts;
    qint64* fields[] = {&parts.years, &parts.months, &parts.days, &parts.hours, &parts.minutes, &parts.seconds};
    int next = 0;            // the first designator still allowed
    bool inTime = false;
    bool any = false;
    bool timeAny = false;
    qsizetype i = 1;
    while (i < text.size()) {
        if (text[i] == QLatin1Char('T')) {
            if (inTime) return std::nullopt;
            inTime = true;
            next = std::max(next, 3);
            ++i;
            continue;
        }
        qint64 value = 0;
        int digits = 0;
        while (i < text.size() && text[i].unicode() >= u'0' && text[i].unicode() <= u'9') {
            if (++digits > 9) return std::nullopt;
            value = value * 10 + (text[i].unicode() - u'0');
            ++i;
        }
        if (digits == 0 || i >= text.size()) return std::nullopt;
        const char16_t d = text[i].unicode();
        int slot = -1;
        for (int k = next; k < 6; ++k) {
            if (kDesignators[k] == d && (k >= 3) == inTime) {
                slot = k;
                break;
            }
        }
        if (slot < 0) return std::nullopt;
        *fields[slot] = value;
        next = slot + 1;
        any = true;
        timeAny = timeAny || inTime;
        ++i;
    }
    if (!any || (inTime && !timeAny)) return std::nullopt;
    return parts;
}

bool TaskValueRules::IsDurationOrEmpty(const QString& text)
{
    return text.isEmpty() || ParseDuration(text).has_value();
}

namespace {

bool Digits(const QString& text, qsizetype at, int count, int* value)
{
    if (at + count > text.size()) return false;
    int v = 0;
    for (int k = 0; k < count; ++k) {
        const char16_t c = text[at + k].unicode();
        if (c < u'0' || c > u'9') return false;
        v = v * 10 + (c - u'0');
    }
    *value = v;
    return true;
}

} // namespace

std::optional<BoundaryParts> TaskValueRules::ParseBoundaryParts(const QString& text)
{
    int year, month, day, hour, minute, second;
    if (text.size() < 19 || text[4] != QLatin1Char('-') || text[7] != QLatin1Char('-') || text[10] != QLatin1Char('T')
        || text[13] != QLatin1Char(':') || text[16] != QLatin1Char(':') || !Digits(text, 0, 4, &year)
        || !Digits(text, 5, 2, &month) || !Digits(text, 8, 2, &day) || !Digits(text, 11, 2, &hour)
        || !Digits(text, 14, 2, &minute) || !Digits(text, 17, 2, &second))
        return std::nullopt;
    qsizetype i = 19;
    int msec = 0;
    if (i < text.size() && text[i] == QLatin1Char('.')) {
        int digits = 0;
        int scale = 100;
        ++i;
        while (i < text.size() && text[i].unicode() >= u'0' && text[i].unicode() <= u'9') {
            if (++digits > 7) return std::nullopt;
            msec += (text[i].unicode() - u'0') * scale;
            scale /= 10;
            ++i;
        }
        if (digits == 0) return std::nullopt;
    }
    BoundaryParts parts;
    parts.date = QDate(year, month, day);
    parts.time = QTime(hour, minute, second, msec);
    if (!parts.date.isValid() || !parts.time.isValid() || year < 1601) return std::nullopt;
    if (i == text.size()) return parts;
    parts.zoned = true;
    if (text[i] == QLatin1Char('Z') && i + 1 == text.size()) return parts;
    int zh, zm;
    if ((text[i] != QLatin1Char('+') && text[i] != QLatin1Char('-')) || text.size() != i + 6 || text[i + 3] != QLatin1Char(':')
        || !Digits(text, i + 1, 2, &zh) || !Digits(text, i + 4, 2, &zm) || zh > 14 || zm > 59)
        return std::nullopt;
    parts.offsetSeconds = (zh * 3600 + zm * 60) * (text[i] == QLatin1Char('-') ? -1 : 1);
    return parts;
}

QDateTime BoundaryParts::ToDateTime() const
{
    if (!zoned) return QDateTime(date, time);
    return offsetSeconds == 0 ? QDateTime(date, time, QTimeZone::utc()) : QDateTime(date, time, QTimeZone(offsetSeconds));
}

std::optional<QDateTime> TaskValueRules::ParseBoundary(const QString& text)
{
    const auto parts = ParseBoundaryParts(text);
    if (!parts) return std::nullopt;
    return parts->ToDateTime();
}

bool TaskValueRules::IsBoundaryOrEmpty(const QString& text)
{
    return text.isEmpty() || ParseBoundaryParts(text).has_value();
}

bool TaskValueRules::IsBracedGuid(const QString& text)
{
    static const QRegularExpression re(QStringLiteral(
        "^\\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\\}$"));
    return re.match(text).hasMatch();
}

ValueProblem TaskValueRules::DurationProblem(const QString& property, const QString& text)
{
    return ValueProblem{E_INVALIDARG, QStringLiteral("%1: \"%2\" is not a duration such as \"PT1H30M\".").arg(property, text)};
}

ValueProblem TaskValueRules::BoundaryProblem(const QString& property, const QString& text)
{
    return ValueProblem{E_INVALIDARG,
                        QStringLiteral("%1: \"%2\" is not a date and time of the form yyyy-mm-ddThh:mm:ss.").arg(property, text)};
}

ValueProblem TaskValueRules::RangeProblem(const QString& property, qint64 value)
{
    return ValueProblem{E_INVALIDARG, QStringLiteral("%1: the value %2 is out of range.").arg(property).arg(value)};
}

ValueProblem TaskValueRules::CheckDocument(const TaskDocument& doc)
{
    if (auto p = CheckBoundary("RegistrationInfo Date", doc.registrationInfo.date); !p.IsOk()) return p;
    const PrincipalData& pr = doc.principal;
    if (auto p = CheckRange("Principal LogonType", pr.logonType, IsLogonType(pr.logonType)); !p.IsOk()) return p;
    if (auto p = CheckRange("Principal RunLevel", pr.runLevel, IsRunLevel(pr.runLevel)); !p.IsOk()) return p;
    const TaskSettingsData& s = doc.settings;
    for (const auto& [property, text] :
         {std::pair{"ExecutionTimeLimit", &s.executionTimeLimit}, {"RestartInterval", &s.restartInterval},
          {"DeleteExpiredTaskAfter", &s.deleteExpiredTaskAfter}, {"IdleSettings IdleDuration", &s.idle.idleDuration},
          {"IdleSettings WaitTimeout", &s.idle.waitTimeout}}) {
        if (auto p = CheckDuration(Field("Settings", 0, property), *text); !p.IsOk()) return p;
    }
    if (!s.restartInterval.isEmpty()) {
        const DurationParts d = *ParseDuration(s.restartInterval);
        if (d.years || d.months || d.TotalSeconds() < 60)
            return Invalid(QStringLiteral("Settings RestartInterval: \"%1\" must be a fixed duration of at least one minute.").arg(s.restartInterval));
    }
    if (auto p = CheckRange("Settings RestartCount", s.restartCount, s.restartCount >= 0); !p.IsOk()) return p;
    if (auto p = CheckRange("Settings MultipleInstances", s.multipleInstances, IsInstancesPolicy(s.multipleInstances)); !p.IsOk()) return p;
    if (auto p = CheckRange("Settings Priority", s.priority, IsPriority(s.priority)); !p.IsOk()) return p;
    if (auto p = CheckRange("Settings Compatibility", s.compatibility, IsCompatibility(s.compatibility)); !p.IsOk()) return p;
    if (!s.network.id.isEmpty() && !IsBracedGuid(s.network.id))
        return Invalid(QStringLiteral("Settings NetworkSettings Id: \"%1\" is not a network identifier.").arg(s.network.id));
    if (doc.triggers.size() > MaxTriggers)
        return ValueProblem{SCHED_E_TOO_MANY_NODES, QStringLiteral("A task holds at most %1 triggers.").arg(MaxTriggers)};
    if (doc.actions.size() > MaxActions)
        return ValueProblem{SCHED_E_TOO_MANY_NODES, QStringLiteral("A task holds at most %1 actions.").arg(MaxActions)};
    for (int i = 0; i < doc.triggers.size(); ++i) {
        if (auto p = CheckTrigger(doc.triggers[i], i + 1); !p.IsOk()) return p;
    }
    for (int i = 0; i < doc.actions.size(); ++i) {
        if (auto p = CheckAction(doc.actions[i], i + 1); !p.IsOk()) return p;
    }
    return {};
}
