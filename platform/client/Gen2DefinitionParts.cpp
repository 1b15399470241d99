#include "Gen2DefinitionParts.h"

#include "Gen2Session.h"

using namespace Gen2;

namespace {

// Copies between definitions work on this client's own objects only.
HRESULT NotOurs(const char* what)
{
    return Fail(E_INVALIDARG, QStringLiteral("The %1 object does not come from this service's client.").arg(QLatin1String(what)));
}

} // namespace

HRESULT Gen2RegistrationInfo::get_Description(QString* p) { return Out(p, Data().description); }
HRESULT Gen2RegistrationInfo::put_Description(const QString& v) { m->Doc().registrationInfo.description = v; return S_OK; }
HRESULT Gen2RegistrationInfo::get_Author(QString* p) { return Out(p, Data().author); }
HRESULT Gen2RegistrationInfo::put_Author(const QString& v) { m->Doc().registrationInfo.author = v; return S_OK; }
HRESULT Gen2RegistrationInfo::get_Version(QString* p) { return Out(p, Data().version); }
HRESULT Gen2RegistrationInfo::put_Version(const QString& v) { m->Doc().registrationInfo.version = v; return S_OK; }
HRESULT Gen2RegistrationInfo::get_Date(QString* p) { return Out(p, Data().date); }
HRESULT Gen2RegistrationInfo::put_Date(const QString& v) { return PutBoundary(&m->Doc().registrationInfo.date, v, "Date"); }
HRESULT Gen2RegistrationInfo::get_Documentation(QString* p) { return Out(p, Data().documentation); }
HRESULT Gen2RegistrationInfo::put_Documentation(const QString& v) { m->Doc().registrationInfo.documentation = v; return S_OK; }
HRESULT Gen2RegistrationInfo::get_URI(QString* p) { return Out(p, Data().uri); }
HRESULT Gen2RegistrationInfo::put_URI(const QString& v) { m->Doc().registrationInfo.uri = v; return S_OK; }
HRESULT Gen2RegistrationInfo::get_Source(QString* p) { return Out(p, Data().source); }
HRESULT Gen2RegistrationInfo::put_Source(const QString& v) { m->Doc().registrationInfo.source = v; return S_OK; }

HRESULT Gen2Principal::get_Id(QString* p) { return Out(p, Data().id); }
HRESULT Gen2Principal::put_Id(const QString& v) { m->Doc().principal.id = v; return S_OK; }
HRESULT Gen2Principal::get_DisplayName(QString* p) { return Out(p, Data().displayName); }
HRESULT Gen2Principal::put_DisplayName(const QString& v) { m->Doc().principal.displayName = v; return S_OK; }
HRESULT Gen2Principal::get_UserId(QString* p) { return Out(p, Data().userId); }
HRESULT Gen2Principal::put_UserId(const QString& v) { m->Doc().principal.userId = v; return S_OK; }
HRESULT Gen2Principal::get_LogonType(TASK_LOGON_TYPE* p) { return OutValue(p, Data().logonType); }
HRESULT Gen2Principal::put_LogonType(TASK_LOGON_TYPE v)
{
    return PutNumber(&m->Doc().principal.logonType, v, TaskValueRules::IsLogonType(v), "LogonType");
}
HRESULT Gen2Principal::get_GroupId(QString* p) { return Out(p, Data().groupId); }
HRESULT Gen2Principal::put_GroupId(const QString& v) { m->Doc().principal.groupId = v; return S_OK; }
HRESULT Gen2Principal::get_RunLevel(TASK_RUNLEVEL_TYPE* p) { return OutValue(p, Data().runLevel); }
HRESULT Gen2Principal::put_RunLevel(TASK_RUNLEVEL_TYPE v)
{
    return PutNumber(&m->Doc().principal.runLevel, v, TaskValueRules::IsRunLevel(v), "RunLevel");
}

