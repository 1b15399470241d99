#include "Gen1Task.h"

#include "ErrorInfo.h"
#include "Gen1Connection.h"
#include "Gen1Protocol.h"
#include "Gen1TaskTrigger.h"
#include "Gen1TriggerText.h"
#include "ResultCodes.h"
#include "TaskPagesHost.h"

#include <QCborArray>
#include <QDir>
#include <QFileInfo>

namespace {

// The sheet of EditWorkItem saves what its pages change.
constexpr BOOL kPersistChanges = 1;

// A new trigger: all zero but its size, so a one-time trigger with nothing set yet.
TASK_TRIGGER NewTriggerRecord()
{
    TASK_TRIGGER t{};
    t.cbTriggerSize = sizeof(TASK_TRIGGER);
    return t;
}

template <typename T>
HRESULT Give(T* out, const T& value)
{
    if (!out) return E_POINTER;
    *out = value;
    return S_OK;
}

} // namespace

ComPtr<Gen1Task> Gen1Task::CreateNew(std::shared_ptr<Gen1Connection> connection, const QString& fileName)
{
    return Make(std::move(connection), fileName, true);
}

ComPtr<Gen1Task> Gen1Task::CreateLoaded(std::shared_ptr<Gen1Connection> connection, const QString& fileName,
                                        const JobDefinition& definition)
{
    ComPtr<Gen1Task> task = Make(std::move(connection), fileName, false);
    task->Replace(definition);
    return task;
}

Gen1Task::Gen1Task(std::shared_ptr<Gen1Connection> connection, QString fileName, bool isNew)
    : m_connection(std::move(connection)), m_fileName(std::move(fileName)), m_isNew(isNew), m_dirty(isNew)
{
}

Gen1Task::~Gen1Task()
{
    DetachTriggers();
}

void* Gen1Task::QueryExtra(REFIID riid)
{
    if (riid == IScheduledWorkItem::iid) return static_cast<IScheduledWorkItem*>(static_cast<ITask*>(this));
    return nullptr;
}

QCborMap Gen1Task::ScheduleCbor() const
{
    JobDefinition d;
    d.flags = m_definition.flags;
    for (const auto& slot : m_triggers) d.triggers.append(slot->record);
    return d.ToCbor();
}

JobDefinition Gen1Task::Definition() const
{
    JobDefinition d = m_definition;
    d.triggers.clear();
    for (const auto& slot : m_triggers) d.triggers.append(slot->record);
    return d;
}

void Gen1Task::Replace(const JobDefinition& definition)
{
    DetachTriggers();
    m_definition = definition;
    for (const TASK_TRIGGER& t : definition.triggers) m_triggers.append(std::make_shared<Gen1TriggerSlot>(Gen1TriggerSlot{t, false}));
    m_definition.triggers.clear();
}

void Gen1Task::DetachTriggers()
{
    for (const auto& slot : m_triggers) slot->removed = true;
    m_triggers.clear();
}

// ---- ITask ----------------------------------------------------------------------------

HRESULT Gen1Task::SetApplicationName(const QString& value) { return Change(m_definition.applicationName, value); }

HRESULT Gen1Task::GetApplicationName(QString* out) { return Give(out, m_definition.applicationName); }

HRESULT Gen1Task::SetParameters(const QString& value) { return Change(m_definition.parameters, value); }

HRESULT Gen1Task::GetParameters(QString* out) { return Give(out, m_definition.parameters); }

HRESULT Gen1Task::SetWorkingDirectory(const QString& value) { return Change(m_definition.workingDirectory, value); }

HRESULT Gen1Task::GetWorkingDirectory(QString* out) { return Give(out, m_definition.workingDirectory); }

HRESULT Gen1Task::SetPriority(DWORD value)
{
    if (value != IDLE_PRIORITY_CLASS && value != NORMAL_PRIORITY_CLASS && value != HIGH_PRIORITY_CLASS
        && value != REALTIME_PRIORITY_CLASS)
        return E_INVALIDARG;
    m_definition.priority = value;
    MarkDirty();
    return S_OK;
}

