#include "InProcessTransport.h"

#include "ServiceCore.h"

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

std::shared_ptr<ServiceTransport> OpenServiceTransport()
{
    return std::make_shared<InProcessTransport>(ServiceRoot::DefaultPath());
}