HRESULT Gen2IdleSettings::get_IdleDuration(QString* p) { return Out(p, Data().idleDuration); }
HRESULT Gen2IdleSettings::put_IdleDuration(const QString& v) { return PutDuration(&m->Doc().settings.idle.idleDuration, v, "IdleDuration"); }
HRESULT Gen2IdleSettings::get_WaitTimeout(QString* p) { return Out(p, Data().waitTimeout); }
HRESULT Gen2IdleSettings::put_WaitTimeout(const QString& v) { return PutDuration(&m->Doc().settings.idle.waitTimeout, v, "WaitTimeout"); }
HRESULT Gen2IdleSettings::get_StopOnIdleEnd(VARIANT_BOOL* p) { return OutFlag(p, Data().stopOnIdleEnd); }
HRESULT Gen2IdleSettings::put_StopOnIdleEnd(VARIANT_BOOL v) { return PutFlag(&m->Doc().settings.idle.stopOnIdleEnd, v); }
HRESULT Gen2IdleSettings::get_RestartOnIdle(VARIANT_BOOL* p) { return OutFlag(p, Data().restartOnIdle); }
HRESULT Gen2IdleSettings::put_RestartOnIdle(VARIANT_BOOL v) { return PutFlag(&m->Doc().settings.idle.restartOnIdle, v); }

HRESULT Gen2NetworkSettings::get_Name(QString* p) { return Out(p, Data().name); }
HRESULT Gen2NetworkSettings::put_Name(const QString& v) { m->Doc().settings.network.name = v; return S_OK; }
HRESULT Gen2NetworkSettings::get_Id(QString* p) { return Out(p, Data().id); }
HRESULT Gen2NetworkSettings::put_Id(const QString& v)
{
    if (!v.isEmpty() && !TaskValueRules::IsBracedGuid(v))
        return Fail(E_INVALIDARG, QStringLiteral("Id: \"%1\" is not a network identifier (a GUID in braces).").arg(v));
    m->Doc().settings.network.id = v;
    return S_OK;
}

