#pragma once
// The computers this user already knows by name.

#include <QString>
#include <QStringList>

/// Host names gathered from the user's SSH configuration and the system's hosts file.
class KnownHosts {
public:
    /// The names of "Host" lines of the SSH configuration at `ASshConfigPath` (patterns
    /// with "*", "?" or "!" left out) and of the hosts file at `AHostsPath` (comments left
    /// out), without repeats (letter case ignored), sorted. Files that cannot be read add nothing.
    static QStringList Read(const QString& ASshConfigPath, const QString& AHostsPath);
    /// `Read` of ~/.ssh/config and /etc/hosts.
    static QStringList ForCurrentUser();
};
