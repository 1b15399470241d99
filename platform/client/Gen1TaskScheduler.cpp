#include "Gen1TaskScheduler.h"

#include "ComputerName.h"
#include "Gen1Connection.h"
#include "Gen1EnumWorkItems.h"
#include "Gen1Protocol.h"
#include "Gen1Task.h"
#include "InProcessTransport.h"
#include "ErrorInfo.h"
#include "ResultCodes.h"

#include <QCborArray>

namespace {

bool IsTaskInterface(REFIID riid)
{
    return riid == IUnknown::iid || riid == ITask::iid || riid == IScheduledWorkItem::iid
        || riid == IPersistFile::iid || riid == IProvideTaskPage::iid;
}

} // namespace

ComPtr<Gen1TaskScheduler> Gen1TaskScheduler::Create(std::shared_ptr<ServiceTransport> transport)
{
    return Make(std::move(transport));
}

HRESULT Gen1TaskScheduler::CreateInstance(REFIID riid, void** ppv)
{
    return Create(OpenServiceTransport())->QueryInterface(riid, ppv);
}

Gen1TaskScheduler::Gen1TaskScheduler(std::shared_ptr<ServiceTransport> transport)
    : m_connection(std::make_shared<Gen1Connection>(std::move(transport)))
{
}

HRESULT Gen1TaskScheduler::SetTargetComputer(const QString* pwszComputer)
{
    const QString name = pwszComputer ? ComputerName::Bare(*pwszComputer) : QString();
    const bool remote = !ComputerName::IsLocal(name);
    if (!remote && m_target.isEmpty()) {
        if (name.isEmpty()) return S_OK;
        return m_connection->Computer().isEmpty() ? SCHED_E_SERVICE_NOT_AVAILABLE : S_OK;
    }
    // A new target is a new connection; task objects handed out before keep the one they came from.
    auto connection = std::make_shared<Gen1Connection>(remote ? OpenServiceTransport(name, QString()) : OpenServiceTransport());
    if (connection->Computer().isEmpty()) {
        const HRESULT hr = FAILED(connection->LastResult()) ? connection->LastResult() : SCHED_E_SERVICE_NOT_AVAILABLE;
        // The reason in the words of ssh or of the service, for whoever reports the failure.
        if (!connection->LastError().isEmpty()) SetErrorDescription(hr, connection->LastError());
        return hr;
    }
    m_connection = connection;
    m_target = remote ? name : QString();
    return S_OK;
}

HRESULT Gen1TaskScheduler::GetTargetComputer(QString* ppwszComputer)
{
    if (!ppwszComputer) return E_POINTER;
    if (!m_target.isEmpty()) {
        *ppwszComputer = QStringLiteral("\\\\") + m_target;
        return S_OK;
    }
    const QString local = m_connection->Computer();
    if (local.isEmpty()) return SCHED_E_SERVICE_NOT_AVAILABLE;
    *ppwszComputer = QStringLiteral("\\\\") + local;
    return S_OK;
}

HRESULT Gen1TaskScheduler::Enum(IEnumWorkItems** ppEnumWorkItems)
{
    if (!ppEnumWorkItems) return E_POINTER;
    *ppEnumWorkItems = nullptr;
    HRESULT hr;
    const QCborMap reply = m_connection->Call(Gen1Protocol::kList, {}, &hr);
    if (FAILED(hr)) return hr;
    QStringList names;
    for (const QCborValue& v : reply.value(Gen1Protocol::Key::Names).toArray()) names.append(v.toString());
    *ppEnumWorkItems = Gen1EnumWorkItems::Create(names).Detach();
    return S_OK;
}

HRESULT Gen1TaskScheduler::Activate(const QString& pwszName, REFIID riid, IUnknown** ppUnk)
{
    if (!ppUnk) return E_POINTER;
    *ppUnk = nullptr;
    HRESULT hr;
    const QCborMap reply = m_connection->Call(Gen1Protocol::kLoad, {{Gen1Protocol::Key::Name, pwszName}}, &hr);
    if (FAILED(hr)) return hr;
    JobDefinition definition;
    QString why;
    if (!JobDefinition::FromCbor(reply.value(Gen1Protocol::Key::Job).toMap(), &definition, &why)) return E_UNEXPECTED;
    ComPtr<Gen1Task> task = Gen1Task::CreateLoaded(m_connection, reply.value(Gen1Protocol::Key::Name).toString(), definition);
    return task->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
}

HRESULT Gen1TaskScheduler::Delete(const QString& pwszName)
{
    HRESULT hr;
    m_connection->Call(Gen1Protocol::kDelete, {{Gen1Protocol::Key::Name, pwszName}}, &hr);
    return hr;
}

HRESULT Gen1TaskScheduler::NewWorkItem(const QString& pwszTaskName, REFCLSID rclsid, REFIID riid, IUnknown** ppUnk)
{
    if (!ppUnk) return E_POINTER;
    *ppUnk = nullptr;
    if (!(rclsid == CLSID_CTask)) return REGDB_E_CLASSNOTREG;
    if (!IsTaskInterface(riid)) return E_NOINTERFACE;
    HRESULT hr;
    const QCborMap reply = m_connection->Call(Gen1Protocol::kExists, {{Gen1Protocol::Key::Name, pwszTaskName}}, &hr);
    if (FAILED(hr)) return hr;
    if (reply.value(Gen1Protocol::Key::Exists).toBool()) return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
    ComPtr<Gen1Task> task = Gen1Task::CreateNew(m_connection, reply.value(Gen1Protocol::Key::Name).toString());
    return task->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
}

HRESULT Gen1TaskScheduler::AddWorkItem(const QString& pwszTaskName, IScheduledWorkItem* pWorkItem)
{
    if (!pWorkItem) return E_POINTER;
    auto* task = dynamic_cast<Gen1Task*>(pWorkItem);
    if (!task) return E_INVALIDARG;
    return task->SaveAsNew(pwszTaskName);
}

HRESULT Gen1TaskScheduler::IsOfType(const QString& pwszName, REFIID riid)
{
    HRESULT hr;
    m_connection->Call(Gen1Protocol::kLoad, {{Gen1Protocol::Key::Name, pwszName}}, &hr);
    if (FAILED(hr)) return hr;
    return IsTaskInterface(riid) ? S_OK : S_FALSE;
}
