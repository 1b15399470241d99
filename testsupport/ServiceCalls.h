#pragma once
// The 2.0 interfaces as tests call them: a connected service, a folder, a registered task and
// a registration, each a null pointer or a failure code where the service refuses.
// The caller's thread must have entered the object runtime (CoInitialize).

#include "ObjectRuntime.h"
#include "ResultCodes.h"
#include "TaskService2.h"

#include <QString>

namespace ServiceCalls {

/// `from` queried for interface I; null when `from` is null or does not offer I.
template <typename I, typename From>
ComPtr<I> Cast(const ComPtr<From>& from)
{
    ComPtr<I> to;
    if (from) from.As(to);
    return to;
}

/// A service object connected to this computer's service; null when either step fails.
inline ComPtr<ITaskService> Connected()
{
    ComPtr<ITaskService> service;
    if (FAILED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService, service.PutVoid())))
        return nullptr;
    if (FAILED(service->Connect(VARIANT::Empty(), VARIANT::Empty(), VARIANT::Empty(), VARIANT::Empty()))) return nullptr;
    return service;
}

/// The folder at `path`, through a connection of its own; null when it cannot be had.
inline ComPtr<ITaskFolder> Folder(const QString& path = QStringLiteral("\\"))
{
    ComPtr<ITaskFolder> folder;
    if (const ComPtr<ITaskService> service = Connected()) service->GetFolder(path, folder.Put());
    return folder;
}

/// The registered task `name` of the folder at `folderPath`; null when there is none.
inline ComPtr<IRegisteredTask> Task(const QString& name, const QString& folderPath = QStringLiteral("\\"))
{
    ComPtr<IRegisteredTask> task;
    if (const ComPtr<ITaskFolder> folder = Folder(folderPath)) folder->GetTask(name, task.Put());
    return task;
}

/// Registers `def` as `name` in `folder` to run with the caller's own logon; the registered
/// task goes to `out` when given.
inline HRESULT Register(ITaskFolder* folder, const QString& name, ITaskDefinition* def, LONG flags = TASK_CREATE_OR_UPDATE,
                        ComPtr<IRegisteredTask>* out = nullptr)
{
    ComPtr<IRegisteredTask> task;
    const HRESULT hr = folder->RegisterTaskDefinition(name, def, flags, VARIANT::Empty(), VARIANT::Empty(),
                                                      TASK_LOGON_INTERACTIVE_TOKEN, VARIANT::Empty(), task.Put());
    if (out) *out = task;
    return hr;
}

} // namespace ServiceCalls
