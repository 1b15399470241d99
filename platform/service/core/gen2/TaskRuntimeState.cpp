#include "gen2/TaskRuntimeState.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {
constexpr int kVersion = 1;
}

QByteArray TaskStateFile::Encode(const TaskRuntimeState& state)
{
    // Written out by hand, as QJsonDocument's indented form of the object would be (keys in
    // order, four spaces): the daemon writes a state at every start and end of a run, and
    // building a document for five fields cost more than writing the file.
    QByteArray out;
    out.reserve(160);
    out += "{\n";
    if (state.lastRunTime.isValid()) {
        // An ISO date in UTC holds no character that JSON escapes.
        out += "    \"lastRunTime\": \"";
        out += state.lastRunTime.toUTC().toString(Qt::ISODateWithMs).toLatin1();
        out += "\",\n";
    }
    out += "    \"lastTaskResult\": ";
    out += QByteArray::number(qint64(state.lastTaskResult));
    out += ",\n    \"missedRuns\": ";
    out += QByteArray::number(state.missedRuns);
    out += ",\n    \"runState\": ";
    out += QByteArray::number(int(state.runState));
    out += ",\n    \"version\": ";
    out += QByteArray::number(kVersion);
    out += "\n}\n";
    return out;
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
