#pragma once
// How a client's objects reach the scheduling service: one request, one reply.

#include <QCborMap>

/// A channel to one service instance. Requests and replies are CBOR maps: a request names
/// its operation under "op"; every reply carries the call's result code under "hr".
class ServiceTransport {
public:
    virtual ~ServiceTransport() = default;
    /// Sends `request` and waits for the reply. A channel that fails answers with a reply
    /// whose "hr" is a failure code, never by throwing.
    virtual QCborMap Call(const QCborMap& request) = 0;
};
