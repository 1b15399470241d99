#pragma once
// One service on the system bus, asked as a guest: asking never makes the bus start it, and
// every call gives up after a bounded time, so a missing or hung service cannot stall a caller.

#include <QString>
#include <QVariant>

class QDBusConnection;

class SystemBusService {
public:
    /// The service `name` (such as "org.freedesktop.UPower"), whose calls wait `timeoutMs` at most.
    SystemBusService(QString name, int timeoutMs);

    /// Whether the system bus is reachable and the service runs on it now.
    bool IsPresent() const;
    /// The property `property` of `interface` on the service's object `path`; invalid when it
    /// cannot be read. Does not check IsPresent.
    QVariant Property(const QString& path, const QString& interface, const QString& property) const;

    QString Name() const { return m_name; }
    int TimeoutMs() const { return m_timeoutMs; }

private:
    QString m_name;
    int m_timeoutMs;
};
