#pragma once
// The computers this user already knows by name.

#include <QString>
#include <QStringList>

/// Host names gathered from the user's SSH configuration and the hosts ssh already knows:
/// the computers whose tasks can be reached through ssh.
class KnownHosts {
public:
    /// The names of "Host" lines of the SSH configuration at `ASshConfigPath` (patterns
    /// with "*", "?" or "!" left out) and of the known hosts file at `AKnownHostsPath`
    /// (hashed names, patterns, revoked keys and comments left out; "[name]:port" gives the
    /// name), without repeats (letter case ignored), sorted. Files that cannot be read add nothing.
    static QStringList Read(const QString& ASshConfigPath, const QString& AKnownHostsPath);
    /// `Read` of the configuration ssh is told to use ($TASKSCHEDULER_SSH_CONFIG, else
    /// ~/.ssh/config) and of ~/.ssh/known_hosts, "~" being the account's home as ssh sees it.
    static QStringList ForCurrentUser();
};
