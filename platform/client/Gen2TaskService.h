#pragma once
// The generation 2.0 service object (class CLSID_TaskScheduler): connects to the service
// of the current root and hands out its folders and new definitions.

#include "Gen2Session.h"
#include "TaskService2.h"

#include <memory>

class Gen2TaskService : public ComObject<Gen2TaskService, ITaskService> {
public:
    /// The class factory of the object runtime.
    static HRESULT CreateInstance(REFIID riid, void** ppv);

    HRESULT GetFolder(const QString& path, ITaskFolder** ppFolder) override;
    HRESULT GetRunningTasks(LONG flags, IRunningTaskCollection** ppRunningTasks) override;
    HRESULT NewTask(DWORD flags, ITaskDefinition** ppDefinition) override;
    HRESULT Connect(VARIANT serverName, VARIANT user, VARIANT domain, VARIANT password) override;
    HRESULT get_Connected(VARIANT_BOOL* pConnected) override;
    HRESULT get_TargetServer(QString* pServer) override;
    HRESULT get_ConnectedUser(QString* pUser) override;
    HRESULT get_ConnectedDomain(QString* pDomain) override;
    HRESULT get_HighestVersion(DWORD* pVersion) override;

private:
    HRESULT NotConnected() const;
    std::shared_ptr<Gen2Session> m_session;
};
