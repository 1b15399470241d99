// The object runtime's class table: the in-process classes the platform's client offers.

#include "ObjectRuntime.h"
#include "Gen2TaskService.h"

#include "Gen1TaskScheduler.h"
#include "ResultCodes.h"
#include "tvMSTask.h"

#include <QThreadStorage>
#include <functional>
#include <vector>

namespace {

using Factory = std::function<HRESULT(REFIID, void**)>;

struct ClassEntry {
    CLSID clsid;
    Factory create;
};

// One line per class that the client makes. Each generation's client adds its own.
const std::vector<ClassEntry>& Classes()
{
    static const std::vector<ClassEntry> classes{
        {CLSID_TaskScheduler, &Gen2TaskService::CreateInstance},
        {CLSID_CTaskScheduler, &Gen1TaskScheduler::CreateInstance},
    };
    return classes;
}

thread_local int t_initCount = 0;

} // namespace

HRESULT CoInitialize(void*)
{
    return t_initCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize()
{
    if (t_initCount > 0) --t_initCount;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown*, DWORD, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (t_initCount == 0) return CO_E_NOTINITIALIZED;
    for (const ClassEntry& entry : Classes()) {
        if (entry.clsid == rclsid) return entry.create(riid, ppv);
    }
    return REGDB_E_CLASSNOTREG;
}
