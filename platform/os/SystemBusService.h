#pragma once
// One service on the system bus, asked as a guest: asking never makes the bus start it, and
// every call gives up after a bounded time, so a missing or hung service cannot stall a caller.

#include <QList>
#include <optional>
#include <QString>
#include <QVariant>
#include <QVariantMap>

class SystemBusService {
public:
    /// The service `name` (such as "org.freedesktop.UPower"), whose calls wait `timeoutMs` at most.
    SystemBusService(QString name, int timeoutMs);

    /// Whether the system bus is reachable and the service runs on it now.
    bool IsPresent() const;
    /// The property `property` of `interface` on the service's object `path`; invalid when it
    /// cannot be read. Does not check IsPresent.
    QVariant Property(const QString& path, const QString& interface, const QString& property) const;
    /// Every property of `interface` on the object `path`; empty when they cannot be read.
    QVariantMap Properties(const QString& path, const QString& interface) const;
    /// Calls `method` of `interface` on the object `path` with `arguments`. The reply's
    /// arguments, or nothing (with `error` set when given) when the call failed or timed out.
    std::optional<QList<QVariant>> Call(const QString& path, const QString& interface, const QString& method,
                                        const QList<QVariant>& arguments = {}, QString* error = nullptr) const;

    QString Name() const { return m_name; }
    int TimeoutMs() const { return m_timeoutMs; }

private:
    QString m_name;
    int m_timeoutMs;
};
