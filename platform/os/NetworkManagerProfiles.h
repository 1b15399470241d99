#pragma once
// The connection profiles of NetworkManager, asked over the system bus.

#include "NetworkProfileSource.h"

/// The names ("id") of the connection profiles NetworkManager keeps. Not available where the
/// system bus or NetworkManager is absent; a profile whose settings cannot be read is skipped.
class NetworkManagerProfiles : public NetworkProfileSource {
public:
    std::optional<QStringList> ProfileNames() const override;
};
