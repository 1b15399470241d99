#include "RequestRouter.h"

#include "DaemonProtocol.h"
#include "ResultCodes.h"

#include <exception>

void RequestRouter::Add(const QString& op, Handler handler)
{
    m_handlers.insert(op, std::move(handler));
}

QCborMap RequestRouter::Dispatch(const QCborMap& request, const ClientIdentity& peer) const
{
    const QString op = request.value(QStringLiteral("op")).toString();
    const auto it = m_handlers.constFind(op);
    if (it == m_handlers.constEnd()) {
        return QCborMap{{QStringLiteral("hr"), qint64(E_INVALIDARG)},
                        {DaemonProtocol::Key::Error, QStringLiteral("Unknown request \"%1\".").arg(op)}};
    }
    try {
        return it.value()(request, peer);
    } catch (const std::exception& e) {
        return QCborMap{{QStringLiteral("hr"), qint64(E_FAIL)},
                        {DaemonProtocol::Key::Error, QString::fromUtf8(e.what())}};
    }
}
