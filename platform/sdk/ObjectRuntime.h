#pragma once
// The platform's object runtime: joining it on a thread and creating the service's
// in-process objects by class identifier.

#include "ComBase.h"

enum CLSCTX : DWORD { CLSCTX_INPROC_SERVER = 0x1 };

/// Joins the object runtime on the calling thread (single-threaded apartment). Counted.
HRESULT CoInitialize(void* reserved);
/// Leaves the object runtime once for every successful CoInitialize.
void CoUninitialize();
/// Creates the in-process object of class `rclsid` and hands it out as interface `riid`.
/// Fails with CO_E_NOTINITIALIZED before CoInitialize and REGDB_E_CLASSNOTREG for an unknown class.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* outer, DWORD clsContext, REFIID riid, void** ppv);