HRESULT Gen1Task::GetPriority(DWORD* out) { return Give(out, m_definition.priority); }

HRESULT Gen1Task::SetTaskFlags(DWORD value) { return Change(m_definition.taskFlags, value); }

HRESULT Gen1Task::GetTaskFlags(DWORD* out) { return Give(out, m_definition.taskFlags); }

HRESULT Gen1Task::SetMaxRunTime(DWORD value) { return Change(m_definition.maxRunTimeMs, value); }

HRESULT Gen1Task::GetMaxRunTime(DWORD* out) { return Give(out, m_definition.maxRunTimeMs); }

// ---- IScheduledWorkItem: triggers -----------------------------------------------------

HRESULT Gen1Task::CreateTrigger(WORD* piNewTrigger, ITaskTrigger** ppTrigger)
{
    if (!piNewTrigger || !ppTrigger) return E_POINTER;
    *ppTrigger = nullptr;
    if (m_triggers.size() >= 0xFFFF) return E_OUTOFMEMORY;
    auto slot = std::make_shared<Gen1TriggerSlot>(Gen1TriggerSlot{NewTriggerRecord(), false});
    m_triggers.append(slot);
    MarkDirty();
    *piNewTrigger = WORD(m_triggers.size() - 1);
    *ppTrigger = Gen1TaskTrigger::Create(ComPtr<Gen1Task>(this), slot).Detach();
    return S_OK;
}

HRESULT Gen1Task::DeleteTrigger(WORD iTrigger)
{
    if (iTrigger >= m_triggers.size()) return E_INVALIDARG;
    m_triggers.takeAt(iTrigger)->removed = true;
    MarkDirty();
    return S_OK;
}

HRESULT Gen1Task::GetTriggerCount(WORD* pwCount) { return Give(pwCount, WORD(m_triggers.size())); }

HRESULT Gen1Task::GetTrigger(WORD iTrigger, ITaskTrigger** ppTrigger)
{
    if (!ppTrigger) return E_POINTER;
    *ppTrigger = nullptr;
    if (iTrigger >= m_triggers.size()) return SCHED_E_TRIGGER_NOT_FOUND;
    *ppTrigger = Gen1TaskTrigger::Create(ComPtr<Gen1Task>(this), m_triggers.at(iTrigger)).Detach();
    return S_OK;
}

HRESULT Gen1Task::GetTriggerString(WORD iTrigger, QString* ppwszTrigger)
{
    if (!ppwszTrigger) return E_POINTER;
    if (iTrigger >= m_triggers.size()) return SCHED_E_TRIGGER_NOT_FOUND;
    *ppwszTrigger = Gen1TriggerText::Describe(m_triggers.at(iTrigger)->record);
    return S_OK;
}

// ---- IScheduledWorkItem: runs ---------------------------------------------------------

HRESULT Gen1Task::GetRunTimes(const SYSTEMTIME* pstBegin, const SYSTEMTIME* pstEnd, WORD* pCount,
                              QList<SYSTEMTIME>* rgstTaskTimes)
{
    if (!pstBegin || !pCount || !rgstTaskTimes) return E_POINTER;
    if (*pCount < 1 || *pCount > TASK_MAX_RUN_TIMES) return E_INVALIDARG;
    QCborMap args{{Gen1Protocol::Key::Job, ScheduleCbor()},
                  {Gen1Protocol::Key::Count, qint64(*pCount)},
                  {Gen1Protocol::Key::Begin, SystemTimeToCbor(*pstBegin)}};
    if (pstEnd) args.insert(Gen1Protocol::Key::End, SystemTimeToCbor(*pstEnd));
    HRESULT hr;
    const QCborMap reply = m_connection->Call(Gen1Protocol::kRunTimes, args, &hr);
    if (FAILED(hr)) return hr;
    QList<SYSTEMTIME> times;
    for (const QCborValue& v : reply.value(Gen1Protocol::Key::Times).toArray()) {
        SYSTEMTIME st;
        if (!SystemTimeFromCbor(v.toArray(), &st) || times.size() >= *pCount) return E_UNEXPECTED;
        times.append(st);
    }
    *pCount = WORD(times.size());
    *rgstTaskTimes = times;
    return hr;
}

