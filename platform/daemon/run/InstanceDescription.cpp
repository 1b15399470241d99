#include "run/InstanceDescription.h"

#include "run/JsonText.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int FormatVersion = 1;
const QString DescriptionKind = QStringLiteral("taskschedd-instance");
const QString OutcomeKind = QStringLiteral("taskschedd-outcome");

QStringList ToStrings(const QJsonValue& value)
{
    QStringList out;
    for (const QJsonValue& v : value.toArray()) out.append(v.toString());
    return out;
}

qint64 ToMs(const QDateTime& t) { return t.isValid() ? t.toMSecsSinceEpoch() : -1; }
// A time in a file another process wrote: a number out of any clock's range is no time,
// rather than a conversion to an integer it does not fit.
QDateTime FromMs(const QJsonValue& v)
{
    const double ms = v.toDouble(-1);
    return ms < 0 || ms > 9.0e15 ? QDateTime() : QDateTime::fromMSecsSinceEpoch(qint64(ms), Qt::UTC);
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

QByteArray InstanceFiles::EncodeDescription(const InstanceDescription& description)
{
    // Written directly (see JsonText.h); the members in QJsonDocument's order, by name.
    QByteArray out;
    out.reserve(1024 + 64 * description.environment.size());
    out += "{\"attempt\":" + QByteArray::number(description.attempt) + ",\"cause\":";
    JsonText::AppendString(out, description.cause);
    out += ",\"environment\":";
    JsonText::AppendStrings(out, description.environment);
    out += ",\"gid\":" + QByteArray::number(qint64(description.gid));
    if (description.groups) {
        out += ",\"groups\":[";
        for (qsizetype i = 0; i < description.groups->size(); ++i)
            out += (i > 0 ? "," : "") + QByteArray::number(qint64(description.groups->at(i)));
        out += ']';
    }
    out += ",\"id\":";
    JsonText::AppendString(out, description.id);
    out += ",\"kind\":";
    JsonText::AppendString(out, DescriptionKind);
    out += ",\"logFile\":";
    JsonText::AppendString(out, description.logFile);
    // Only when there is one: a file without it reads the same to every version, "at once".
    if (description.notBefore.isValid()) out += ",\"notBefore\":" + QByteArray::number(description.notBefore.toMSecsSinceEpoch());
    out += ",\"start\":" + QByteArray::number(ToMs(description.start)) + ",\"steps\":[";
    for (qsizetype i = 0; i < description.steps.size(); ++i) {
        const ExecStep& step = description.steps[i];
        out += i > 0 ? ",{\"arguments\":" : "{\"arguments\":";
        JsonText::AppendStrings(out, step.arguments);
        out += ",\"program\":";
        JsonText::AppendString(out, step.program);
        out += ",\"workingDirectory\":";
        JsonText::AppendString(out, step.workingDirectory);
        out += '}';
    }
    out += "],\"stopAt\":" + QByteArray::number(ToMs(description.stopAt)) + ",\"task\":";
    JsonText::AppendString(out, description.task);
    out += ",\"timeLimitMs\":" + QByteArray::number(description.timeLimitMs) + ",\"uid\":" + QByteArray::number(qint64(description.uid));
    out += ",\"unsupportedAction\":";
    JsonText::AppendString(out, description.unsupportedAction);
    out += ",\"user\":";
    JsonText::AppendString(out, description.user);
    out += ",\"version\":" + QByteArray::number(FormatVersion) + '}';
    return out;
}

std::optional<InstanceDescription> InstanceFiles::DecodeDescription(const QByteArray& bytes, QString* error)
{
    const auto o = Open(bytes, DescriptionKind, error);
    if (!o) return std::nullopt;
    InstanceDescription description;
    description.id = o->value(QStringLiteral("id")).toString();
    description.task = o->value(QStringLiteral("task")).toString();
    description.start = FromMs(o->value(QStringLiteral("start")));
    description.cause = o->value(QStringLiteral("cause")).toString();
    description.attempt = o->value(QStringLiteral("attempt")).toInt();
    for (const QJsonValue& v : o->value(QStringLiteral("steps")).toArray()) {
        const QJsonObject s = v.toObject();
        description.steps.append(ExecStep{s.value(QStringLiteral("program")).toString(), ToStrings(s.value(QStringLiteral("arguments"))),
                                   s.value(QStringLiteral("workingDirectory")).toString()});
    }
    description.user = o->value(QStringLiteral("user")).toString();
    const qint64 uid = qint64(o->value(QStringLiteral("uid")).toDouble(-1));
    const qint64 gid = qint64(o->value(QStringLiteral("gid")).toDouble(-1));
    bool groupsValid = true;
    if (const QJsonValue groups = o->value(QStringLiteral("groups")); groups.isArray()) {
        description.groups.emplace();
        for (const QJsonValue& g : groups.toArray()) {
            const double id = g.toDouble(-1);
            groupsValid = groupsValid && id >= 0 && id <= 4294967295.0 && id == double(qint64(id));
            description.groups->append(gid_t(qint64(id)));
        }
    } else if (!groups.isUndefined() && !groups.isNull()) {
        groupsValid = false;
    }
    description.environment = ToStrings(o->value(QStringLiteral("environment")));
    description.logFile = o->value(QStringLiteral("logFile")).toString();
    description.unsupportedAction = o->value(QStringLiteral("unsupportedAction")).toString();
    // Files written before these were recorded have neither: the task's current limit applies.
    description.timeLimitMs = qint64(o->value(QStringLiteral("timeLimitMs")).toDouble(-1));
    description.stopAt = FromMs(o->value(QStringLiteral("stopAt")));
    description.notBefore = FromMs(o->value(QStringLiteral("notBefore")));
    if (description.id.isEmpty() || description.task.isEmpty() || !description.start.isValid() || uid < 0 || gid < 0 || description.logFile.isEmpty()
        || !groupsValid) {
        if (error) *error = QStringLiteral("the instance record is incomplete");
        return std::nullopt;
    }
    description.uid = uid_t(uid);
    description.gid = gid_t(gid);
    return description;
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

std::optional<InstanceOutcome> InstanceFiles::ReadOutcome(const QString& path, QString* error)
{
    // Read once for every instance that ends: plain reads, without the status calls a QFile
    // makes on opening and reading a file.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    QByteArray bytes;
    char buffer[1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            if (error) *error = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0) break;
        bytes.append(buffer, got);
    }
    ::close(fd);
    return DecodeOutcome(bytes, error);
}

QString InstanceFiles::IdOfDescriptionFile(const QString& fileName)
{
    const QString suffix = QStringLiteral(".instance");
    return fileName.endsWith(suffix) && fileName.size() > suffix.size() ? fileName.chopped(suffix.size()) : QString();
}