HRESULT Gen2TaskSettings::get_AllowDemandStart(VARIANT_BOOL* p) { return OutFlag(p, Data().allowDemandStart); }
HRESULT Gen2TaskSettings::put_AllowDemandStart(VARIANT_BOOL v) { return PutFlag(&S().allowDemandStart, v); }
HRESULT Gen2TaskSettings::get_RestartInterval(QString* p) { return Out(p, Data().restartInterval); }
HRESULT Gen2TaskSettings::put_RestartInterval(const QString& v) { return PutDuration(&S().restartInterval, v, "RestartInterval"); }
HRESULT Gen2TaskSettings::get_RestartCount(LONG* p) { return OutValue(p, Data().restartCount); }
HRESULT Gen2TaskSettings::put_RestartCount(LONG v) { return PutNumber(&S().restartCount, v, v >= 0, "RestartCount"); }
HRESULT Gen2TaskSettings::get_MultipleInstances(TASK_INSTANCES_POLICY* p) { return OutValue(p, Data().multipleInstances); }
HRESULT Gen2TaskSettings::put_MultipleInstances(TASK_INSTANCES_POLICY v)
{
    return PutNumber(&S().multipleInstances, v, TaskValueRules::IsInstancesPolicy(v), "MultipleInstances");
}
HRESULT Gen2TaskSettings::get_StopIfGoingOnBatteries(VARIANT_BOOL* p) { return OutFlag(p, Data().stopIfGoingOnBatteries); }
HRESULT Gen2TaskSettings::put_StopIfGoingOnBatteries(VARIANT_BOOL v) { return PutFlag(&S().stopIfGoingOnBatteries, v); }
HRESULT Gen2TaskSettings::get_DisallowStartIfOnBatteries(VARIANT_BOOL* p) { return OutFlag(p, Data().disallowStartIfOnBatteries); }
HRESULT Gen2TaskSettings::put_DisallowStartIfOnBatteries(VARIANT_BOOL v) { return PutFlag(&S().disallowStartIfOnBatteries, v); }
HRESULT Gen2TaskSettings::get_AllowHardTerminate(VARIANT_BOOL* p) { return OutFlag(p, Data().allowHardTerminate); }
HRESULT Gen2TaskSettings::put_AllowHardTerminate(VARIANT_BOOL v) { return PutFlag(&S().allowHardTerminate, v); }
HRESULT Gen2TaskSettings::get_StartWhenAvailable(VARIANT_BOOL* p) { return OutFlag(p, Data().startWhenAvailable); }
HRESULT Gen2TaskSettings::put_StartWhenAvailable(VARIANT_BOOL v) { return PutFlag(&S().startWhenAvailable, v); }
HRESULT Gen2TaskSettings::get_RunOnlyIfNetworkAvailable(VARIANT_BOOL* p) { return OutFlag(p, Data().runOnlyIfNetworkAvailable); }
HRESULT Gen2TaskSettings::put_RunOnlyIfNetworkAvailable(VARIANT_BOOL v) { return PutFlag(&S().runOnlyIfNetworkAvailable, v); }
HRESULT Gen2TaskSettings::get_ExecutionTimeLimit(QString* p) { return Out(p, Data().executionTimeLimit); }
HRESULT Gen2TaskSettings::put_ExecutionTimeLimit(const QString& v) { return PutDuration(&S().executionTimeLimit, v, "ExecutionTimeLimit"); }
HRESULT Gen2TaskSettings::get_Enabled(VARIANT_BOOL* p) { return OutFlag(p, Data().enabled); }
HRESULT Gen2TaskSettings::put_Enabled(VARIANT_BOOL v) { return PutFlag(&S().enabled, v); }
HRESULT Gen2TaskSettings::get_DeleteExpiredTaskAfter(QString* p) { return Out(p, Data().deleteExpiredTaskAfter); }
HRESULT Gen2TaskSettings::put_DeleteExpiredTaskAfter(const QString& v) { return PutDuration(&S().deleteExpiredTaskAfter, v, "DeleteExpiredTaskAfter"); }
HRESULT Gen2TaskSettings::get_Priority(LONG* p) { return OutValue(p, Data().priority); }
HRESULT Gen2TaskSettings::put_Priority(LONG v) { return PutNumber(&S().priority, v, TaskValueRules::IsPriority(v), "Priority"); }
HRESULT Gen2TaskSettings::get_Compatibility(TASK_COMPATIBILITY* p) { return OutValue(p, Data().compatibility); }
HRESULT Gen2TaskSettings::put_Compatibility(TASK_COMPATIBILITY v)
{
    return PutNumber(&S().compatibility, v, TaskValueRules::IsCompatibility(v), "Compatibility");
}
HRESULT Gen2TaskSettings::get_Hidden(VARIANT_BOOL* p) { return OutFlag(p, Data().hidden); }
HRESULT Gen2TaskSettings::put_Hidden(VARIANT_BOOL v) { return PutFlag(&S().hidden, v); }
HRESULT Gen2TaskSettings::get_IdleSettings(IIdleSettings** pp) { return OutObject(pp, Gen2IdleSettings::Make(m)); }
HRESULT Gen2TaskSettings::put_IdleSettings(IIdleSettings* p)
{
    if (!p) return E_POINTER;
    const auto* ours = dynamic_cast<Gen2IdleSettings*>(p);
    if (!ours) return NotOurs("idle settings");
    S().idle = ours->Data();
    return S_OK;
}
HRESULT Gen2TaskSettings::get_RunOnlyIfIdle(VARIANT_BOOL* p) { return OutFlag(p, Data().runOnlyIfIdle); }
HRESULT Gen2TaskSettings::put_RunOnlyIfIdle(VARIANT_BOOL v) { return PutFlag(&S().runOnlyIfIdle, v); }
HRESULT Gen2TaskSettings::get_WakeToRun(VARIANT_BOOL* p) { return OutFlag(p, Data().wakeToRun); }
HRESULT Gen2TaskSettings::put_WakeToRun(VARIANT_BOOL v) { return PutFlag(&S().wakeToRun, v); }
HRESULT Gen2TaskSettings::get_NetworkSettings(INetworkSettings** pp) { return OutObject(pp, Gen2NetworkSettings::Make(m)); }
HRESULT Gen2TaskSettings::put_NetworkSettings(INetworkSettings* p)
{
    if (!p) return E_POINTER;
    const auto* ours = dynamic_cast<Gen2NetworkSettings*>(p);
    if (!ours) return NotOurs("network settings");
    S().network = ours->Data();
    return S_OK;
}
