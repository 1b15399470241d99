#include "NetworkManagerProfiles.h"

#include "SystemBusService.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QMap>
#include <QVariantMap>

namespace {

using ConnectionSettings = QMap<QString, QVariantMap>;

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString kConnectionInterface = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");

// A form waits for this answer: a hung bus must not hang it for the default 25 seconds.
constexpr int kTimeoutMs = 3000;

} // namespace

std::optional<QStringList> NetworkManagerProfiles::ProfileNames() const
{
    if (!SystemBusService(kService, kTimeoutMs).IsPresent()) return std::nullopt;
    QDBusConnection bus = QDBusConnection::systemBus();

    QDBusInterface settings(kService, kSettingsPath, kSettingsInterface, bus);
    settings.setTimeout(kTimeoutMs);
    const QDBusReply<QList<QDBusObjectPath>> paths = settings.call(QStringLiteral("ListConnections"));
    if (!paths.isValid()) return std::nullopt;

    qDBusRegisterMetaType<ConnectionSettings>();
    QStringList names;
    for (const QDBusObjectPath& path : paths.value()) {
        QDBusInterface connection(kService, path.path(), kConnectionInterface, bus);
        connection.setTimeout(kTimeoutMs);
        const QDBusReply<ConnectionSettings> reply = connection.call(QStringLiteral("GetSettings"));
        if (!reply.isValid()) continue;
        const QString id = reply.value().value(QStringLiteral("connection")).value(QStringLiteral("id")).toString();
        if (!id.isEmpty()) names << id;
    }
    return names;
}
