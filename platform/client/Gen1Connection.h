#pragma once
// The generation 1.0 objects' line to the service: one request, one reply.

#include "ComBase.h"

#include <QCborMap>
#include <QString>
#include <memory>

class ServiceTransport;

/// Sends the "v1." requests of one scheduler and the objects it hands out, and keeps the
/// few facts of the service that do not change while it runs (its computer and directory).
class Gen1Connection {
public:
    explicit Gen1Connection(std::shared_ptr<ServiceTransport> transport);

    /// Sends `args` as operation `op`; `*hr` is the reply's result code (a reply without one
    /// counts as E_UNEXPECTED). The reply is returned whole.
    QCborMap Call(const QString& op, QCborMap args, HRESULT* hr);
    /// The service's own text for the last failure, empty after a success.
    const QString& LastError() const { return m_lastError; }
    /// The result code of the last call.
    HRESULT LastResult() const { return m_lastResult; }
    /// How many requests went through this connection so far.
    quint64 CallCount() const { return m_calls; }

    /// The name of the service's computer; empty when the service cannot be reached.
    QString Computer();
    /// The directory of the service's ".job" files; empty when the service cannot be reached.
    QString JobsDir();

private:
    bool FetchInfo();

    std::shared_ptr<ServiceTransport> m_transport;
    QString m_lastError;
    HRESULT m_lastResult = 0;
    QString m_computer;
    QString m_jobsDir;
    bool m_haveInfo = false;
    quint64 m_calls = 0;
};
