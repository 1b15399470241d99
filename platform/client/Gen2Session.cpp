#include "Gen2Session.h"

#include "DaemonProtocol.h"
#include "ErrorInfo.h"

HRESULT Gen2Session::Call(const QCborMap& request, QCborMap* reply) const
{
    // A call that succeeds leaves no description behind; one that fails leaves its own.
    SetErrorInfo(0, nullptr);
    ++m_calls;
    const QCborMap answer = m_transport->Call(request);
    const QCborValue hrValue = answer.value(DaemonProtocol::Key::Hr);
    if (!hrValue.isInteger()) return Gen2::Fail(E_FAIL, QStringLiteral("The service gave no result."));
    const HRESULT hr = HRESULT(hrValue.toInteger());
    if (FAILED(hr)) return Gen2::Fail(hr, answer.value(DaemonProtocol::Key::Error).toString());
    if (reply) *reply = answer;
    return hr;
}

namespace Gen2 {

HRESULT Fail(HRESULT hr, const QString& description)
{
    SetErrorDescription(hr, description);
    return hr;
}

HRESULT PutDuration(QString* field, const QString& value, const char* property)
{
    if (!TaskValueRules::IsDurationOrEmpty(value)) return Fail(TaskValueRules::DurationProblem(QLatin1String(property), value));
    *field = value;
    return S_OK;
}

HRESULT PutBoundary(QString* field, const QString& value, const char* property)
{
    if (!TaskValueRules::IsBoundaryOrEmpty(value)) return Fail(TaskValueRules::BoundaryProblem(QLatin1String(property), value));
    *field = value;
    return S_OK;
}

HRESULT PutNumber(int* field, qint64 value, bool valid, const char* property)
{
    if (!valid) return Fail(TaskValueRules::RangeProblem(QLatin1String(property), value));
    *field = int(value);
    return S_OK;
}

} // namespace Gen2
