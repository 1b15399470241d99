#pragma once
// A generation 1.0 task object: one work item held in memory, saved to its ".job" file.

#include "ComBase.h"
#include "gen1/JobDefinition.h"
#include "ResultCodes.h"
#include "tvMSTask.h"

#include <QCborMap>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

class Gen1Connection;

/// One trigger of a task object. Trigger objects share it with the task, so that an object
/// handed out earlier keeps addressing its own trigger when others are deleted.
struct Gen1TriggerSlot {
    TASK_TRIGGER record{};
    /// Set once the trigger is deleted or the task reloaded; its objects then fail.
    bool removed = false;
};

/// The task object: every property and trigger change stays in memory (and marks the object
/// dirty) until IPersistFile::Save sends the work item to the service.
class Gen1Task final : public ComObject<Gen1Task, ITask, IPersistFile, IProvideTaskPage> {
public:
    /// A work item not yet saved, to be saved as `fileName` ("Name.job"); it starts dirty.
    static ComPtr<Gen1Task> CreateNew(std::shared_ptr<Gen1Connection> connection, const QString& fileName);
    /// A work item loaded from the file `fileName`.
    static ComPtr<Gen1Task> CreateLoaded(std::shared_ptr<Gen1Connection> connection, const QString& fileName,
                                         const JobDefinition& definition);

    /// Answers IScheduledWorkItem, the base of ITask.
    void* QueryExtra(REFIID riid);

    /// The work item as it stands in memory, triggers included.
    JobDefinition Definition() const;
    /// Writes the work item as a new file `fileName`, which becomes its file (for AddWorkItem).
    HRESULT SaveAsNew(const QString& fileName);
    /// Marks the object changed; trigger objects call it.
    void MarkDirty() { m_dirty = true; }

    // ITask
    HRESULT SetApplicationName(const QString& pwszApplicationName) override;
    HRESULT GetApplicationName(QString* ppwszApplicationName) override;
    HRESULT SetParameters(const QString& pwszParameters) override;
    HRESULT GetParameters(QString* ppwszParameters) override;
    HRESULT SetWorkingDirectory(const QString& pwszWorkingDirectory) override;
    HRESULT GetWorkingDirectory(QString* ppwszWorkingDirectory) override;
    HRESULT SetPriority(DWORD dwPriority) override;
    HRESULT GetPriority(DWORD* pdwPriority) override;
    HRESULT SetTaskFlags(DWORD dwFlags) override;
    HRESULT GetTaskFlags(DWORD* pdwFlags) override;
    HRESULT SetMaxRunTime(DWORD dwMaxRunTimeMS) override;
    HRESULT GetMaxRunTime(DWORD* pdwMaxRunTimeMS) override;

    // IScheduledWorkItem
    HRESULT CreateTrigger(WORD* piNewTrigger, ITaskTrigger** ppTrigger) override;
    HRESULT DeleteTrigger(WORD iTrigger) override;
    HRESULT GetTriggerCount(WORD* pwCount) override;
    HRESULT GetTrigger(WORD iTrigger, ITaskTrigger** ppTrigger) override;
    HRESULT GetTriggerString(WORD iTrigger, QString* ppwszTrigger) override;
    HRESULT GetRunTimes(const SYSTEMTIME* pstBegin, const SYSTEMTIME* pstEnd, WORD* pCount,
                        QList<SYSTEMTIME>* rgstTaskTimes) override;
    HRESULT GetNextRunTime(SYSTEMTIME* pstNextRun) override;
    HRESULT SetIdleWait(WORD wIdleMinutes, WORD wDeadlineMinutes) override;
    HRESULT GetIdleWait(WORD* pwIdleMinutes, WORD* pwDeadlineMinutes) override;
    HRESULT Run() override;
    HRESULT Terminate() override;
    HRESULT EditWorkItem(HWND hParent, DWORD dwReserved) override;
    HRESULT GetMostRecentRunTime(SYSTEMTIME* pstLastRun) override;
    HRESULT GetStatus(HRESULT* phrStatus) override;
    HRESULT GetExitCode(DWORD* pdwExitCode) override;
    HRESULT SetComment(const QString& pwszComment) override;
    HRESULT GetComment(QString* ppwszComment) override;
    HRESULT SetCreator(const QString& pwszCreator) override;
    HRESULT GetCreator(QString* ppwszCreator) override;
    HRESULT SetWorkItemData(const QByteArray& rgbData) override;
    HRESULT GetWorkItemData(QByteArray* prgbData) override;
    HRESULT SetFlags(DWORD dwFlags) override;
    HRESULT GetFlags(DWORD* pdwFlags) override;
    HRESULT SetAccountInformation(const QString& pwszAccountName, const QString* pwszPassword) override;
    HRESULT GetAccountInformation(QString* ppwszAccountName) override;

    // IPersistFile
    HRESULT GetClassID(CLSID* pClassID) override;
    HRESULT IsDirty() override;
    HRESULT Load(const QString& pszFileName, DWORD dwMode) override;
    HRESULT Save(const QString* pszFileName, BOOL fRemember) override;
    HRESULT SaveCompleted(const QString* pszFileName) override;
    HRESULT GetCurFile(QString* ppszFileName) override;

    // IProvideTaskPage
    HRESULT GetPage(TASKPAGE tpType, BOOL fPersistChanges, HPROPSHEETPAGE* phPage) override;

private:
    friend class ComObject<Gen1Task, ITask, IPersistFile, IProvideTaskPage>;
    Gen1Task(std::shared_ptr<Gen1Connection> connection, QString fileName, bool isNew);
    ~Gen1Task() override;

    /// The work item's name for a path given to Load or Save: a bare "Name.job", or a path
    /// inside the service's directory. Empty (and `*hr` set) for any other path.
    QString NameForPath(const QString& path, HRESULT* hr);
    /// Sends the work item to be stored as `name` (which must be free when `create`); with
    /// `adopt` that file becomes the object's own and the object is clean.
    HRESULT Send(const QString& name, bool create, bool adopt);
    /// Sets one property in memory and marks the object changed.
    template <typename T>
    HRESULT Change(T& field, const T& value)
    {
        field = value;
        MarkDirty();
        return S_OK;
    }
    /// What the schedule depends on (flags and triggers), without the texts and data.
    QCborMap ScheduleCbor() const;
    /// What a state read is for: each is served once from one answer.
    enum class StateField : unsigned { Status, LastRun, ExitCode };
    /// The stored runs as judged against the definition in memory, read for `field`.
    HRESULT QueryState(StateField field, HRESULT* status, SYSTEMTIME* lastRun, DWORD* exitCode, bool* hasRun);
    void Replace(const JobDefinition& definition);
    void DetachTriggers();

    std::shared_ptr<Gen1Connection> m_connection;
    QString m_fileName;
    /// Never saved: the first save must not replace a file someone else made meanwhile.
    bool m_isNew;
    bool m_dirty;
    /// A password given since the last save: the next save hands it to the service, which
    /// checks it against the account; it is never stored.
    std::optional<QString> m_password;
    JobDefinition m_definition;   // everything but the triggers, which live in m_triggers
    QList<std::shared_ptr<Gen1TriggerSlot>> m_triggers;
    /// The last state answer: what it said, the schedule it was asked for, the connection's
    /// request count then, and the fields it served.
    struct StateAnswer {
        QCborMap reply;
        QCborMap job;
        quint64 call = 0;
        unsigned served = 0;
    };
    std::optional<StateAnswer> m_stateAnswer;
};
