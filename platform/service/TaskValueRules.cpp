#include "TaskValueRules.h"

#include <QRegularExpression>
#include <QTimeZone>

namespace {

ValueProblem Invalid(const QString& message) { return ValueProblem{SCHED_E_INVALIDVALUE, message}; }
ValueProblem Missing(const QString& message) { return ValueProblem{SCHED_E_MISSINGNODE, message}; }

bool IsTimeBased(int type) { return type >= 1 && type <= 5; }

ValueProblem CheckDuration(const QString& property, const QString& text)
{
    if (TaskValueRules::IsDurationOrEmpty(text)) return {};
    return Invalid(QStringLiteral("%1: \"%2\" is not a duration.").arg(property, text));
}

ValueProblem CheckBoundary(const QString& property, const QString& text)
{
    if (TaskValueRules::IsBoundaryOrEmpty(text)) return {};
    return Invalid(QStringLiteral("%1: \"%2\" is not a date and time of the form yyyy-mm-ddThh:mm:ss.").arg(property, text));
}

ValueProblem CheckRange(const QString& property, qint64 value, bool ok)
{
    if (ok) return {};
    return Invalid(QStringLiteral("%1: the value %2 is out of range.").arg(property).arg(value));
}

ValueProblem CheckTrigger(const TriggerData& t, int position)
{
    const QString where = QStringLiteral("Trigger %1").arg(position);
    auto name = [&](const char* property) { return where + QLatin1Char(' ') + QLatin1String(property); };
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
            return Invalid(name("Repetition Interval") + QStringLiteral(": \"%1\" must be a fixed duration of at least one minute.").arg(t.repetition.interval));
        if (!t.repetition.duration.isEmpty()) {
            const DurationParts duration = *TaskValueRules::ParseDuration(t.repetition.duration);
            if (!duration.years && !duration.months && duration.TotalSeconds() < interval.TotalSeconds())
                return Invalid(name("Repetition Duration") + QStringLiteral(": \"%1\" is shorter than the interval \"%2\".").arg(t.repetition.duration, t.repetition.interval));
        }
    }
    if (IsTimeBased(t.type) && t.startBoundary.isEmpty())
        return Missing(name("StartBoundary") + QStringLiteral(": a time-based trigger needs a start."));
    if (!t.startBoundary.isEmpty() && !t.endBoundary.isEmpty()
        && *TaskValueRules::ParseBoundary(t.endBoundary) < *TaskValueRules::ParseBoundary(t.startBoundary))
        return Invalid(name("EndBoundary") + QStringLiteral(": \"%1\" lies before the start \"%2\".").arg(t.endBoundary, t.startBoundary));
    switch (t.type) {
    case 2:
        return CheckRange(name("DaysInterval"), t.daysInterval, t.daysInterval >= 1 && t.daysInterval <= 32767);
    case 3:
        if (auto p = CheckRange(name("WeeksInterval"), t.weeksInterval, t.weeksInterval >= 1 && t.weeksInterval <= 32767); !p.IsOk()) return p;
        if (auto p = CheckRange(name("DaysOfWeek"), t.daysOfWeek, TaskValueRules::IsDaysOfWeekMask(t.daysOfWeek)); !p.IsOk()) return p;
        if (t.daysOfWeek == 0) return Invalid(name("DaysOfWeek") + QStringLiteral(": a weekly trigger needs at least one day."));
        return {};
    case 4:
        if (auto p = CheckRange(name("DaysOfMonth"), t.daysOfMonth, TaskValueRules::IsDaysOfMonthMask(t.daysOfMonth)); !p.IsOk()) return p;
        if (auto p = CheckRange(name("MonthsOfYear"), t.monthsOfYear, TaskValueRules::IsMonthsMask(t.monthsOfYear)); !p.IsOk()) return p;
        if (t.daysOfMonth == 0 && !t.runOnLastDayOfMonth)
            return Invalid(name("DaysOfMonth") + QStringLiteral(": a monthly trigger needs at least one day."));
        if (t.monthsOfYear == 0) return Invalid(name("MonthsOfYear") + QStringLiteral(": a monthly trigger needs at least one month."));
        return {};
    case 5:
        if (auto p = CheckRange(name("DaysOfWeek"), t.daysOfWeek, TaskValueRules::IsDaysOfWeekMask(t.daysOfWeek)); !p.IsOk()) return p;
        if (auto p = CheckRange(name("WeeksOfMonth"), t.weeksOfMonth, TaskValueRules::IsWeeksOfMonthMask(t.weeksOfMonth)); !p.IsOk()) return p;
        if (auto p = CheckRange(name("MonthsOfYear"), t.monthsOfYear, TaskValueRules::IsMonthsMask(t.monthsOfYear)); !p.IsOk()) return p;
        if (t.daysOfWeek == 0) return Invalid(name("DaysOfWeek") + QStringLiteral(": a monthly day-of-week trigger needs at least one day."));
        if (t.weeksOfMonth == 0 && !t.runOnLastWeekOfMonth)
            return Invalid(name("WeeksOfMonth") + QStringLiteral(": a monthly day-of-week trigger needs at least one week."));
        if (t.monthsOfYear == 0) return Invalid(name("MonthsOfYear") + QStringLiteral(": a monthly day-of-week trigger needs at least one month."));
        return {};
    case 11:
        if (t.stateChange == 0) return Missing(name("StateChange") + QStringLiteral(": a session state change trigger needs its kind of change."));
        return CheckRange(name("StateChange"), t.stateChange, TaskValueRules::IsStateChange(t.stateChange));
    case 0:
        if (t.subscription.trimmed().isEmpty()) return Missing(name("Subscription") + QStringLiteral(": an event trigger needs a subscription."));
        return {};
    default:
        return {};
    }
}

