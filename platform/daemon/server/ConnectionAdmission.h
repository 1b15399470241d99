#pragma once
// Which clients the daemon keeps when connections are many.

#include <QList>
#include <sys/types.h>

/// Decides, when a client connects, whether it is served and which idle connection makes
/// room for it. No user holds more than its share, so one user's connections never starve
/// another's; and while any connection idles, a new client finds room: the idle one that
/// waited longest goes first, from the user holding the most connections.
class ConnectionAdmission {
public:
    /// A connection being served.
    struct Held {
        int id = 0;
        uid_t uid = 0;
        bool idle = false;        ///< nothing is half-received, being answered or unsent
        qint64 idleSinceMs = 0;   ///< when it became idle
    };
    /// Admit the newcomer, after dropping connection `evict` when that is not 0.
    struct Decision {
        bool admit = false;
        int evict = 0;
        friend bool operator==(const Decision&, const Decision&) = default;
    };

    ConnectionAdmission(int maxClients, int perUserLimit) : m_maxClients(maxClients), m_perUserLimit(perUserLimit) {}

    /// The decision for a client of `uid` while `held` are served.
    Decision Decide(const QList<Held>& held, uid_t uid) const;

private:
    int m_maxClients;
    int m_perUserLimit;
};
