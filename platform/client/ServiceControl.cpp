#include "ServiceControl.h"

#include "DaemonLauncher.h"
#include "InProcessTransport.h"
#include "LocalSocketTransport.h"
#include "ResultCodes.h"
#include "ServiceRoot.h"

#include <QFileInfo>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcServiceControl, "taskscheduler.servicecontrol")

// The service of a root is its daemon, taskschedd: it runs exactly when it answers on the
// root's socket, and starting it launches the program detached. Clients that host the service
// core themselves (the in-process transport of the library's tests) have no daemon: their
// service "runs" when its root can be used, and starting it means preparing that directory.

ServiceControl::ServiceControl(QString rootPath) : m_rootPath(std::move(rootPath)) {}

QString ServiceControl::DefaultRootPath()
{
    return ServiceRoot::DefaultPath();
}

DWORD ServiceControl::QueryState(const QString& serviceName, State& state) const
{
    if (serviceName != ScheduleServiceName()) return ServiceDoesNotExist;
    if (InProcessServiceSelected()) {
        const QFileInfo root(m_rootPath);
        state = root.isDir() && root.isWritable() ? State::Running : State::Stopped;
    } else {
        state = LocalSocketTransport(m_rootPath).Ping(QueryWaitMs) ? State::Running : State::Stopped;
    }
    return 0;
}

DWORD ServiceControl::Start(const QString& serviceName, QString* reason) const
{
    State state = State::Stopped;
    if (const DWORD error = QueryState(serviceName, state)) return error;
    if (state == State::Running) return 0;
    if (InProcessServiceSelected()) {
        if (!ServiceRoot(m_rootPath).Ensure() || QueryState(serviceName, state) != 0 || state != State::Running) {
            if (reason) *reason = QStringLiteral("The service's folder \"%1\" cannot be used.").arg(m_rootPath);
            return ERROR_SERVICE_NOT_ACTIVE;
        }
        return 0;
    }
    // Returns at once: the daemon may still be starting, and whoever connects next waits
    // briefly for its socket.
    QString error;
    if (!DaemonLauncher::Launch(m_rootPath, &error)) {
        qCWarning(lcServiceControl).noquote() << "The scheduling service cannot be started:" << error;
        if (reason) *reason = error;
        return ERROR_SERVICE_NOT_ACTIVE;
    }
    return 0;
}
