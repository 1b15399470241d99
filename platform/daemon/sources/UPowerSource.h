#pragma once
// The power supply as UPower reports it on the system bus.

#include "sources/PowerSource.h"

/// Follows UPower's OnBattery property through its change signal; nothing is polled. A machine
/// without a system bus or without UPower counts as being on mains power.
class UPowerSource : public PowerSource {
    Q_OBJECT
public:
    explicit UPowerSource(QObject* parent = nullptr);
    bool OnBattery() const override { return m_onBattery; }

private slots:
    void OnPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);

private:
    bool Read() const;

    bool m_onBattery = false;
};
