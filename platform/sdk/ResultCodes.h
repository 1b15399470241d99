#pragma once
// Result codes of the platform and the scheduling service, and the system's English text for each.

#include "ComBase.h"

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;

constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001u);
constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002u);
constexpr HRESULT E_POINTER = MakeHResult(0x80004003u);
constexpr HRESULT E_ABORT = MakeHResult(0x80004004u);
constexpr HRESULT E_FAIL = MakeHResult(0x80004005u);
constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFFu);
constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005u);
constexpr HRESULT E_HANDLE = MakeHResult(0x80070006u);
constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057u);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154u);
constexpr HRESULT CO_E_NOTINITIALIZED = MakeHResult(0x800401F0u);

// System error codes carried as results.
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_BAD_NETPATH = 53;
constexpr DWORD ERROR_NETNAME_DELETED = 64;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
constexpr DWORD ERROR_BAD_PATHNAME = 161;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
constexpr DWORD ERROR_SERVICE_NOT_ACTIVE = 1062;
constexpr DWORD ERROR_ONLY_IF_CONNECTED = 1251;
constexpr DWORD ERROR_NONE_MAPPED = 1332;
constexpr DWORD ERROR_LOGON_FAILURE = 1326;
constexpr DWORD ERROR_FILE_CORRUPT = 1392;
constexpr DWORD ERROR_TIMEOUT = 1460;
constexpr DWORD ERROR_DISK_QUOTA_EXCEEDED = 1295;

// Generation 1.0 informational codes (success) and the service's failure codes.
constexpr HRESULT SCHED_S_TASK_READY = 0x00041300;
constexpr HRESULT SCHED_S_TASK_RUNNING = 0x00041301;
constexpr HRESULT SCHED_S_TASK_DISABLED = 0x00041302;
constexpr HRESULT SCHED_S_TASK_HAS_NOT_RUN = 0x00041303;
constexpr HRESULT SCHED_S_TASK_NO_MORE_RUNS = 0x00041304;
constexpr HRESULT SCHED_S_TASK_NOT_SCHEDULED = 0x00041305;
constexpr HRESULT SCHED_S_TASK_TERMINATED = 0x00041306;
constexpr HRESULT SCHED_S_TASK_NO_VALID_TRIGGERS = 0x00041307;
constexpr HRESULT SCHED_S_EVENT_TRIGGER = 0x00041308;
constexpr HRESULT SCHED_E_TRIGGER_NOT_FOUND = MakeHResult(0x80041309u);
constexpr HRESULT SCHED_E_TASK_NOT_READY = MakeHResult(0x8004130Au);
constexpr HRESULT SCHED_E_TASK_NOT_RUNNING = MakeHResult(0x8004130Bu);
constexpr HRESULT SCHED_E_SERVICE_NOT_INSTALLED = MakeHResult(0x8004130Cu);
constexpr HRESULT SCHED_E_CANNOT_OPEN_TASK = MakeHResult(0x8004130Du);
constexpr HRESULT SCHED_E_INVALID_TASK = MakeHResult(0x8004130Eu);
constexpr HRESULT SCHED_E_ACCOUNT_INFORMATION_NOT_SET = MakeHResult(0x8004130Fu);
constexpr HRESULT SCHED_E_ACCOUNT_NAME_NOT_FOUND = MakeHResult(0x80041310u);
constexpr HRESULT SCHED_E_ACCOUNT_DBASE_CORRUPT = MakeHResult(0x80041311u);
constexpr HRESULT SCHED_E_NO_SECURITY_SERVICES = MakeHResult(0x80041312u);
constexpr HRESULT SCHED_E_UNKNOWN_OBJECT_VERSION = MakeHResult(0x80041313u);
constexpr HRESULT SCHED_E_UNSUPPORTED_ACCOUNT_OPTION = MakeHResult(0x80041314u);
constexpr HRESULT SCHED_E_SERVICE_NOT_RUNNING = MakeHResult(0x80041315u);
constexpr HRESULT SCHED_E_UNEXPECTEDNODE = MakeHResult(0x80041316u);
constexpr HRESULT SCHED_E_NAMESPACE = MakeHResult(0x80041317u);
constexpr HRESULT SCHED_E_INVALIDVALUE = MakeHResult(0x80041318u);
constexpr HRESULT SCHED_E_MISSINGNODE = MakeHResult(0x80041319u);
constexpr HRESULT SCHED_E_MALFORMEDXML = MakeHResult(0x8004131Au);
constexpr HRESULT SCHED_S_SOME_TRIGGERS_FAILED = 0x0004131B;
constexpr HRESULT SCHED_S_BATCH_LOGON_PROBLEM = 0x0004131C;
constexpr HRESULT SCHED_E_TOO_MANY_NODES = MakeHResult(0x8004131Du);
constexpr HRESULT SCHED_E_PAST_END_BOUNDARY = MakeHResult(0x8004131Eu);
constexpr HRESULT SCHED_E_ALREADY_RUNNING = MakeHResult(0x8004131Fu);
constexpr HRESULT SCHED_E_USER_NOT_LOGGED_ON = MakeHResult(0x80041320u);
constexpr HRESULT SCHED_E_INVALID_TASK_HASH = MakeHResult(0x80041321u);
constexpr HRESULT SCHED_E_SERVICE_NOT_AVAILABLE = MakeHResult(0x80041322u);
constexpr HRESULT SCHED_E_SERVICE_TOO_BUSY = MakeHResult(0x80041323u);
constexpr HRESULT SCHED_E_TASK_ATTEMPTED = MakeHResult(0x80041324u);
constexpr HRESULT SCHED_S_TASK_QUEUED = 0x00041325;
constexpr HRESULT SCHED_E_TASK_DISABLED = MakeHResult(0x80041326u);
constexpr HRESULT SCHED_E_TASK_NOT_V1_COMPAT = MakeHResult(0x80041327u);
constexpr HRESULT SCHED_E_START_ON_DEMAND = MakeHResult(0x80041328u);

/// The system's English text for a result code; an unknown code gives a generic text naming it in hex.
QString ResultText(HRESULT hr);

/// Leaves, for the calling thread, an error information object with the service's own
/// description of the failure `hr` that the call being answered ends with; `source` names
/// the interface whose call failed.
void SetErrorDescription(HRESULT hr, const QString& description, const IID& source = IUnknown::iid);
/// Takes the calling thread's error information after a failure `hr`: its description, or
/// the system's text for `hr` (ResultText) when the failing call left none.
QString ErrorDescription(HRESULT hr);
