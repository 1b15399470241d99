#include "ServiceRoot.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <unistd.h>

QString ServiceRoot::DefaultPath()
{
    const QString home = qEnvironmentVariable("TASKSCHEDULER_HOME");
    // Absolute, so that a client, the daemon it starts and the programs the daemon runs (each
    // in a working directory of its own) all mean the same root.
    if (!home.isEmpty()) return QDir(home).absolutePath();
    if (geteuid() == 0) return QStringLiteral("/var/lib/taskscheduler");
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty()) data = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(data + QStringLiteral("/taskscheduler"));
}

ServiceRoot::ServiceRoot(QString path) : m_path(QDir::cleanPath(path)) {}

QString ServiceRoot::TasksDir() const { return m_path + QStringLiteral("/tasks"); }
QString ServiceRoot::StateDir() const { return m_path + QStringLiteral("/state"); }
QString ServiceRoot::JobsDir() const { return m_path + QStringLiteral("/jobs"); }
QString ServiceRoot::LogsDir() const { return m_path + QStringLiteral("/logs"); }
QString ServiceRoot::HistoryDir() const { return m_path + QStringLiteral("/history"); }
QString ServiceRoot::SocketPath() const { return m_path + QStringLiteral("/taskschedd.socket"); }
QString ServiceRoot::StoreLockPath() const { return m_path + QStringLiteral("/store.lock"); }
QString ServiceRoot::DaemonLockPath() const { return m_path + QStringLiteral("/taskschedd.lock"); }

bool ServiceRoot::Ensure(QString* error) const
{
    for (const QString& dir : {m_path, TasksDir(), StateDir(), JobsDir(), LogsDir()}) {
        if (QDir(dir).exists()) continue;
        if (!QDir().mkpath(dir)) {
            if (error) *error = QStringLiteral("Cannot create the service directory \"%1\".").arg(dir);
            return false;
        }
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    return true;
}
