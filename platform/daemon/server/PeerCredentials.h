#pragma once
// Who is at the other end of a local socket, as the kernel vouches for it.

#include "RequestRouter.h"

#include <optional>

/// The credentials of the peer of the connected local socket `fd` (SO_PEERCRED); nothing
/// when the kernel does not tell.
std::optional<ClientIdentity> PeerCredentials(qintptr fd);
