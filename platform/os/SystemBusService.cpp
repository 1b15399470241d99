#include "SystemBusService.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>

SystemBusService::SystemBusService(QString name, int timeoutMs) : m_name(std::move(name)), m_timeoutMs(timeoutMs) {}

bool SystemBusService::IsPresent() const
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(m_name);
    return registered.isValid() && registered.value();
}

QVariant SystemBusService::Property(const QString& path, const QString& interface, const QString& property) const
{
    QDBusInterface properties(m_name, path, QStringLiteral("org.freedesktop.DBus.Properties"), QDBusConnection::systemBus());
    properties.setTimeout(m_timeoutMs);
    const QDBusReply<QDBusVariant> reply = properties.call(QStringLiteral("Get"), interface, property);
    return reply.isValid() ? reply.value().variant() : QVariant();
}
