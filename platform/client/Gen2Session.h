#pragma once
// What the client's generation 2.0 objects share: the channel to the service they were
// connected through, and the small steps every property and call repeats.

#include "ResultCodes.h"
#include "ServiceTransport.h"
#include "gen2/TaskValueRules.h"

#include <QCborMap>
#include <QString>
#include <memory>

/// One connection to a service, shared by the service object and every folder and task it hands out.
class Gen2Session {
public:
    explicit Gen2Session(std::shared_ptr<ServiceTransport> transport) : m_transport(std::move(transport)) {}

    /// Sends a request; the reply's result code, with the service's description of a
    /// failure kept for ErrorDescription.
    HRESULT Call(const QCborMap& request, QCborMap* reply = nullptr) const;
    /// How many requests went through this connection so far.
    quint64 CallCount() const { return m_calls; }

    QString server;
    QString user;
    QString domain;
    DWORD highestVersion = 0;

private:
    std::shared_ptr<ServiceTransport> m_transport;
    mutable quint64 m_calls = 0;
};

namespace Gen2 {

/// Fails with `hr`, keeping `description` as the failure's text.
HRESULT Fail(HRESULT hr, const QString& description);
/// Fails with a value refusal.
inline HRESULT Fail(const ValueProblem& problem) { return Fail(problem.code, problem.message); }

inline HRESULT Out(QString* p, const QString& value)
{
    if (!p) return E_POINTER;
    *p = value;
    return S_OK;
}

inline HRESULT OutFlag(VARIANT_BOOL* p, bool value)
{
    if (!p) return E_POINTER;
    *p = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

template <typename T, typename V>
HRESULT OutValue(T* p, V value)
{
    if (!p) return E_POINTER;
    *p = static_cast<T>(value);
    return S_OK;
}

/// Hands out a new object as interface I (the caller owns the reference).
template <typename I, typename Obj>
HRESULT OutObject(I** pp, ComPtr<Obj> object)
{
    if (!pp) return E_POINTER;
    *pp = object.Detach();
    return S_OK;
}

inline HRESULT PutFlag(bool* field, VARIANT_BOOL value)
{
    *field = value != 0;
    return S_OK;
}

/// Stores a duration text ("" for none) after checking it.
HRESULT PutDuration(QString* field, const QString& value, const char* property);
/// Stores a boundary text ("" for none) after checking it.
HRESULT PutBoundary(QString* field, const QString& value, const char* property);
/// Stores a number that `valid` accepts.
HRESULT PutNumber(int* field, qint64 value, bool valid, const char* property);

} // namespace Gen2
