#include "Gen1Connection.h"

#include "DaemonProtocol.h"
#include "ErrorInfo.h"

#include "Gen1Protocol.h"
#include "ResultCodes.h"
#include "ServiceTransport.h"

Gen1Connection::Gen1Connection(std::shared_ptr<ServiceTransport> transport) : m_transport(std::move(transport)) {}

QCborMap Gen1Connection::Call(const QString& op, QCborMap args, HRESULT* hr)
{
    args.insert(QStringLiteral("op"), op);
    // 1.0 failures are told by their code alone: no description of an earlier call may
    // stand for this one.
    SetErrorInfo(0, nullptr);
    ++m_calls;
    const QCborMap reply = m_transport->Call(args);
    const QCborValue code = reply.value(QStringLiteral("hr"));
    *hr = code.isInteger() ? HRESULT(code.toInteger()) : E_UNEXPECTED;
    m_lastResult = *hr;
    m_lastError = FAILED(*hr) ? reply.value(DaemonProtocol::Key::Error).toString() : QString();
    return reply;
}

QString Gen1Connection::Computer()
{
    return FetchInfo() ? m_computer : QString();
}

QString Gen1Connection::JobsDir()
{
    return FetchInfo() ? m_jobsDir : QString();
}

bool Gen1Connection::FetchInfo()
{
    if (m_haveInfo) return true;
    HRESULT hr;
    const QCborMap reply = Call(Gen1Protocol::kInfo, {}, &hr);
    if (FAILED(hr)) return false;
    m_computer = reply.value(Gen1Protocol::Key::Computer).toString();
    m_jobsDir = reply.value(Gen1Protocol::Key::JobsDir).toString();
    m_haveInfo = true;
    return true;
}
