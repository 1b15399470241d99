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

/// Whether clients host the service core themselves instead of talking to the root's daemon:
/// TASKSCHEDULER_TRANSPORT=inprocess, which only the library's unit tests set. Any other
/// value, or none, selects the daemon.
bool InProcessServiceSelected();

/// The transport to the service of the current root (ServiceRoot::DefaultPath()): the local
/// socket of the root's daemon, waiting briefly for a daemon that is still starting; the
/// in-process core when InProcessServiceSelected().
std::shared_ptr<ServiceTransport> OpenServiceTransport();

/// The transport to the service of `computer`: OpenServiceTransport() for this computer
/// (ComputerName::IsLocal), an SshTransport as `user` (empty: ssh's own choice) for any other.
std::shared_ptr<ServiceTransport> OpenServiceTransport(const QString& computer, const QString& user);
