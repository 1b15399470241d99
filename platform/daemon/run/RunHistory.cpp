#include "run/RunHistory.h"

#include "AtomicFile.h"
#include "gen2/TaskStore.h"
#include "run/JsonText.h"

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

// One run as it stands in the file's list of runs. Written by hand rather than through
// QJsonDocument, which builds and sorts a tree of every run at every end of a run; the
// result is the same JSON, members in the same order.
QByteArray Encode(const RunHistoryEntry& e)
{
    QByteArray out;
    out.reserve(256);
    out += "        {\n            \"attempt\": " + QByteArray::number(e.attempt) + ",\n            \"cause\": ";
    JsonText::AppendString(out, e.cause);
    out += ",\n            \"end\": " + QByteArray::number(e.end.toMSecsSinceEpoch()) + ",\n            \"instance\": ";
    JsonText::AppendString(out, e.instance);
    if (!e.reason.isEmpty()) {
        out += ",\n            \"reason\": ";
        JsonText::AppendString(out, e.reason);
    }
    out += ",\n            \"result\": " + QByteArray::number(qint64(quint32(e.result)));
    out += ",\n            \"start\": " + QByteArray::number(e.start.toMSecsSinceEpoch()) + "\n        }";
    return out;
}

QByteArray Document(const QString& task, const QList<QByteArray>& runs)
{
    QByteArray out;
    qsizetype size = 64;
    for (const QByteArray& run : runs) size += run.size() + 2;
    out.reserve(size);
    out += runs.isEmpty() ? "{\n    \"runs\": [\n    ],\n" : "{\n    \"runs\": [\n";
    for (qsizetype i = 0; i < runs.size(); ++i) {
        out += runs[i];
        out += i + 1 < runs.size() ? ",\n" : "\n    ],\n";
    }
    out += "    \"task\": ";
    JsonText::AppendString(out, task);
    out += ",\n    \"version\": 1\n}\n";
    return out;
}

RunHistoryEntry FromJson(const QJsonObject& o)
{
    RunHistoryEntry e;
    e.instance = o.value(QStringLiteral("instance")).toString();
    e.cause = o.value(QStringLiteral("cause")).toString();
    e.attempt = o.value(QStringLiteral("attempt")).toInt();
    // In UTC: a time in local time asks the C library for its offset each time it is used,
    // which reads the zone's file (and every write of the history uses each run's times).
    e.start = QDateTime::fromMSecsSinceEpoch(qint64(o.value(QStringLiteral("start")).toDouble()), Qt::UTC);
    e.end = QDateTime::fromMSecsSinceEpoch(qint64(o.value(QStringLiteral("end")).toDouble()), Qt::UTC);
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

const RunHistory::Written* RunHistory::Remembered(const QString& file) const
{
    const auto it = m_written.constFind(file);
    if (it == m_written.cend()) return nullptr;
    struct stat st {};
    if (::stat(QFile::encodeName(file).constData(), &st) != 0 || quint64(st.st_ino) != it->inode || qint64(st.st_size) != it->size
        || qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec != it->modifiedNs)
        return nullptr;   // changed by someone else since
    return &*it;
}

void RunHistory::Remember(const QString& file, const QList<RunHistoryEntry>& entries, const QList<QByteArray>& encoded)
{
    struct stat st {};
    if (::stat(QFile::encodeName(file).constData(), &st) != 0) {
        m_written.remove(file);
        return;
    }
    if (m_written.size() >= MaxRemembered && !m_written.contains(file)) m_written.clear();
    m_written.insert(file, Written{quint64(st.st_ino), qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                                   entries, encoded});
}

QList<RunHistoryEntry> RunHistory::Read(const TaskKey& key, QString* error) const
{
    if (const Written* written = Remembered(File(key))) return written->entries;
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
    const Change change = Prepare(key, newRuns);
    if (change.added.isEmpty()) return {};
    Write(change);
    Keep(change);
    return change.added;
}

RunHistory::Change RunHistory::Prepare(const TaskKey& key, const QList<RunHistoryEntry>& newRuns) const
{
    Change change;
    change.file = File(key);
    QList<RunHistoryEntry>& entries = change.entries;
    QList<QByteArray>& encoded = change.encoded;
    if (const Written* written = Remembered(change.file)) {
        entries = written->entries;
        encoded = written->encoded;
    } else {
        QString error;
        entries = Read(key, &error);
        if (!error.isEmpty()) qCWarning(lcHistory) << error << "It is started afresh.";
        for (const RunHistoryEntry& e : std::as_const(entries)) encoded.append(Encode(e));
    }
    QList<RunHistoryEntry>& added = change.added;
    for (const RunHistoryEntry& run : newRuns) {
        const auto same = [&](const RunHistoryEntry& e) { return e.instance == run.instance; };
        if (std::none_of(entries.cbegin(), entries.cend(), same) && std::none_of(added.cbegin(), added.cend(), same)) added.append(run);
    }
    if (added.isEmpty()) return change;
    for (const RunHistoryEntry& e : std::as_const(added)) encoded.append(Encode(e));
    entries += added;
    if (entries.size() > MaxEntries) {
        entries.erase(entries.begin(), entries.end() - MaxEntries);
        encoded.erase(encoded.begin(), encoded.end() - MaxEntries);
    }
    change.document = Document(key.ToString(), encoded);
    return change;
}

void RunHistory::Write(const Change& change)
{
    AtomicFile::MakePath(QFileInfo(change.file).absolutePath());
    AtomicFile::Write(change.file, change.document);
}

void RunHistory::Keep(const Change& change) { Remember(change.file, change.entries, change.encoded); }

void RunHistory::Remove(const TaskKey& key)
{
    m_written.remove(File(key));
    QFile::remove(File(key));
}
