#pragma once
// Power and network sources that tests set by hand.

#include "sources/NetworkSource.h"
#include "sources/PowerSource.h"

#include <QStringList>

class FakePower : public PowerSource {
public:
    bool OnBattery() const override { return onBattery; }
    /// Switches the supply and says so, as the system's source does.
    void Switch(bool toBattery)
    {
        onBattery = toBattery;
        emit OnBatteryChanged(toBattery);
    }
    bool onBattery = false;
};

class FakeNetwork : public NetworkSource {
public:
    bool Available() const override { return available; }
    bool ProfileConnected(const QString& name) const override { return profiles.contains(name, Qt::CaseInsensitive); }
    bool available = true;
    QStringList profiles;
};
