#include "run/RunHistory.h"

#include "AtomicFile.h"
#include "gen2/TaskStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <algorithm>
#include <sys/stat.h>

Q_LOGGING_CATEGORY(lcHistory, "taskschedd.history")

namespace {

QJsonObject ToJson(const RunHistoryEntry& e)
{
    QJsonObject o{{QStringLiteral("instance"), e.instance},
                       {QStringLiteral("cause"), e.cause},
                       {QStringLiteral("attempt"), e.attempt},
                       {QStringLiteral("start"), e.start.toMSecsSinceEpoch()},
                       {QStringLiteral("end"), e.end.toMSecsSinceEpoch()},
                       {QStringLiteral("result"), qint64(quint32(e.result))}};
    if (!e.reason.isEmpty()) o.insert(QStringLiteral("reason"), e.reason);
    return o;
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
    e.reason = o.value(QStringLiteral("reason")).toString();
    return e;
}

} // namespace

RunHistory::RunHistory(const ServiceRoot& root) : m_dir(root.HistoryDir()) {}

QString RunHistory::File(const TaskKey& key) const
{
    // Task and folder names have passed the stores' name rules, so they are safe as file names;
    // 2.0 paths are mapped as the store maps them, so that no two share a file.
    if (key.generation == TaskGeneration::Gen1) return m_dir + QStringLiteral("/v1/") + key.path + QStringLiteral(".json");
    const TaskPath path = TaskPath::Parse(key.path).value_or(TaskPath());
    return TaskStore::FileFor(m_dir + QStringLiteral("/v2"), path, QStringLiteral(".json"));
}

std::optional<QList<RunHistoryEntry>> RunHistory::Remembered(const QString& file) const
{
    const auto it = m_written.constFind(file);
    if (it == m_written.cend()) return std::nullopt;
    struct stat st {};
    if (::stat(QFile::encodeName(file).constData(), &st) != 0 || quint64(st.st_ino) != it->inode || qint64(st.st_size) != it->size
        || qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec != it->modifiedNs)
        return std::nullopt;   // changed by someone else since
    return it->entries;
}

void RunHistory::Remember(const QString& file, const QList<RunHistoryEntry>& entries)
{
    struct stat st {};
    if (::stat(QFile::encodeName(file).constData(), &st) != 0) {
        m_written.remove(file);
        return;
    }
    if (m_written.size() >= MaxRemembered && !m_written.contains(file)) m_written.clear();
    m_written.insert(file, Written{quint64(st.st_ino), qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, entries});
}

QList<RunHistoryEntry> RunHistory::Read(const TaskKey& key, QString* error) const
{
    if (auto entries = Remembered(File(key))) return *entries;
    QFile file(File(key));
    if (!file.exists()) {
        // Histories of tasks in folders kept by an earlier version, whose names could collide:
        // one is taken only when it says it is this task's.
        if (key.generation != TaskGeneration::Gen2 || !key.path.mid(1).contains(QLatin1Char('\\'))) return {};
        file.setFileName(m_dir + QStringLiteral("/v2") + QString(key.path).replace(QLatin1Char('\\'), QLatin1Char('/')) + QStringLiteral(".json"));
        if (!QFileInfo(file.fileName()).isFile() || !file.open(QIODevice::ReadOnly)) return {};
        const QJsonObject old = QJsonDocument::fromJson(file.readAll()).object();
        if (old.value(QStringLiteral("version")).toInt() != 1 || old.value(QStringLiteral("task")).toString() != key.ToString()) return {};
        QList<RunHistoryEntry> entries;
        for (const QJsonValue& v : old.value(QStringLiteral("runs")).toArray()) entries.append(FromJson(v.toObject()));
        return entries;
    }
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

bool RunHistory::Append(const TaskKey& key, const RunHistoryEntry& entry)
{
    return !Append(key, QList<RunHistoryEntry>{entry}).isEmpty();
}

QList<RunHistoryEntry> RunHistory::Append(const TaskKey& key, const QList<RunHistoryEntry>& newRuns)
{
    QString error;
    QList<RunHistoryEntry> entries = Read(key, &error);
    if (!error.isEmpty()) qCWarning(lcHistory) << error << "It is started afresh.";
    QList<RunHistoryEntry> added;
    for (const RunHistoryEntry& run : newRuns) {
        const auto same = [&](const RunHistoryEntry& e) { return e.instance == run.instance; };
        if (std::none_of(entries.cbegin(), entries.cend(), same) && std::none_of(added.cbegin(), added.cend(), same)) added.append(run);
    }
    if (added.isEmpty()) return added;
    entries += added;
    if (entries.size() > MaxEntries) entries.erase(entries.begin(), entries.end() - MaxEntries);
    QJsonArray runs;
    for (const RunHistoryEntry& e : entries) runs.append(ToJson(e));
    const QString file = File(key);
    AtomicFile::MakePath(QFileInfo(file).absolutePath());
    AtomicFile::Write(file, QJsonDocument(QJsonObject{{QStringLiteral("version"), 1},
                                                       {QStringLiteral("task"), key.ToString()},
                                                       {QStringLiteral("runs"), runs}})
                                .toJson(QJsonDocument::Indented));
    Remember(file, entries);
    return added;
}

void RunHistory::Remove(const TaskKey& key)
{
    m_written.remove(File(key));
    QFile::remove(File(key));
}
