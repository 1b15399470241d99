#pragma once
// The parts of a client-side definition that are single records: registration
// information, principal, settings with their idle and network settings. Each is a live
// view: writes change the definition at once (in memory).

#include "Gen2DefinitionModel.h"
#include "TaskService2.h"

#include <memory>

class Gen2RegistrationInfo : public ComObject<Gen2RegistrationInfo, IRegistrationInfo> {
public:
    explicit Gen2RegistrationInfo(std::shared_ptr<DefinitionModel> model) : m(std::move(model)) {}
    const RegistrationInfoData& Data() const { return m->Doc().registrationInfo; }

    HRESULT get_Description(QString* p) override;
    HRESULT put_Description(const QString& v) override;
    HRESULT get_Author(QString* p) override;
    HRESULT put_Author(const QString& v) override;
    HRESULT get_Version(QString* p) override;
    HRESULT put_Version(const QString& v) override;
    HRESULT get_Date(QString* p) override;
    HRESULT put_Date(const QString& v) override;
    HRESULT get_Documentation(QString* p) override;
    HRESULT put_Documentation(const QString& v) override;
    HRESULT get_URI(QString* p) override;
    HRESULT put_URI(const QString& v) override;
    HRESULT get_Source(QString* p) override;
    HRESULT put_Source(const QString& v) override;

private:
    std::shared_ptr<DefinitionModel> m;
};

class Gen2Principal : public ComObject<Gen2Principal, IPrincipal> {
public:
    explicit Gen2Principal(std::shared_ptr<DefinitionModel> model) : m(std::move(model)) {}
    const PrincipalData& Data() const { return m->Doc().principal; }

    HRESULT get_Id(QString* p) override;
    HRESULT put_Id(const QString& v) override;
    HRESULT get_DisplayName(QString* p) override;
    HRESULT put_DisplayName(const QString& v) override;
    HRESULT get_UserId(QString* p) override;
    HRESULT put_UserId(const QString& v) override;
    HRESULT get_LogonType(TASK_LOGON_TYPE* p) override;
    HRESULT put_LogonType(TASK_LOGON_TYPE v) override;
    HRESULT get_GroupId(QString* p) override;
    HRESULT put_GroupId(const QString& v) override;
    HRESULT get_RunLevel(TASK_RUNLEVEL_TYPE* p) override;
    HRESULT put_RunLevel(TASK_RUNLEVEL_TYPE v) override;

private:
    std::shared_ptr<DefinitionModel> m;
};

class Gen2IdleSettings : public ComObject<Gen2IdleSettings, IIdleSettings> {
public:
    explicit Gen2IdleSettings(std::shared_ptr<DefinitionModel> model) : m(std::move(model)) {}
    const IdleSettingsData& Data() const { return m->Doc().settings.idle; }

    HRESULT get_IdleDuration(QString* p) override;
    HRESULT put_IdleDuration(const QString& v) override;
    HRESULT get_WaitTimeout(QString* p) override;
    HRESULT put_WaitTimeout(const QString& v) override;
    HRESULT get_StopOnIdleEnd(VARIANT_BOOL* p) override;
    HRESULT put_StopOnIdleEnd(VARIANT_BOOL v) override;
    HRESULT get_RestartOnIdle(VARIANT_BOOL* p) override;
    HRESULT put_RestartOnIdle(VARIANT_BOOL v) override;

private:
    std::shared_ptr<DefinitionModel> m;
};

class Gen2NetworkSettings : public ComObject<Gen2NetworkSettings, INetworkSettings> {
public:
    explicit Gen2NetworkSettings(std::shared_ptr<DefinitionModel> model) : m(std::move(model)) {}
    const NetworkSettingsData& Data() const { return m->Doc().settings.network; }

    HRESULT get_Name(QString* p) override;
    HRESULT put_Name(const QString& v) override;
    HRESULT get_Id(QString* p) override;
    HRESULT put_Id(const QString& v) override;

private:
    std::shared_ptr<DefinitionModel> m;
};

class Gen2TaskSettings : public ComObject<Gen2TaskSettings, ITaskSettings> {
public:
    explicit Gen2TaskSettings(std::shared_ptr<DefinitionModel> model) : m(std::move(model)) {}
    const TaskSettingsData& Data() const { return m->Doc().settings; }

    HRESULT get_AllowDemandStart(VARIANT_BOOL* p) override;
    HRESULT put_AllowDemandStart(VARIANT_BOOL v) override;
    HRESULT get_RestartInterval(QString* p) override;
    HRESULT put_RestartInterval(const QString& v) override;
    HRESULT get_RestartCount(LONG* p) override;
    HRESULT put_RestartCount(LONG v) override;
    HRESULT get_MultipleInstances(TASK_INSTANCES_POLICY* p) override;
    HRESULT put_MultipleInstances(TASK_INSTANCES_POLICY v) override;
    HRESULT get_StopIfGoingOnBatteries(VARIANT_BOOL* p) override;
    HRESULT put_StopIfGoingOnBatteries(VARIANT_BOOL v) override;
    HRESULT get_DisallowStartIfOnBatteries(VARIANT_BOOL* p) override;
    HRESULT put_DisallowStartIfOnBatteries(VARIANT_BOOL v) override;
    HRESULT get_AllowHardTerminate(VARIANT_BOOL* p) override;
    HRESULT put_AllowHardTerminate(VARIANT_BOOL v) override;
    HRESULT get_StartWhenAvailable(VARIANT_BOOL* p) override;
    HRESULT put_StartWhenAvailable(VARIANT_BOOL v) override;
    HRESULT get_RunOnlyIfNetworkAvailable(VARIANT_BOOL* p) override;
    HRESULT put_RunOnlyIfNetworkAvailable(VARIANT_BOOL v) override;
    HRESULT get_ExecutionTimeLimit(QString* p) override;
    HRESULT put_ExecutionTimeLimit(const QString& v) override;
    HRESULT get_Enabled(VARIANT_BOOL* p) override;
    HRESULT put_Enabled(VARIANT_BOOL v) override;
    HRESULT get_DeleteExpiredTaskAfter(QString* p) override;
    HRESULT put_DeleteExpiredTaskAfter(const QString& v) override;
    HRESULT get_Priority(LONG* p) override;
    HRESULT put_Priority(LONG v) override;
    HRESULT get_Compatibility(TASK_COMPATIBILITY* p) override;
    HRESULT put_Compatibility(TASK_COMPATIBILITY v) override;
    HRESULT get_Hidden(VARIANT_BOOL* p) override;
    HRESULT put_Hidden(VARIANT_BOOL v) override;
    HRESULT get_IdleSettings(IIdleSettings** pp) override;
    HRESULT put_IdleSettings(IIdleSettings* p) override;
    HRESULT get_RunOnlyIfIdle(VARIANT_BOOL* p) override;
    HRESULT put_RunOnlyIfIdle(VARIANT_BOOL v) override;
    HRESULT get_WakeToRun(VARIANT_BOOL* p) override;
    HRESULT put_WakeToRun(VARIANT_BOOL v) override;
    HRESULT get_NetworkSettings(INetworkSettings** pp) override;
    HRESULT put_NetworkSettings(INetworkSettings* p) override;

private:
    TaskSettingsData& S() { return m->Doc().settings; }
    std::shared_ptr<DefinitionModel> m;
};
