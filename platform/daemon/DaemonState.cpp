#include "DaemonState.h"

#include "AtomicFile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcState, "taskschedd.state")

DaemonState::DaemonState(const ServiceRoot& root) : m_file(root.Path() + QStringLiteral("/taskschedd.state")) {}

void DaemonState::Load()
{
    m_bootId.clear();
    m_handledThrough = {};
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
}

void DaemonState::Save(const QString& bootId, const QDateTime& handledThrough)
{
    AtomicFile::Write(m_file, QJsonDocument(QJsonObject{{QStringLiteral("version"), 1},
                                                        {QStringLiteral("bootId"), bootId},
                                                        {QStringLiteral("handledThrough"), handledThrough.toMSecsSinceEpoch()}})
                                  .toJson(QJsonDocument::Compact));
    m_bootId = bootId;
    m_handledThrough = handledThrough;
}

QString DaemonState::CurrentBootId()
{
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromLatin1(file.readAll().trimmed());
}
