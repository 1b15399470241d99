#include "server/PeerCredentials.h"

#include <sys/socket.h>

std::optional<ClientIdentity> PeerCredentials(qintptr fd)
{
    struct ucred cred {};
    socklen_t length = sizeof(cred);
    if (fd < 0 || getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 || length != sizeof(cred))
        return std::nullopt;
    return ClientIdentity{cred.uid, cred.gid, cred.pid};
}
