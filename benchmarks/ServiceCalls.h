#pragma once

// What the benchmarks that talk to the service share: stop at the first failed call with the
// service's own words, cast between interfaces, and connect to the service.

#include "ObjectRuntime.h"
#include "ResultCodes.h"
#include "TaskService2.h"

#include <cstdio>
#include <cstdlib>

/// Ends the benchmark with `what` and the service's text when `hr` is a failure.
inline void Check(HRESULT hr, const char* what)
{
    if (FAILED(hr)) {
        std::fprintf(stderr, "%s failed: %s\n", what, qPrintable(ErrorDescription(hr)));
        std::exit(1);
    }
}

/// The interface `I` of `from`, or null where it has none.
template <typename I, typename From>
ComPtr<I> Cast(const ComPtr<From>& from)
{
    ComPtr<I> to;
    from.As(to);
    return to;
}

/// A service connected to this computer, as the environment chooses the transport.
inline ComPtr<ITaskService> Connect()
{
    ComPtr<ITaskService> service;
    Check(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService, service.PutVoid()), "CoCreateInstance");
    Check(service->Connect(VARIANT::Empty(), VARIANT::Empty(), VARIANT::Empty(), VARIANT::Empty()), "Connect");
    return service;
}
