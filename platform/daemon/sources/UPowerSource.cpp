#include "sources/UPowerSource.h"

#include "SystemBusService.h"

#include <QDBusConnection>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcPower, "taskschedd.power")

namespace {
const QString kService = QStringLiteral("org.freedesktop.UPower");
const QString kPath = QStringLiteral("/org/freedesktop/UPower");
const QString kInterface = QStringLiteral("org.freedesktop.UPower");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
// The daemon serves its clients meanwhile: a hung bus must not stall it.
constexpr int kTimeoutMs = 2000;
} // namespace

UPowerSource::UPowerSource(QObject* parent) : PowerSource(parent)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        qCInfo(lcPower) << "no system bus; the computer counts as being on mains power";
        return;
    }
    // Subscribed before the first read, so that a switch in between is not lost.
    bus.connect(kService, kPath, kProperties, QStringLiteral("PropertiesChanged"), this,
                SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList)));
    m_onBattery = Read();
}

bool UPowerSource::Read() const
{
    const SystemBusService upower(kService, kTimeoutMs);
    return upower.IsPresent() && upower.Property(kPath, kInterface, QStringLiteral("OnBattery")).toBool();
}

void UPowerSource::OnPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated)
{
    if (interface != kInterface) return;
    bool now = m_onBattery;
    if (changed.contains(QStringLiteral("OnBattery"))) now = changed.value(QStringLiteral("OnBattery")).toBool();
    else if (invalidated.contains(QStringLiteral("OnBattery"))) now = Read();
    else return;
    if (now == m_onBattery) return;
    m_onBattery = now;
    qCInfo(lcPower) << (now ? "the computer runs on batteries" : "the computer runs on mains power");
    emit OnBatteryChanged(now);
}
