#include "ErrorInfo.h"

#include "ResultCodes.h"

namespace {

class ErrorInfoObject : public ComObject<ErrorInfoObject, IErrorInfo, ICreateErrorInfo> {
public:
    HRESULT GetGUID(GUID* pGUID) override
    {
        if (!pGUID) return E_POINTER;
        *pGUID = m_guid;
        return S_OK;
    }
    HRESULT GetSource(QString* pBstrSource) override
    {
        if (!pBstrSource) return E_POINTER;
        *pBstrSource = m_source;
        return S_OK;
    }
    HRESULT GetDescription(QString* pBstrDescription) override
    {
        if (!pBstrDescription) return E_POINTER;
        *pBstrDescription = m_description;
        return S_OK;
    }
    HRESULT SetGUID(REFIID rguid) override
    {
        m_guid = rguid;
        return S_OK;
    }
    HRESULT SetSource(const QString& szSource) override
    {
        m_source = szSource;
        return S_OK;
    }
    HRESULT SetDescription(const QString& szDescription) override
    {
        m_description = szDescription;
        return S_OK;
    }

private:
    GUID m_guid{};
    QString m_source;
    QString m_description;
};

// Each thread keeps its own: a failure belongs to the call that the thread made.
thread_local ComPtr<IErrorInfo> t_errorInfo;

} // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo)
{
    if (!pperrinfo) return E_POINTER;
    *pperrinfo = static_cast<ICreateErrorInfo*>(ErrorInfoObject::Make().Detach());
    return S_OK;
}

HRESULT SetErrorInfo(DWORD, IErrorInfo* perrinfo)
{
    t_errorInfo = ComPtr<IErrorInfo>(perrinfo);
    return S_OK;
}

HRESULT GetErrorInfo(DWORD, IErrorInfo** pperrinfo)
{
    if (!pperrinfo) return E_POINTER;
    *pperrinfo = t_errorInfo.Detach();
    return *pperrinfo ? S_OK : S_FALSE;
}
