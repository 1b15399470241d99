#pragma once
// Service control: whether the scheduling service of a root runs, and starting it.

#include "ComBase.h"

#include <QString>

/// The service control of one service root, in the manner of a service control manager:
/// open the service by name, query its state, start it. Every operation answers with a
/// system error code, 0 for success; nothing raises.
class ServiceControl {
public:
    /// The name the scheduling service is known by.
    static QString ScheduleServiceName() { return QStringLiteral("Schedule"); }

    enum class State { Stopped, Running };

    /// The system error code for a service name that no service has.
    static constexpr DWORD ServiceDoesNotExist = 1060;
    /// How long a query waits for a running daemon's answer.
    static constexpr int QueryWaitMs = 1000;

    /// The control of the service of `rootPath` (by default the current root).
    explicit ServiceControl(QString rootPath = DefaultRootPath());

    /// Finds out whether the service `serviceName` runs into `state`: whether the root's daemon
    /// answers (with the in-process service: whether the root can be used). Fails with
    /// ServiceDoesNotExist for a name that is not the scheduling service's.
    DWORD QueryState(const QString& serviceName, State& state) const;
    /// Starts the service `serviceName` when it does not run: launches the root's daemon detached
    /// and returns at once (0), or ERROR_SERVICE_NOT_ACTIVE when it cannot be launched; then
    /// `reason` (when given) receives why, in words for the user.
    DWORD Start(const QString& serviceName, QString* reason = nullptr) const;

    /// The root of the current user's service (ServiceRoot::DefaultPath()).
    static QString DefaultRootPath();

private:
    QString m_rootPath;
};
