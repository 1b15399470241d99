#pragma once
// The network state as NetworkManager reports it, or as the interfaces show it without one.

#include "sources/NetworkSource.h"

#include <QStringList>
#include <optional>

/// Asks NetworkManager on the system bus when a start needs the network. Where there is no
/// NetworkManager, the network is available when an interface other than loopback is up and
/// running, and a profile is connected when an interface of that name is.
class NetworkManagerState : public NetworkSource {
public:
    bool Available() const override;
    bool ProfileConnected(const QString& name) const override;

private:
    /// NetworkManager's connectivity (NM_CONNECTIVITY_*); nothing without NetworkManager.
    std::optional<uint> Connectivity() const;
    /// The ids of the active connections; nothing without NetworkManager.
    std::optional<QStringList> ActiveIds() const;
    /// The names of the interfaces that are up and running, loopback aside.
    static QStringList UpInterfaces();
};
