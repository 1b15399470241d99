#include "SystemBusService.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>

namespace {
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
}

SystemBusService::SystemBusService(QString name, int timeoutMs) : m_name(std::move(name)), m_timeoutMs(timeoutMs) {}

bool SystemBusService::IsPresent() const
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(m_name);
    return registered.isValid() && registered.value();
}

std::optional<QList<QVariant>> SystemBusService::Call(const QString& path, const QString& interface, const QString& method,
                                                      const QList<QVariant>& arguments, QString* error) const
{
    // A plain message, not a proxy object: a proxy first introspects the object, and that call
    // waits the bus's default 25 seconds rather than our bound.
    QDBusMessage call = QDBusMessage::createMethodCall(m_name, path, interface, method);
    call.setArguments(arguments);
    call.setAutoStartService(false);
    const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, m_timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        if (error) *error = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
        return std::nullopt;
    }
    return reply.arguments();
}

QVariant SystemBusService::Property(const QString& path, const QString& interface, const QString& property) const
{
    const auto reply = Call(path, kProperties, QStringLiteral("Get"), {interface, property});
    if (!reply || reply->isEmpty()) return {};
    return reply->first().value<QDBusVariant>().variant();
}

QVariantMap SystemBusService::Properties(const QString& path, const QString& interface) const
{
    const auto reply = Call(path, kProperties, QStringLiteral("GetAll"), {interface});
    if (!reply || reply->isEmpty()) return {};
    const QVariant& value = reply->first();
    if (value.metaType() != QMetaType::fromType<QDBusArgument>()) return value.toMap();
    QVariantMap properties;
    value.value<QDBusArgument>() >> properties;
    return properties;
}