ValueProblem CheckAction(const ActionData& a, int position)
{
    const QString where = QStringLiteral("Action %1").arg(position);
    if (!TaskValueRules::IsActionType(a.type)) return CheckRange(where + QStringLiteral(" Type"), a.type, false);
    if (a.type == 0 && a.path.trimmed().isEmpty()) return Missing(where + QStringLiteral(" Path: a program action needs a program."));
    if (a.type == 5 && !TaskValueRules::IsBracedGuid(a.classId))
        return Invalid(where + QStringLiteral(" ClassId: \"%1\" is not a class identifier.").arg(a.classId));
    return {};
}

} // namespace

std::optional<DurationParts> TaskValueRules::ParseDuration(const QString& text)
{
    static const QRegularExpression re(QStringLiteral(
        "^P(?:(\\d{1,9})Y)?(?:(\\d{1,9})M)?(?:(\\d{1,9})D)?(?:T(?:(\\d{1,9})H)?(?:(\\d{1,9})M)?(?:(\\d{1,9})S)?)?$"));
    const auto m = re.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const int tPos = text.indexOf(QLatin1Char('T'));
    if (tPos == text.size() - 1) return std::nullopt;   // "T" without a time part
    bool any = false;
    qint64 values[6] = {};
    for (int i = 0; i < 6; ++i) {
        if (m.capturedLength(i + 1) > 0) {
            values[i] = m.captured(i + 1).toLongLong();
            any = true;
        }
    }
    if (!any) return std::nullopt;
    return DurationParts{values[0], values[1], values[2], values[3], values[4], values[5]};
}

bool TaskValueRules::IsDurationOrEmpty(const QString& text)
{
    return text.isEmpty() || ParseDuration(text).has_value();
}

std::optional<QDateTime> TaskValueRules::ParseBoundary(const QString& text)
{
    static const QRegularExpression re(QStringLiteral(
        "^(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}):(\\d{2}):(\\d{2})(?:\\.(\\d{1,7}))?(Z|[+-]\\d{2}:\\d{2})?$"));
    const auto m = re.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const int hour = m.captured(4).toInt();
    const int minute = m.captured(5).toInt();
    const int second = m.captured(6).toInt();
    const int msec = m.capturedLength(7) ? (m.captured(7) + QStringLiteral("00")).left(3).toInt() : 0;
    const QTime time(hour, minute, second, msec);
    if (!date.isValid() || !time.isValid() || date.year() < 1601) return std::nullopt;
    const QString zone = m.captured(8);
    if (zone.isEmpty()) return QDateTime(date, time);
    if (zone == QLatin1String("Z")) return QDateTime(date, time, QTimeZone::utc());
    const int zh = zone.mid(1, 2).toInt();
    const int zm = zone.mid(4, 2).toInt();
    if (zh > 14 || zm > 59) return std::nullopt;
    const int offset = (zh * 3600 + zm * 60) * (zone.startsWith(QLatin1Char('-')) ? -1 : 1);
    return QDateTime(date, time, QTimeZone(offset));
}

bool TaskValueRules::IsBoundaryOrEmpty(const QString& text)
{
    return text.isEmpty() || ParseBoundary(text).has_value();
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
    if (auto p = CheckBoundary(QStringLiteral("RegistrationInfo Date"), doc.registrationInfo.date); !p.IsOk()) return p;
    const PrincipalData& pr = doc.principal;
    if (auto p = CheckRange(QStringLiteral("Principal LogonType"), pr.logonType, IsLogonType(pr.logonType)); !p.IsOk()) return p;
    if (auto p = CheckRange(QStringLiteral("Principal RunLevel"), pr.runLevel, IsRunLevel(pr.runLevel)); !p.IsOk()) return p;
    const TaskSettingsData& s = doc.settings;
    for (const auto& [property, text] :
         {std::pair{"ExecutionTimeLimit", &s.executionTimeLimit}, {"RestartInterval", &s.restartInterval},
          {"DeleteExpiredTaskAfter", &s.deleteExpiredTaskAfter}, {"IdleSettings IdleDuration", &s.idle.idleDuration},
          {"IdleSettings WaitTimeout", &s.idle.waitTimeout}}) {
        if (auto p = CheckDuration(QStringLiteral("Settings ") + QLatin1String(property), *text); !p.IsOk()) return p;
    }
    if (!s.restartInterval.isEmpty()) {
        const DurationParts d = *ParseDuration(s.restartInterval);
        if (d.years || d.months || d.TotalSeconds() < 60)
            return Invalid(QStringLiteral("Settings RestartInterval: \"%1\" must be a fixed duration of at least one minute.").arg(s.restartInterval));
    }
    if (auto p = CheckRange(QStringLiteral("Settings RestartCount"), s.restartCount, s.restartCount >= 0); !p.IsOk()) return p;
    if (auto p = CheckRange(QStringLiteral("Settings MultipleInstances"), s.multipleInstances, IsInstancesPolicy(s.multipleInstances)); !p.IsOk()) return p;
    if (auto p = CheckRange(QStringLiteral("Settings Priority"), s.priority, IsPriority(s.priority)); !p.IsOk()) return p;
    if (auto p = CheckRange(QStringLiteral("Settings Compatibility"), s.compatibility, IsCompatibility(s.compatibility)); !p.IsOk()) return p;
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
