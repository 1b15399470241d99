#include "InstanceSpec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int FormatVersion = 1;
const QString SpecKind = QStringLiteral("taskschedd-instance");
const QString OutcomeKind = QStringLiteral("taskschedd-outcome");

QJsonArray ToJson(const QStringList& list) { return QJsonArray::fromStringList(list); }

QStringList ToStrings(const QJsonValue& value)
{
    QStringList out;
    for (const QJsonValue& v : value.toArray()) out.append(v.toString());
    return out;
}

qint64 ToMs(const QDateTime& t) { return t.isValid() ? t.toMSecsSinceEpoch() : -1; }
QDateTime FromMs(const QJsonValue& v)
{
    const qint64 ms = qint64(v.toDouble(-1));
    return ms < 0 ? QDateTime() : QDateTime::fromMSecsSinceEpoch(ms);
}

std::optional<QJsonObject> Open(const QByteArray& bytes, const QString& kind, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        if (error) *error = QStringLiteral("not a JSON object (%1)").arg(parseError.errorString());
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    if (o.value(QStringLiteral("kind")).toString() != kind || o.value(QStringLiteral("version")).toInt() != FormatVersion) {
        if (error) *error = QStringLiteral("not a version %1 %2 file").arg(FormatVersion).arg(kind);
        return std::nullopt;
    }
    return o;
}

} // namespace

QByteArray InstanceFiles::EncodeSpec(const InstanceSpec& launchSpec)
{
    QJsonArray steps;
    for (const ExecStep& step : launchSpec.steps) {
        steps.append(QJsonObject{{QStringLiteral("program"), step.program},
                                 {QStringLiteral("arguments"), ToJson(step.arguments)},
                                 {QStringLiteral("workingDirectory"), step.workingDirectory}});
    }
    const QJsonObject o{{QStringLiteral("kind"), SpecKind},
                        {QStringLiteral("version"), FormatVersion},
                        {QStringLiteral("id"), launchSpec.id},
                        {QStringLiteral("task"), launchSpec.task},
                        {QStringLiteral("start"), ToMs(launchSpec.start)},
                        {QStringLiteral("cause"), launchSpec.cause},
                        {QStringLiteral("attempt"), launchSpec.attempt},
                        {QStringLiteral("steps"), steps},
                        {QStringLiteral("user"), launchSpec.user},
                        {QStringLiteral("uid"), qint64(launchSpec.uid)},
                        {QStringLiteral("gid"), qint64(launchSpec.gid)},
                        {QStringLiteral("environment"), ToJson(launchSpec.environment)},
                        {QStringLiteral("logFile"), launchSpec.logFile},
                        {QStringLiteral("unsupportedAction"), launchSpec.unsupportedAction}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<InstanceSpec> InstanceFiles::DecodeSpec(const QByteArray& bytes, QString* error)
{
    const auto o = Open(bytes, SpecKind, error);
    if (!o) return std::nullopt;
    InstanceSpec launchSpec;
    launchSpec.id = o->value(QStringLiteral("id")).toString();
    launchSpec.task = o->value(QStringLiteral("task")).toString();
    launchSpec.start = FromMs(o->value(QStringLiteral("start")));
    launchSpec.cause = o->value(QStringLiteral("cause")).toString();
    launchSpec.attempt = o->value(QStringLiteral("attempt")).toInt();
    for (const QJsonValue& v : o->value(QStringLiteral("steps")).toArray()) {
        const QJsonObject s = v.toObject();
        launchSpec.steps.append(ExecStep{s.value(QStringLiteral("program")).toString(), ToStrings(s.value(QStringLiteral("arguments"))),
                                   s.value(QStringLiteral("workingDirectory")).toString()});
    }
    launchSpec.user = o->value(QStringLiteral("user")).toString();
    const qint64 uid = qint64(o->value(QStringLiteral("uid")).toDouble(-1));
    const qint64 gid = qint64(o->value(QStringLiteral("gid")).toDouble(-1));
    launchSpec.environment = ToStrings(o->value(QStringLiteral("environment")));
    launchSpec.logFile = o->value(QStringLiteral("logFile")).toString();
    launchSpec.unsupportedAction = o->value(QStringLiteral("unsupportedAction")).toString();
    if (launchSpec.id.isEmpty() || launchSpec.task.isEmpty() || !launchSpec.start.isValid() || uid < 0 || gid < 0 || launchSpec.logFile.isEmpty()) {
        if (error) *error = QStringLiteral("the instance record is incomplete");
        return std::nullopt;
    }
    launchSpec.uid = uid_t(uid);
    launchSpec.gid = gid_t(gid);
    return launchSpec;
}

QByteArray InstanceFiles::EncodeOutcome(const InstanceOutcome& outcome)
{
    const QJsonObject o{{QStringLiteral("kind"), OutcomeKind},
                        {QStringLiteral("version"), FormatVersion},
                        {QStringLiteral("end"), ToMs(outcome.end)},
                        {QStringLiteral("exitCode"), outcome.exitCode},
                        {QStringLiteral("signal"), outcome.signal},
                        {QStringLiteral("startErrno"), outcome.startErrno},
                        {QStringLiteral("startStage"), outcome.startStage},
                        {QStringLiteral("failedStep"), outcome.failedStep},
                        {QStringLiteral("stepsRun"), outcome.stepsRun},
                        {QStringLiteral("stopRequested"), outcome.stopRequested}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<InstanceOutcome> InstanceFiles::DecodeOutcome(const QByteArray& bytes, QString* error)
{
    const auto o = Open(bytes, OutcomeKind, error);
    if (!o) return std::nullopt;
    InstanceOutcome outcome;
    outcome.end = FromMs(o->value(QStringLiteral("end")));
    outcome.exitCode = o->value(QStringLiteral("exitCode")).toInt();
    outcome.signal = o->value(QStringLiteral("signal")).toInt();
    outcome.startErrno = o->value(QStringLiteral("startErrno")).toInt();
    outcome.startStage = o->value(QStringLiteral("startStage")).toInt();
    outcome.failedStep = o->value(QStringLiteral("failedStep")).toInt(-1);
    outcome.stepsRun = o->value(QStringLiteral("stepsRun")).toInt();
    outcome.stopRequested = o->value(QStringLiteral("stopRequested")).toBool();
    if (!outcome.end.isValid()) {
        if (error) *error = QStringLiteral("the outcome has no end time");
        return std::nullopt;
    }
    return outcome;
}

QString InstanceFiles::IdOfSpecFile(const QString& fileName)
{
    const QString suffix = QStringLiteral(".instance");
    return fileName.endsWith(suffix) && fileName.size() > suffix.size() ? fileName.chopped(suffix.size()) : QString();
}
