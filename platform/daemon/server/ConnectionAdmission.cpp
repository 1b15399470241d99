#include "server/ConnectionAdmission.h"

#include <QHash>
#include <algorithm>

namespace {

// The connection of `uid` (of anybody when `anyUid`) idle the longest; 0 when none idles.
int LongestIdle(const QList<ConnectionAdmission::Held>& held, uid_t uid, bool anyUid)
{
    const ConnectionAdmission::Held* oldest = nullptr;
    for (const ConnectionAdmission::Held& h : held) {
        if (!h.idle || (!anyUid && h.uid != uid)) continue;
        if (!oldest || h.idleSinceMs < oldest->idleSinceMs) oldest = &h;
    }
    return oldest ? oldest->id : 0;
}

} // namespace

ConnectionAdmission::Decision ConnectionAdmission::Decide(const QList<Held>& held, uid_t uid) const
{
    QHash<uid_t, int> perUser;
    for (const Held& h : held) ++perUser[h.uid];

    // A user at its share makes room among its own connections, or waits.
    if (perUser.value(uid) >= m_perUserLimit) {
        const int evict = LongestIdle(held, uid, false);
        return Decision{evict != 0, evict};
    }
    if (held.size() < m_maxClients) return Decision{true, 0};

    // Full: the users holding the most give way first, with their longest idle connection.
    QList<uid_t> users = perUser.keys();
    std::sort(users.begin(), users.end(), [&](uid_t a, uid_t b) { return perUser.value(a) > perUser.value(b); });
    for (uid_t user : std::as_const(users)) {
        if (const int evict = LongestIdle(held, user, false)) return Decision{true, evict};
    }
    return Decision{false, 0};
}
