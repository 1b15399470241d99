// The 2.0 run settings of a task item: flags, time properties, compatibility, instance
// policy and logon type. In 1.0 they have no counterpart and answer fixed values.

#include "TTaskItem.h"

#include "TTaskScheduler.h"
#include "TaskDefinitionParts.h"
#include "kvErrors.h"
#include "kvTask.h"

#include <array>

namespace {

const QString SNotValidInteger = QStringLiteral("'%1' is not a valid integer value");
const QString STimePropertiesTooShort =
    QStringLiteral("Six time properties are needed, %1 given.");

constexpr int TimePropertyCount = 6;

// The flag that stands for the principal's logon type rather than a Boolean property.
constexpr TTaskVistaFlag LogonFlag = tfvNeedLogon;

// The Boolean service property behind each flag of value 0 to 11: a settings property or an
// idle-settings property (exactly one of the two pairs is set).
struct FlagProperty {
    HRESULT (ITaskSettings::*SettingsGet)(VARIANT_BOOL*);
    HRESULT (ITaskSettings::*SettingsPut)(VARIANT_BOOL);
    HRESULT (IIdleSettings::*IdleGet)(VARIANT_BOOL*);
    HRESULT (IIdleSettings::*IdlePut)(VARIANT_BOOL);
};

constexpr FlagProperty SettingsFlag(HRESULT (ITaskSettings::*get)(VARIANT_BOOL*), HRESULT (ITaskSettings::*put)(VARIANT_BOOL))
{
    return {get, put, nullptr, nullptr};
}

constexpr FlagProperty IdleFlag(HRESULT (IIdleSettings::*get)(VARIANT_BOOL*), HRESULT (IIdleSettings::*put)(VARIANT_BOOL))
{
    return {nullptr, nullptr, get, put};
}

const std::array<FlagProperty, LogonFlag> FlagProperties{{
    SettingsFlag(&ITaskSettings::get_AllowDemandStart, &ITaskSettings::put_AllowDemandStart),
    SettingsFlag(&ITaskSettings::get_AllowHardTerminate, &ITaskSettings::put_AllowHardTerminate),
    SettingsFlag(&ITaskSettings::get_DisallowStartIfOnBatteries, &ITaskSettings::put_DisallowStartIfOnBatteries),
    SettingsFlag(&ITaskSettings::get_StopIfGoingOnBatteries, &ITaskSettings::put_StopIfGoingOnBatteries),
    SettingsFlag(&ITaskSettings::get_Enabled, &ITaskSettings::put_Enabled),
    SettingsFlag(&ITaskSettings::get_Hidden, &ITaskSettings::put_Hidden),
    SettingsFlag(&ITaskSettings::get_RunOnlyIfIdle, &ITaskSettings::put_RunOnlyIfIdle),
    IdleFlag(&IIdleSettings::get_StopOnIdleEnd, &IIdleSettings::put_StopOnIdleEnd),
    IdleFlag(&IIdleSettings::get_RestartOnIdle, &IIdleSettings::put_RestartOnIdle),
    SettingsFlag(&ITaskSettings::get_RunOnlyIfNetworkAvailable, &ITaskSettings::put_RunOnlyIfNetworkAvailable),
    SettingsFlag(&ITaskSettings::get_StartWhenAvailable, &ITaskSettings::put_StartWhenAvailable),
    SettingsFlag(&ITaskSettings::get_WakeToRun, &ITaskSettings::put_WakeToRun),
}};

// The parts of one definition that the settings members use, each fetched on first use so
// that a member touches only the objects it needs.
class DefinitionParts {
public:
    explicit DefinitionParts(ITaskDefinition* definition) : m_definition(definition) {}

    ITaskSettings* Settings()
    {
        if (!m_settings) m_settings = SettingsOf(m_definition);
        return m_settings.Get();
    }

    IIdleSettings* IdleSettings()
    {
        if (!m_idle) m_idle = IdleSettingsOf(Settings());
        return m_idle.Get();
    }

    IPrincipal* Principal()
    {
        if (!m_principal) m_principal = PrincipalOf(m_definition);
        return m_principal.Get();
    }