HRESULT Gen1Task::GetNextRunTime(SYSTEMTIME* pstNextRun)
{
    if (!pstNextRun) return E_POINTER;
    *pstNextRun = SYSTEMTIME{};
    HRESULT hr;
    const QCborMap reply = m_connection->Call(
        Gen1Protocol::kRunTimes, {{Gen1Protocol::Key::Job, ScheduleCbor()}, {Gen1Protocol::Key::Count, 1}}, &hr);
    if (FAILED(hr)) return hr;
    const QCborArray times = reply.value(Gen1Protocol::Key::Times).toArray();
    if (times.isEmpty()) return hr == S_FALSE || hr == S_OK ? SCHED_S_TASK_NO_MORE_RUNS : hr;
    if (!SystemTimeFromCbor(times.at(0).toArray(), pstNextRun)) return E_UNEXPECTED;
    return S_OK;
}

HRESULT Gen1Task::SetIdleWait(WORD wIdleMinutes, WORD wDeadlineMinutes)
{
    m_definition.idleMinutes = wIdleMinutes;
    m_definition.deadlineMinutes = wDeadlineMinutes;
    MarkDirty();
    return S_OK;
}

HRESULT Gen1Task::GetIdleWait(WORD* pwIdleMinutes, WORD* pwDeadlineMinutes)
{
    if (!pwIdleMinutes || !pwDeadlineMinutes) return E_POINTER;
    *pwIdleMinutes = m_definition.idleMinutes;
    *pwDeadlineMinutes = m_definition.deadlineMinutes;
    return S_OK;
}

HRESULT Gen1Task::Run()
{
    HRESULT hr;
    m_connection->Call(Gen1Protocol::kRun, {{Gen1Protocol::Key::Name, m_fileName}}, &hr);
    return hr;
}

HRESULT Gen1Task::Terminate()
{
    HRESULT hr;
    m_connection->Call(Gen1Protocol::kTerminate, {{Gen1Protocol::Key::Name, m_fileName}}, &hr);
    return hr;
}

HRESULT Gen1Task::EditWorkItem(HWND hParent, DWORD)
{
    PROPSHEETHEADERW header;
    header.dwFlags = PSH_PROPTITLE;
    header.hwndParent = hParent;
    header.pszCaption = m_fileName.endsWith(QLatin1String(".job"), Qt::CaseInsensitive) ? m_fileName.chopped(4) : m_fileName;
    for (TASKPAGE type : {TASKPAGE_TASK, TASKPAGE_SCHEDULE, TASKPAGE_SETTINGS}) {
        HPROPSHEETPAGE page = nullptr;
        if (const HRESULT hr = GetPage(type, kPersistChanges, &page); FAILED(hr)) {
            for (HPROPSHEETPAGE made : header.phpage) DestroyPropertySheetPage(made);
            return hr;
        }
        header.phpage.append(page);
    }
    return PropertySheetW(&header) < 0 ? E_FAIL : S_OK;
}

HRESULT Gen1Task::QueryState(StateField field, HRESULT* status, SYSTEMTIME* lastRun, DWORD* exitCode, bool* hasRun)
{
    // A list row reads the status and the last run one after the other: one answer serves
    // both, each once, while no other request went through the connection and the schedule
    // in memory is the one it was asked for.
    const unsigned bit = 1u << unsigned(field);
    const QCborMap job = ScheduleCbor();
    QCborMap reply;
    if (m_stateAnswer && !(m_stateAnswer->served & bit) && m_stateAnswer->call == m_connection->CallCount()
        && m_stateAnswer->job == job) {
        m_stateAnswer->served |= bit;
        SetErrorInfo(0, nullptr);
        reply = m_stateAnswer->reply;
    } else {
        HRESULT hr;
        reply = m_connection->Call(Gen1Protocol::kState, {{Gen1Protocol::Key::Name, m_fileName}, {Gen1Protocol::Key::Job, job}}, &hr);
        m_stateAnswer.reset();
        if (FAILED(hr)) return hr;
        m_stateAnswer = StateAnswer{reply, job, m_connection->CallCount(), bit};
    }
    *status = HRESULT(reply.value(Gen1Protocol::Key::Status).toInteger(E_UNEXPECTED));
    *exitCode = DWORD(reply.value(Gen1Protocol::Key::ExitCode).toInteger());
    *hasRun = reply.value(Gen1Protocol::Key::HasRun).toBool();
    if (!SystemTimeFromCbor(reply.value(Gen1Protocol::Key::LastRun).toArray(), lastRun)) return E_UNEXPECTED;
    return S_OK;
}

