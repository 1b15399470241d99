#include "schedule/DaemonState.h"

#include "AtomicFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcState, "taskschedd.state")

DaemonState::DaemonState(const ServiceRoot& root) : m_file(root.Path() + QStringLiteral("/taskschedd.state")) {}

void DaemonState::Load()
{
    m_bootId.clear();
    m_handledThrough = {};
    m_catchUpBootId.clear();
    m_catchUp.clear();
    QFile file(m_file);
    if (!file.open(QIODevice::ReadOnly)) return;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject() || doc.object().value(QStringLiteral("version")).toInt() != 1) {
        qCWarning(lcState) << "the daemon state" << m_file << "is damaged; missed starts cannot be told and are not caught up";
        return;
    }
    const QJsonObject o = doc.object();
    m_bootId = o.value(QStringLiteral("bootId")).toString();
    const qint64 ms = qint64(o.value(QStringLiteral("handledThrough")).toDouble(-1));
    if (ms >= 0) m_handledThrough = QDateTime::fromMSecsSinceEpoch(ms);
    const QJsonObject catchUp = o.value(QStringLiteral("catchUp")).toObject();
    m_catchUpBootId = catchUp.value(QStringLiteral("bootId")).toString();
    const QJsonArray tasks = catchUp.value(QStringLiteral("tasks")).toArray();
    for (const QJsonValue& value : tasks) {
        const QJsonObject task = value.toObject();
        const auto key = TaskKey::FromString(task.value(QStringLiteral("task")).toString());
        const qint64 through = qint64(task.value(QStringLiteral("through")).toDouble(-1));
        if (!key || through < 0) continue;
        m_catchUp.insert(*key, CatchUpMark{QDateTime::fromMSecsSinceEpoch(through), task.value(QStringLiteral("started")).toBool(),
                                           task.value(QStringLiteral("boot")).toBool()});
    }
}

void DaemonState::Save(const QString& bootId, const QDateTime& handledThrough, bool flush)
{
    const QString oldBootId = m_bootId;
    const QDateTime oldThrough = m_handledThrough;
    const CatchUpMarks oldMarks = m_catchUp;
    m_bootId = bootId;
    m_handledThrough = handledThrough;
    // A mark is needed only until the moment it names is handled for every task.
    for (auto it = m_catchUp.begin(); it != m_catchUp.end();) it = it->through <= handledThrough ? m_catchUp.erase(it) : std::next(it);
    try {
        Write(flush);
    } catch (...) {
        m_bootId = oldBootId;
        m_handledThrough = oldThrough;
        m_catchUp = oldMarks;
        throw;
    }
}

CatchUpMarks DaemonState::CatchUp(const QString& bootId) const
{
    CatchUpMarks marks = m_catchUp;
    if (bootId.isEmpty() || bootId != m_catchUpBootId) {
        for (CatchUpMark& mark : marks) mark.bootStarts = false;
    }
    return marks;
}

void DaemonState::RecordCatchUp(const QString& bootId, const TaskKey& key, const CatchUpMark& mark)
{
    const QString oldBootId = m_catchUpBootId;
    const CatchUpMarks oldMarks = m_catchUp;
    if (bootId != m_catchUpBootId) {
        // Start-up starts of another boot say nothing about this one.
        for (CatchUpMark& kept : m_catchUp) kept.bootStarts = false;
        m_catchUpBootId = bootId;
    }
    m_catchUp.insert(key, mark);
    try {
        Write();
    } catch (...) {
        m_catchUpBootId = oldBootId;
        m_catchUp = oldMarks;
        throw;
    }
}

void DaemonState::Write(bool flush)
{
    QJsonObject o{{QStringLiteral("version"), 1},
                  {QStringLiteral("bootId"), m_bootId},
                  {QStringLiteral("handledThrough"), m_handledThrough.isValid() ? m_handledThrough.toMSecsSinceEpoch() : -1}};
    if (!m_catchUp.isEmpty()) {
        QJsonArray tasks;
        for (auto it = m_catchUp.cbegin(); it != m_catchUp.cend(); ++it) {
            tasks.append(QJsonObject{{QStringLiteral("task"), it.key().ToString()},
                                     {QStringLiteral("through"), it->through.toMSecsSinceEpoch()},
                                     {QStringLiteral("started"), it->started},
                                     {QStringLiteral("boot"), it->bootStarts}});
        }
        o.insert(QStringLiteral("catchUp"), QJsonObject{{QStringLiteral("bootId"), m_catchUpBootId}, {QStringLiteral("tasks"), tasks}});
    }
    const QByteArray bytes = QJsonDocument(o).toJson(QJsonDocument::Compact);
    if (flush) AtomicFile::Write(m_file, bytes);
    else AtomicFile::WriteUnflushed(m_file, bytes);
}

QString DaemonState::CurrentBootId()
{
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromLatin1(file.readAll().trimmed());
}
