#include "InProcessTransport.h"

#include "ComputerName.h"
#include "LocalSocketTransport.h"
#include "ServiceCore.h"
#include "SshTransport.h"

#include <QHash>
#include <unistd.h>

namespace {

std::shared_ptr<ServiceCore> SharedCore(const QString& rootPath)
{
    static QHash<QString, std::weak_ptr<ServiceCore>> cores;
    const QString key = ServiceRoot(rootPath).Path();
    if (auto core = cores.value(key).lock()) return core;
    auto core = std::make_shared<ServiceCore>(ServiceRoot(key));
    cores.insert(key, core);
    return core;
}

} // namespace

InProcessTransport::InProcessTransport(const QString& rootPath) : m_core(SharedCore(rootPath)) {}

QCborMap InProcessTransport::Call(const QCborMap& request)
{
    return m_core->Handle(request, ClientIdentity{getuid(), getgid(), getpid()});
}

bool InProcessServiceSelected()
{
    return qEnvironmentVariable("TASKSCHEDULER_TRANSPORT").compare(QLatin1String("inprocess"), Qt::CaseInsensitive) == 0;
}

std::shared_ptr<ServiceTransport> OpenServiceTransport()
{
    if (InProcessServiceSelected()) return std::make_shared<InProcessTransport>(ServiceRoot::DefaultPath());
    auto transport = std::make_shared<LocalSocketTransport>(ServiceRoot::DefaultPath());
    transport->Connect();   // a transport that did not connect answers every call with "not running"
    return transport;
}

std::shared_ptr<ServiceTransport> OpenServiceTransport(const QString& computer, const QString& user)
{
    if (ComputerName::IsLocal(computer)) return OpenServiceTransport();
    return std::make_shared<SshTransport>(ComputerName::Bare(computer), user);
}
