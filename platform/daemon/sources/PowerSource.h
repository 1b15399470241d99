#pragma once
// Where the daemon learns whether the computer runs on its batteries.

#include <QObject>

/// The power supply of the computer. Tests replace the system's with their own.
class PowerSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    /// Whether the computer runs on batteries now; false on mains power or when nobody can tell.
    virtual bool OnBattery() const = 0;

signals:
    /// The computer switched to batteries (true) or back to mains power (false).
    void OnBatteryChanged(bool onBattery);
};