HRESULT Gen1Task::GetMostRecentRunTime(SYSTEMTIME* pstLastRun)
{
    if (!pstLastRun) return E_POINTER;
    *pstLastRun = SYSTEMTIME{};
    HRESULT status;
    SYSTEMTIME lastRun;
    DWORD exitCode;
    bool hasRun;
    if (const HRESULT hr = QueryState(StateField::LastRun, &status, &lastRun, &exitCode, &hasRun); FAILED(hr)) return hr;
    if (!hasRun) return SCHED_S_TASK_HAS_NOT_RUN;
    *pstLastRun = lastRun;
    return S_OK;
}

HRESULT Gen1Task::GetStatus(HRESULT* phrStatus)
{
    if (!phrStatus) return E_POINTER;
    HRESULT status;
    SYSTEMTIME lastRun;
    DWORD exitCode;
    bool hasRun;
    if (const HRESULT hr = QueryState(StateField::Status, &status, &lastRun, &exitCode, &hasRun); FAILED(hr)) return hr;
    *phrStatus = status;
    return S_OK;
}

HRESULT Gen1Task::GetExitCode(DWORD* pdwExitCode)
{
    if (!pdwExitCode) return E_POINTER;
    *pdwExitCode = 0;
    HRESULT status;
    SYSTEMTIME lastRun;
    DWORD exitCode;
    bool hasRun;
    if (const HRESULT hr = QueryState(StateField::ExitCode, &status, &lastRun, &exitCode, &hasRun); FAILED(hr)) return hr;
    if (!hasRun) return SCHED_S_TASK_HAS_NOT_RUN;
    *pdwExitCode = exitCode;
    return S_OK;
}

// ---- IScheduledWorkItem: properties ---------------------------------------------------

HRESULT Gen1Task::SetComment(const QString& value) { return Change(m_definition.comment, value); }

HRESULT Gen1Task::GetComment(QString* out) { return Give(out, m_definition.comment); }

HRESULT Gen1Task::SetCreator(const QString& value) { return Change(m_definition.creator, value); }

HRESULT Gen1Task::GetCreator(QString* out) { return Give(out, m_definition.creator); }

HRESULT Gen1Task::SetWorkItemData(const QByteArray& data)
{
    if (data.size() > TASK_MAX_WORK_ITEM_DATA) return E_INVALIDARG;
    m_definition.workItemData = data;
    MarkDirty();
    return S_OK;
}

HRESULT Gen1Task::GetWorkItemData(QByteArray* out) { return Give(out, m_definition.workItemData); }

HRESULT Gen1Task::SetFlags(DWORD value) { return Change(m_definition.flags, value); }

HRESULT Gen1Task::GetFlags(DWORD* out) { return Give(out, m_definition.flags); }

HRESULT Gen1Task::SetAccountInformation(const QString& pwszAccountName, const QString* pwszPassword)
{
    m_definition.accountSet = true;
    m_definition.accountName = pwszAccountName;
    m_definition.passwordGiven = pwszPassword != nullptr;
    m_password.reset();
    if (pwszPassword && !pwszPassword->isEmpty()) m_password = *pwszPassword;
    MarkDirty();
    return S_OK;
}

HRESULT Gen1Task::GetAccountInformation(QString* ppwszAccountName)
{
    if (!ppwszAccountName) return E_POINTER;
    if (!m_definition.accountSet) return SCHED_E_ACCOUNT_INFORMATION_NOT_SET;
    *ppwszAccountName = m_definition.accountName;
    return S_OK;
}

