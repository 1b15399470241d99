#pragma once
// The scheduling service of one root, without any transport: answers requests.

#include "RequestRouter.h"
#include "ServiceRoot.h"

#include <QCborMap>

/// Hosts the store of one root and answers the requests of both interface generations.
/// The daemon serves it over a socket; the in-process transport calls it directly.
class ServiceCore {
public:
    /// Replays what a crash left in the store's journal.
    explicit ServiceCore(ServiceRoot root);
    /// Checkpoints the store's journal: a clean stop leaves none for the next start.
    ~ServiceCore();
    ServiceCore(const ServiceCore&) = delete;
    ServiceCore& operator=(const ServiceCore&) = delete;

    const ServiceRoot& Root() const { return m_root; }
    /// Answers one request on behalf of `peer`.
    QCborMap Handle(const QCborMap& request, const ClientIdentity& peer) { return m_router.Dispatch(request, peer); }
    RequestRouter& Router() { return m_router; }

private:
    ServiceRoot m_root;
    RequestRouter m_router;
};
