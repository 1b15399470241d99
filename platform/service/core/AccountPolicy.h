#pragma once
// Which accounts a client may register tasks for. A service that runs as an ordinary user
// runs tasks only as that user; one that runs as root runs them as any account. A client
// may name only its own account, unless it is root itself.

#include "RequestRouter.h"
#include "gen2/TaskValueRules.h"

#include <QString>
#include <sys/types.h>

class AccountPolicy {
public:
    /// `serviceUid` is the account the service runs as; `peer` the client asking.
    AccountPolicy(uid_t serviceUid, ClientIdentity peer) : m_serviceUid(serviceUid), m_peer(peer) {}

    /// "System", "SYSTEM", "LocalSystem", "NT AUTHORITY\SYSTEM", "S-1-5-18": the service account (root).
    static bool IsSystemAccount(const QString& account);
    /// The local account name of `uid`, or empty.
    static QString UserName(uid_t uid);
    /// The name without a "COMPUTER\" or ".\" prefix naming this computer; empty for another domain.
    static QString LocalName(const QString& account);

    /// The client's own account name.
    QString PeerName() const { return UserName(m_peer.uid); }
    /// Whether tasks may be registered to run as `account`: "Access is denied." for an account
    /// the client may not name or the service cannot run as, "No mapping ..." for one that
    /// does not exist.
    ValueProblem CheckUser(const QString& account) const;
    /// The same for a group task: the group must exist and hold the client (unless the client
    /// is root), and a service that is not root serves only its own account.
    ValueProblem CheckGroup(const QString& group) const;

private:
    uid_t m_serviceUid;
    ClientIdentity m_peer;
};