    bool ReadFlag(TTaskVistaFlag flag)
    {
        if (flag == LogonFlag) return LogonType() == TASK_LOGON_INTERACTIVE_TOKEN;
        const FlagProperty& property = FlagProperties.at(flag);
        VARIANT_BOOL value = VARIANT_FALSE;
        if (property.SettingsGet) {
            OleCheck((Settings()->*property.SettingsGet)(&value));
        } else {
            OleCheck((IdleSettings()->*property.IdleGet)(&value));
        }
        return value != VARIANT_FALSE;
    }

    void WriteFlag(TTaskVistaFlag flag, bool on)
    {
        if (flag == LogonFlag) {
            OleCheck(Principal()->put_LogonType(on ? TASK_LOGON_INTERACTIVE_TOKEN : TASK_LOGON_PASSWORD));
            return;
        }
        const FlagProperty& property = FlagProperties.at(flag);
        const VARIANT_BOOL value = on ? VARIANT_TRUE : VARIANT_FALSE;
        if (property.SettingsPut) {
            OleCheck((Settings()->*property.SettingsPut)(value));
        } else {
            OleCheck((IdleSettings()->*property.IdlePut)(value));
        }
    }

    TASK_LOGON_TYPE LogonType() { return LogonTypeOf(Principal()); }

private:
    ITaskDefinition* m_definition;
    ComPtr<ITaskSettings> m_settings;
    ComPtr<IIdleSettings> m_idle;
    ComPtr<IPrincipal> m_principal;
};

// The restart count in decimal digits (an optional sign, surrounding blanks allowed), within 32 bits.
LONG ToRestartCount(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok) throw EConvertError(SNotValidInteger.arg(text));
    return value;
}

} // namespace

TTaskVistaFlags TTaskItem::GetVistaFlags() const
{
    TTaskVistaFlags flags;
    if (!IsVista()) return flags;
    CheckDefinition();
    DefinitionParts parts(FTaskDefinition.Get());
    for (int n = 0; n <= LogonFlag; ++n) {
        const auto flag = static_cast<TTaskVistaFlag>(n);
        if (parts.ReadFlag(flag)) flags.Include(flag);
    }
    return flags;
}

void TTaskItem::SetVistaFlags(TTaskVistaFlags Value)
{
    if (!IsVista()) return;
    CheckDefinition();
    DefinitionParts parts(FTaskDefinition.Get());
    for (int n = 0; n <= LogonFlag; ++n) {
        const auto flag = static_cast<TTaskVistaFlag>(n);
        // Hard termination is shown with the flags but kept out of their writes: see GetVistaFlag.
        if (flag == tfvAllowHardTerminate) continue;
        parts.WriteFlag(flag, Value.Contains(flag));
    }
}

bool TTaskItem::GetVistaFlag(const TTaskVistaFlag Flag) const
{
    if (!IsVista()) return false;
    CheckDefinition();
    // Hard termination is not offered one flag at a time: it reads false and is never written,
    // so a caller cannot believe it changed a setting it cannot read back.
    if (Flag == tfvAllowHardTerminate) return false;
    return DefinitionParts(FTaskDefinition.Get()).ReadFlag(Flag);
}

void TTaskItem::SetVistaFlag(const TTaskVistaFlag Flag, const bool Value)
{
    if (!IsVista()) return;
    CheckDefinition();
    if (Flag == tfvAllowHardTerminate) return;
    DefinitionParts(FTaskDefinition.Get()).WriteFlag(Flag, Value);
}

void TTaskItem::GetTimeProperties(QStringList& arr) const
{
    if (!IsVista()) return;
    CheckDefinition();
    // A shorter list grows to the six elements rather than being refused: nothing in it is lost.
    while (arr.size() < TimePropertyCount) arr.append(QString());

    DefinitionParts parts(FTaskDefinition.Get());
    ITaskSettings* settings = parts.Settings();
    OleCheck(settings->get_ExecutionTimeLimit(&arr[0]));
    OleCheck(settings->get_RestartInterval(&arr[1]));
    LONG restartCount = 0;
    OleCheck(settings->get_RestartCount(&restartCount));
    arr[2] = QString::number(restartCount);
    OleCheck(settings->get_DeleteExpiredTaskAfter(&arr[3]));
    IIdleSettings* idle = parts.IdleSettings();
    OleCheck(idle->get_WaitTimeout(&arr[4]));
    OleCheck(idle->get_IdleDuration(&arr[5]));
}

