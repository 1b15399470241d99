#include "gen2/TaskRuntimeState.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {
constexpr int kVersion = 1;
}

QByteArray TaskStateFile::Encode(const TaskRuntimeState& state)
{
    QJsonObject o;
    o.insert(QStringLiteral("version"), kVersion);
    if (state.lastRunTime.isValid())
        o.insert(QStringLiteral("lastRunTime"), state.lastRunTime.toUTC().toString(Qt::ISODateWithMs));
    o.insert(QStringLiteral("lastTaskResult"), qint64(state.lastTaskResult));
    o.insert(QStringLiteral("runState"), int(state.runState));
    o.insert(QStringLiteral("missedRuns"), state.missedRuns);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

std::optional<TaskRuntimeState> TaskStateFile::Decode(const QByteArray& bytes, QString* error)
{
    auto fail = [&](const QString& why) -> std::optional<TaskRuntimeState> {
        if (error) *error = why;
        return std::nullopt;
    };
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject())
        return fail(QStringLiteral("The state is not a JSON object: %1").arg(parseError.errorString()));
    const QJsonObject o = doc.object();
    if (o.value(QStringLiteral("version")).toInt(-1) != kVersion) return fail(QStringLiteral("Unknown state version."));
    TaskRuntimeState s;
    const QJsonValue last = o.value(QStringLiteral("lastRunTime"));
    if (!last.isUndefined()) {
        s.lastRunTime = QDateTime::fromString(last.toString(), Qt::ISODateWithMs);
        if (!s.lastRunTime.isValid()) return fail(QStringLiteral("The last run time is not a date."));
    }
    const double result = o.value(QStringLiteral("lastTaskResult")).toDouble(double(SCHED_S_TASK_HAS_NOT_RUN));
    if (result < -2147483648.0 || result > 4294967295.0) return fail(QStringLiteral("The last result is out of range."));
    s.lastTaskResult = qint32(quint32(qint64(result)));
    const int run = o.value(QStringLiteral("runState")).toInt(-1);
    if (run != TaskRuntimeState::Idle && run != TaskRuntimeState::Queued && run != TaskRuntimeState::Running)
        return fail(QStringLiteral("The run state is out of range."));
    s.runState = TaskRuntimeState::RunState(run);
    s.missedRuns = o.value(QStringLiteral("missedRuns")).toInt(0);
    return s;
}
