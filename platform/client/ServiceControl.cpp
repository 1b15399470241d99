#include "ServiceControl.h"

#include "ResultCodes.h"
#include "ServiceRoot.h"

#include <QFileInfo>

// Until a service process exists, the service core runs inside each client (the in-process
// transport). Such a service "runs" exactly when its root directory can be used: it exists
// as a writable directory. Starting it means preparing that directory.

ServiceControl::ServiceControl(QString rootPath) : m_rootPath(std::move(rootPath)) {}

QString ServiceControl::DefaultRootPath()
{
    return ServiceRoot::DefaultPath();
}

DWORD ServiceControl::QueryState(const QString& serviceName, State& state) const
{
    if (serviceName != ScheduleServiceName()) return ServiceDoesNotExist;
    const QFileInfo root(m_rootPath);
    state = root.isDir() && root.isWritable() ? State::Running : State::Stopped;
    return 0;
}

DWORD ServiceControl::Start(const QString& serviceName) const
{
    State state = State::Stopped;
    if (const DWORD error = QueryState(serviceName, state)) return error;
    if (state == State::Running) return 0;
    if (!ServiceRoot(m_rootPath).Ensure()) return ERROR_SERVICE_NOT_ACTIVE;
    if (QueryState(serviceName, state) != 0 || state != State::Running) return ERROR_SERVICE_NOT_ACTIVE;
    return 0;
}