void TTaskItem::SetTimeProperties(const QStringList& arr)
{
    if (!IsVista()) return;
    CheckDefinition();
    // Refused before anything is written, so a short list changes nothing.
    if (arr.size() < TimePropertyCount) throw ETaskError(STimePropertiesTooShort.arg(arr.size()));

    DefinitionParts parts(FTaskDefinition.Get());
    ITaskSettings* settings = parts.Settings();
    OleCheck(settings->put_ExecutionTimeLimit(arr[0]));
    OleCheck(settings->put_RestartInterval(arr[1]));
    OleCheck(settings->put_RestartCount(ToRestartCount(arr[2])));
    OleCheck(settings->put_DeleteExpiredTaskAfter(arr[3]));
    IIdleSettings* idle = parts.IdleSettings();
    OleCheck(idle->put_WaitTimeout(arr[4]));
    OleCheck(idle->put_IdleDuration(arr[5]));
}

TTaskCompatibility TTaskItem::GetTaskCompatibility() const
{
    if (FTaskManager && FTaskManager->GetUseTaskScheduler1Only()) throw ETaskError(STaskService2Required);
    if (!IsVista()) return tcCompatibilityXP;
    CheckDefinition();
    TASK_COMPATIBILITY compatibility = TASK_COMPATIBILITY_V2;
    OleCheck(DefinitionParts(FTaskDefinition.Get()).Settings()->get_Compatibility(&compatibility));
    switch (compatibility) {
    case TASK_COMPATIBILITY_AT:
    case TASK_COMPATIBILITY_V1:
    case TASK_COMPATIBILITY_V2_1:
    case TASK_COMPATIBILITY_V2_2:
    case TASK_COMPATIBILITY_V2_3:
    case TASK_COMPATIBILITY_V2_4:
        return static_cast<TTaskCompatibility>(compatibility);
    default:
        return tcCompatibilityVista;
    }
}

void TTaskItem::SetTaskCompatibility(TTaskCompatibility Value)
{
    if (FTaskManager && FTaskManager->GetUseTaskScheduler1Only()) throw ETaskError(STaskService2Required);
    if (!IsVista()) return;
    CheckDefinition();
    OleCheck(DefinitionParts(FTaskDefinition.Get()).Settings()->put_Compatibility(static_cast<TASK_COMPATIBILITY>(Value)));
}

TTaskInstancesPolicy TTaskItem::GetTaskInstancesPolicy() const
{
    if (!IsVista()) return tipIgnoreNew;
    CheckDefinition();
    TASK_INSTANCES_POLICY policy = TASK_INSTANCES_IGNORE_NEW;
    OleCheck(DefinitionParts(FTaskDefinition.Get()).Settings()->get_MultipleInstances(&policy));
    switch (policy) {
    case TASK_INSTANCES_PARALLEL:
    case TASK_INSTANCES_QUEUE:
    case TASK_INSTANCES_STOP_EXISTING:
        return static_cast<TTaskInstancesPolicy>(policy);
    default:
        return tipIgnoreNew;
    }
}

void TTaskItem::SetTaskInstancesPolicy(TTaskInstancesPolicy Value)
{
    if (!IsVista()) return;
    CheckDefinition();
    OleCheck(DefinitionParts(FTaskDefinition.Get()).Settings()->put_MultipleInstances(static_cast<TASK_INSTANCES_POLICY>(Value)));
}

TTaskLogonType TTaskItem::GetTaskLogonType() const
{
    if (!IsVista()) return tltNone;
    CheckDefinition();
    return static_cast<TTaskLogonType>(DefinitionParts(FTaskDefinition.Get()).LogonType());
}

void TTaskItem::SetTaskLogonType(TTaskLogonType Value)
{
    if (!IsVista()) return;
    CheckDefinition();
    DefinitionParts parts(FTaskDefinition.Get());
    const auto logonType = static_cast<TASK_LOGON_TYPE>(Value);
    if (parts.LogonType() != logonType) OleCheck(parts.Principal()->put_LogonType(logonType));
}
