#pragma once
// A transport that hosts the service core of a root inside the calling process.

#include "ServiceTransport.h"

#include <QString>
#include <memory>

class ServiceCore;

/// Calls the service core of a root directly, as the calling user. Every transport of the
/// same root in one process shares one core.
class InProcessTransport : public ServiceTransport {
public:
    explicit InProcessTransport(const QString& rootPath);
    QCborMap Call(const QCborMap& request) override;

private:
    std::shared_ptr<ServiceCore> m_core;
};

/// The transport to the service of the current root (ServiceRoot::DefaultPath()).
std::shared_ptr<ServiceTransport> OpenServiceTransport();
