#include "NetworkManagerState.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDBusArgument>
#include <QNetworkInterface>

namespace {
const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kActiveInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr int kTimeoutMs = 2000;
// NM_CONNECTIVITY_PORTAL and above: connected to a network, if maybe not to the internet.
constexpr uint kConnectivityPortal = 2;
constexpr uint kConnectivityUnknown = 0;

bool Present(QDBusConnection& bus)
{
    if (!bus.isConnected() || !bus.interface()) return false;
    const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(kService);
    return registered.isValid() && registered.value();
}

QVariant Property(QDBusConnection& bus, const QString& path, const QString& interface, const QString& name)
{
    QDBusInterface properties(kService, path, kProperties, bus);
    properties.setTimeout(kTimeoutMs);
    const QDBusReply<QDBusVariant> reply = properties.call(QStringLiteral("Get"), interface, name);
    return reply.isValid() ? reply.value().variant() : QVariant();
}
} // namespace

std::optional<uint> NetworkManagerState::Connectivity() const
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!Present(bus)) return std::nullopt;
    const QVariant value = Property(bus, kPath, kInterface, QStringLiteral("Connectivity"));
    if (!value.isValid()) return std::nullopt;
    uint connectivity = value.toUInt();
    if (connectivity == kConnectivityUnknown) {
        // Connectivity checking is off: its state says whether it is connected at all
        // (NM_STATE_CONNECTED_LOCAL and above).
        const uint state = Property(bus, kPath, kInterface, QStringLiteral("State")).toUInt();
        connectivity = state >= 50 ? kConnectivityPortal : 1;
    }
    return connectivity;
}

std::optional<QStringList> NetworkManagerState::ActiveIds() const
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!Present(bus)) return std::nullopt;
    const QVariant value = Property(bus, kPath, kInterface, QStringLiteral("ActiveConnections"));
    if (!value.isValid()) return std::nullopt;
    QList<QDBusObjectPath> paths;
    if (value.canConvert<QDBusArgument>()) value.value<QDBusArgument>() >> paths;
    else paths = value.value<QList<QDBusObjectPath>>();
    QStringList ids;
    for (const QDBusObjectPath& path : paths) {
        const QString id = Property(bus, path.path(), kActiveInterface, QStringLiteral("Id")).toString();
        if (!id.isEmpty()) ids << id;
    }
    return ids;
}

QStringList NetworkManagerState::UpInterfaces()
{
    QStringList names;
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        const auto flags = i.flags();
        if (flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning)
            && !flags.testFlag(QNetworkInterface::IsLoopBack))
            names << i.name();
    }
    return names;
}

bool NetworkManagerState::Available() const
{
    if (const auto connectivity = Connectivity()) return *connectivity >= kConnectivityPortal;
    return !UpInterfaces().isEmpty();
}

bool NetworkManagerState::ProfileConnected(const QString& name) const
{
    const QStringList ids = ActiveIds().value_or(UpInterfaces());
    return ids.contains(name, Qt::CaseInsensitive);
}
