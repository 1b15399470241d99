#pragma once
// The generation 1.0 scheduler object: the work items of the service's computer.

#include "ComBase.h"
#include "tvMSTask.h"

#include <QString>
#include <memory>

class Gen1Connection;
class ServiceTransport;

/// The object behind CLSID_CTaskScheduler. It reaches the service through one transport and
/// hands out task objects that share it.
class Gen1TaskScheduler final : public ComObject<Gen1TaskScheduler, ITaskScheduler> {
public:
    static ComPtr<Gen1TaskScheduler> Create(std::shared_ptr<ServiceTransport> transport);
    /// The class table's factory: a scheduler over the current root's transport, as `riid`.
    static HRESULT CreateInstance(REFIID riid, void** ppv);

    HRESULT SetTargetComputer(const QString* pwszComputer) override;
    HRESULT GetTargetComputer(QString* ppwszComputer) override;
    HRESULT Enum(IEnumWorkItems** ppEnumWorkItems) override;
    HRESULT Activate(const QString& pwszName, REFIID riid, IUnknown** ppUnk) override;
    HRESULT Delete(const QString& pwszName) override;
    HRESULT NewWorkItem(const QString& pwszTaskName, REFCLSID rclsid, REFIID riid, IUnknown** ppUnk) override;
    HRESULT AddWorkItem(const QString& pwszTaskName, IScheduledWorkItem* pWorkItem) override;
    HRESULT IsOfType(const QString& pwszName, REFIID riid) override;

private:
    friend class ComObject<Gen1TaskScheduler, ITaskScheduler>;
    explicit Gen1TaskScheduler(std::shared_ptr<ServiceTransport> transport);

    std::shared_ptr<Gen1Connection> m_connection;
    QString m_target;   ///< the other computer connected to; empty for this one
};