// ---- IPersistFile ---------------------------------------------------------------------

HRESULT Gen1Task::GetClassID(CLSID* pClassID) { return Give(pClassID, CLSID_CTask); }

HRESULT Gen1Task::IsDirty() { return m_dirty ? S_OK : S_FALSE; }

QString Gen1Task::NameForPath(const QString& path, HRESULT* hr)
{
    *hr = S_OK;
    if (!path.contains(QLatin1Char('/'))) return path;
    const QFileInfo info(path);
    const QString dir = m_connection->JobsDir();
    if (dir.isEmpty()) {
        *hr = SCHED_E_SERVICE_NOT_AVAILABLE;
        return {};
    }
    if (!info.isAbsolute() || QDir::cleanPath(info.path()) != QDir::cleanPath(dir)) {
        *hr = HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME);
        return {};
    }
    return info.fileName();
}

HRESULT Gen1Task::Load(const QString& pszFileName, DWORD)
{
    HRESULT hr;
    const QString name = NameForPath(pszFileName, &hr);
    if (FAILED(hr)) return hr;
    const QCborMap reply = m_connection->Call(Gen1Protocol::kLoad, {{Gen1Protocol::Key::Name, name}}, &hr);
    if (FAILED(hr)) return hr;
    JobDefinition definition;
    QString why;
    if (!JobDefinition::FromCbor(reply.value(Gen1Protocol::Key::Job).toMap(), &definition, &why)) return E_UNEXPECTED;
    Replace(definition);
    m_fileName = reply.value(Gen1Protocol::Key::Name).toString();
    m_isNew = false;
    m_dirty = false;
    return S_OK;
}

HRESULT Gen1Task::Save(const QString* pszFileName, BOOL fRemember)
{
    QString name = m_fileName;
    if (pszFileName) {
        HRESULT hr;
        name = NameForPath(*pszFileName, &hr);
        if (FAILED(hr)) return hr;
    }
    const bool sameFile = name == m_fileName;
    // Only the object's own file may be replaced: a first save, or a copy under another
    // name, must not overwrite a task that exists already.
    return Send(name, !sameFile || m_isNew, sameFile || fRemember);
}

HRESULT Gen1Task::SaveAsNew(const QString& fileName)
{
    return Send(fileName, true, true);
}

HRESULT Gen1Task::Send(const QString& name, bool create, bool adopt)
{
    HRESULT hr;
    QCborMap request{{Gen1Protocol::Key::Name, name}, {Gen1Protocol::Key::Job, Definition().ToCbor()}, {Gen1Protocol::Key::Create, create}};
    if (m_password) request.insert(Gen1Protocol::Key::Password, *m_password);
    const QCborMap reply = m_connection->Call(Gen1Protocol::kSave, request, &hr);
    if (FAILED(hr)) return hr;
    m_password.reset();
    if (adopt) {
        m_fileName = reply.value(Gen1Protocol::Key::Name).toString();
        m_isNew = false;
        m_dirty = false;
    }
    return S_OK;
}

HRESULT Gen1Task::SaveCompleted(const QString*) { return S_OK; }

HRESULT Gen1Task::GetCurFile(QString* ppszFileName)
{
    if (!ppszFileName) return E_POINTER;
    const QString dir = m_connection->JobsDir();
    if (dir.isEmpty()) return SCHED_E_SERVICE_NOT_AVAILABLE;
    *ppszFileName = dir + QLatin1Char('/') + m_fileName;
    return S_OK;
}

// ---- IProvideTaskPage -----------------------------------------------------------------

HRESULT Gen1Task::GetPage(TASKPAGE tpType, BOOL fPersistChanges, HPROPSHEETPAGE* phPage)
{
    if (!phPage) return E_POINTER;
    *phPage = nullptr;
    if (tpType > TASKPAGE_SETTINGS) return E_INVALIDARG;
    // The pages are widgets: a program without them (the service, command-line tools) has
    // no host installed and cannot show a task's pages.
    TaskPagesHost* host = InstalledTaskPagesHost();
    if (!host) return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    return host->CreatePage(this, tpType, fPersistChanges, phPage);
}
