#pragma once
// Dispatches a client's request to the handler of its operation.

#include <QCborMap>
#include <QHash>
#include <QString>
#include <functional>
#include <sys/types.h>

/// Who is asking: the peer's credentials, as the transport learned them.
struct ClientIdentity {
    uid_t uid = 0;
    gid_t gid = 0;
    pid_t pid = 0;
};

/// Maps operation names ("op" of a request) to handlers. Each area of the service
/// registers its own operations; an unknown operation is refused, never guessed at.
class RequestRouter {
public:
    using Handler = std::function<QCborMap(const QCborMap& request, const ClientIdentity& peer)>;

    /// Registers the handler of operation `op`; a second registration of the same name replaces the first.
    void Add(const QString& op, Handler handler);
    /// Runs the request's handler. Unknown operations and handlers that throw give a reply
    /// with a failure "hr" and an "error" text.
    QCborMap Dispatch(const QCborMap& request, const ClientIdentity& peer) const;
    bool Has(const QString& op) const { return m_handlers.contains(op); }

private:
    QHash<QString, Handler> m_handlers;
};
