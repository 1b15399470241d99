#include "Gen2TaskService.h"

#include "ComputerName.h"
#include "Gen2Protocol.h"
#include "Gen2TaskDefinition.h"
#include "Gen2TaskFolder.h"
#include "InProcessTransport.h"

using namespace Gen2;

HRESULT Gen2TaskService::CreateInstance(REFIID riid, void** ppv)
{
    const auto service = Make();
    return service->QueryInterface(riid, ppv);
}

HRESULT Gen2TaskService::NotConnected() const
{
    return Fail(HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED),
                QStringLiteral("This operation is supported only when you are connected to the server. (Call Connect first.)"));
}

HRESULT Gen2TaskService::Connect(VARIANT serverName, VARIANT user, VARIANT domain, VARIANT password)
{
    // Another computer is reached through ssh, as the user named (or ssh's own choice), and
    // its service is then asked for a connection to its own computer.
    const QString remoteName = serverName.vt == VT_BSTR ? serverName.bstrVal : QString();
    const bool remote = !ComputerName::IsLocal(remoteName);
    const QString remoteUser = user.vt == VT_BSTR ? user.bstrVal : QString();
    auto session = std::make_shared<Gen2Session>(remote ? OpenServiceTransport(remoteName, remoteUser) : OpenServiceTransport());
    if (remote) {
        serverName = VARIANT::Null();
        domain = VARIANT::Null();
    }
    QCborMap reply;
    const HRESULT hr = session->Call(QCborMap{{QStringLiteral("op"), Gen2Protocol::kConnect},
                                              {Gen2Protocol::Key::Server, Gen2Protocol::FromVariant(serverName)},
                                              {Gen2Protocol::Key::User, Gen2Protocol::FromVariant(user)},
                                              {Gen2Protocol::Key::Domain, Gen2Protocol::FromVariant(domain)},
                                              {Gen2Protocol::Key::Password, Gen2Protocol::FromVariant(password)}},
                                     &reply);
    if (FAILED(hr)) return hr;
    // A remote computer keeps the name it was reached by: that is the name the user knows it by.
    session->server = remote ? ComputerName::Bare(remoteName) : reply.value(Gen2Protocol::Key::Server).toString();
    session->user = reply.value(Gen2Protocol::Key::User).toString();
    session->domain = reply.value(Gen2Protocol::Key::Domain).toString();
    session->highestVersion = DWORD(reply.value(Gen2Protocol::Key::Version).toInteger());
    m_session = session;
    return S_OK;
}

HRESULT Gen2TaskService::GetFolder(const QString& path, ITaskFolder** ppFolder)
{
    if (!ppFolder) return E_POINTER;
    *ppFolder = nullptr;
    if (!m_session) return NotConnected();
    return Gen2TaskFolder::Make(m_session, QStringLiteral("\\"))->GetFolder(path, ppFolder);
}

HRESULT Gen2TaskService::GetRunningTasks(LONG flags, IRunningTaskCollection** ppRunningTasks)
{
    if (!ppRunningTasks) return E_POINTER;
    *ppRunningTasks = nullptr;
    if (!m_session) return NotConnected();
    return m_session->Call(QCborMap{{QStringLiteral("op"), Gen2Protocol::kRunningList}, {Gen2Protocol::Key::Flags, flags}});
}

HRESULT Gen2TaskService::NewTask(DWORD flags, ITaskDefinition** ppDefinition)
{
    if (!ppDefinition) return E_POINTER;
    *ppDefinition = nullptr;
    if (!m_session) return NotConnected();
    if (flags != 0) return Fail(E_INVALIDARG, QStringLiteral("NewTask takes no flags."));
    return OutObject(ppDefinition, Gen2TaskDefinition::Make());
}

HRESULT Gen2TaskService::get_Connected(VARIANT_BOOL* pConnected) { return OutFlag(pConnected, m_session != nullptr); }

HRESULT Gen2TaskService::get_TargetServer(QString* pServer)
{
    if (!pServer) return E_POINTER;
    return m_session ? Out(pServer, m_session->server) : NotConnected();
}

HRESULT Gen2TaskService::get_ConnectedUser(QString* pUser)
{
    if (!pUser) return E_POINTER;
    return m_session ? Out(pUser, m_session->user) : NotConnected();
}

HRESULT Gen2TaskService::get_ConnectedDomain(QString* pDomain)
{
    if (!pDomain) return E_POINTER;
    return m_session ? Out(pDomain, m_session->domain) : NotConnected();
}

HRESULT Gen2TaskService::get_HighestVersion(DWORD* pVersion)
{
    if (!pVersion) return E_POINTER;
    return m_session ? OutValue(pVersion, m_session->highestVersion) : NotConnected();
}
