#include "RunHistory.h"

#include "AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcHistory, "taskschedd.history")

namespace {

QJsonObject ToJson(const RunHistoryEntry& e)
{
    return QJsonObject{{QStringLiteral("instance"), e.instance},
                       {QStringLiteral("cause"), e.cause},
                       {QStringLiteral("attempt"), e.attempt},
                       {QStringLiteral("start"), e.start.toMSecsSinceEpoch()},
                       {QStringLiteral("end"), e.end.toMSecsSinceEpoch()},
                       {QStringLiteral("result"), qint64(quint32(e.result))}};
}

RunHistoryEntry FromJson(const QJsonObject& o)
{
    RunHistoryEntry e;
    e.instance = o.value(QStringLiteral("instance")).toString();
    e.cause = o.value(QStringLiteral("cause")).toString();
    e.attempt = o.value(QStringLiteral("attempt")).toInt();
    e.start = QDateTime::fromMSecsSinceEpoch(qint64(o.value(QStringLiteral("start")).toDouble()));
    e.end = QDateTime::fromMSecsSinceEpoch(qint64(o.value(QStringLiteral("end")).toDouble()));
    e.result = HRESULT(quint32(qint64(o.value(QStringLiteral("result")).toDouble())));
    return e;
}

} // namespace

RunHistory::RunHistory(const ServiceRoot& root) : m_dir(root.HistoryDir()) {}

QString RunHistory::File(const TaskKey& key) const
{
    // Task and folder names have passed the stores' name rules, so they are safe as file names.
    if (key.generation == TaskGeneration::V1) return m_dir + QStringLiteral("/v1/") + key.path + QStringLiteral(".json");
    QString path = key.path;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return m_dir + QStringLiteral("/v2") + path + QStringLiteral(".json");
}

QList<RunHistoryEntry> RunHistory::Read(const TaskKey& key, QString* error) const
{
    QFile file(File(key));
    if (!file.exists()) return {};
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = file.errorString();
        return {};
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()
        || doc.object().value(QStringLiteral("version")).toInt() != 1) {
        if (error) *error = QStringLiteral("The run history \"%1\" is damaged.").arg(file.fileName());
        return {};
    }
    QList<RunHistoryEntry> entries;
    for (const QJsonValue& v : doc.object().value(QStringLiteral("runs")).toArray()) entries.append(FromJson(v.toObject()));
    return entries;
}

void RunHistory::Append(const TaskKey& key, const RunHistoryEntry& entry)
{
    QString error;
    QList<RunHistoryEntry> entries = Read(key, &error);
    if (!error.isEmpty()) qCWarning(lcHistory) << error << "It is started afresh.";
    for (const RunHistoryEntry& e : entries) {
        if (e.instance == entry.instance) return;
    }
    entries.append(entry);
    if (entries.size() > MaxEntries) entries.erase(entries.begin(), entries.end() - MaxEntries);
    QJsonArray runs;
    for (const RunHistoryEntry& e : entries) runs.append(ToJson(e));
    const QString file = File(key);
    AtomicFile::MakePath(QFileInfo(file).absolutePath());
    AtomicFile::Write(file, QJsonDocument(QJsonObject{{QStringLiteral("version"), 1},
                                                       {QStringLiteral("task"), key.ToString()},
                                                       {QStringLiteral("runs"), runs}})
                                .toJson(QJsonDocument::Indented));
}

void RunHistory::Remove(const TaskKey& key)
{
    QFile::remove(File(key));
}
