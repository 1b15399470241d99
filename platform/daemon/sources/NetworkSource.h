#pragma once
// Where the daemon learns whether the computer is on a network.

#include <QString>

/// The network state of the computer. Tests replace the system's with their own.
class NetworkSource {
public:
    virtual ~NetworkSource() = default;
    /// Whether the computer is connected to a network now.
    virtual bool Available() const = 0;
    /// Whether the connection profile called `name` is connected now.
    virtual bool ProfileConnected(const QString& name) const = 0;
};
