#include "sources/NetworkManagerState.h"

#include "SystemBusService.h"

#include <QDBusObjectPath>
#include <QDBusArgument>
#include <QNetworkInterface>

namespace {
const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kActiveInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
constexpr int kTimeoutMs = 2000;
// NM_CONNECTIVITY_PORTAL and above: connected to a network, if maybe not to the internet.
constexpr uint kConnectivityPortal = 2;
constexpr uint kConnectivityUnknown = 0;

const SystemBusService& NetworkManager()
{
    static const SystemBusService service(kService, kTimeoutMs);
    return service;
}
} // namespace

std::optional<uint> NetworkManagerState::Connectivity() const
{
    if (!NetworkManager().IsPresent()) return std::nullopt;
    const QVariant value = NetworkManager().Property(kPath, kInterface, QStringLiteral("Connectivity"));
    if (!value.isValid()) return std::nullopt;
    uint connectivity = value.toUInt();
    if (connectivity == kConnectivityUnknown) {
        // Connectivity checking is off: its state says whether it is connected at all
        // (NM_STATE_CONNECTED_LOCAL and above).
        const uint state = NetworkManager().Property(kPath, kInterface, QStringLiteral("State")).toUInt();
        connectivity = state >= 50 ? kConnectivityPortal : 1;
    }
    return connectivity;
}

std::optional<QStringList> NetworkManagerState::ActiveIds() const
{
    if (!NetworkManager().IsPresent()) return std::nullopt;
    const QVariant value = NetworkManager().Property(kPath, kInterface, QStringLiteral("ActiveConnections"));
    if (!value.isValid()) return std::nullopt;
    QList<QDBusObjectPath> paths;
    if (value.canConvert<QDBusArgument>()) value.value<QDBusArgument>() >> paths;
    else paths = value.value<QList<QDBusObjectPath>>();
    QStringList ids;
    for (const QDBusObjectPath& path : paths) {
        const QString id = NetworkManager().Property(path.path(), kActiveInterface, QStringLiteral("Id")).toString();
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
