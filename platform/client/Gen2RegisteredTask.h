#pragma once
// Registered tasks as the client sees them: the document the service stored, and live
// questions to the service about state and runs.

#include "Gen2Session.h"
#include "Gen2StatusBatch.h"
#include "StoredText.h"
#include "TaskService2.h"

#include <QByteArray>
#include <QCborArray>
#include <QCborMap>
#include <QList>
#include <memory>

class Gen2RegisteredTask : public ComObject<Gen2RegisteredTask, IRegisteredTask> {
public:
    /// `path` and `xml` as the service reported the task; `listing`, when it was listed, holds
    /// the statuses of that listing.
    Gen2RegisteredTask(std::shared_ptr<Gen2Session> session, QString path, StoredText xml,
                       std::shared_ptr<Gen2StatusBatch> listing = nullptr);
    /// The task of a record {"path", "xml"} from a reply.
    static ComPtr<Gen2RegisteredTask> FromRecord(std::shared_ptr<Gen2Session> session, const QCborMap& record,
                                                 std::shared_ptr<Gen2StatusBatch> listing = nullptr);

    HRESULT get_Name(QString* pName) override;
    HRESULT get_Path(QString* pPath) override;
    HRESULT get_State(TASK_STATE* pState) override;
    HRESULT get_Enabled(VARIANT_BOOL* pEnabled) override;
    HRESULT put_Enabled(VARIANT_BOOL enabled) override;
    HRESULT Run(VARIANT params, IRunningTask** ppRunningTask) override;
    HRESULT RunEx(VARIANT params, LONG flags, LONG sessionId, const QString& user, IRunningTask** ppRunningTask) override;
    HRESULT GetInstances(LONG flags, IRunningTaskCollection** ppRunningTasks) override;
    HRESULT get_LastRunTime(DATE* pLastRunTime) override;
    HRESULT get_LastTaskResult(LONG* pLastTaskResult) override;
    HRESULT get_NumberOfMissedRuns(LONG* pNumberOfMissedRuns) override;
    HRESULT get_NextRunTime(DATE* pNextRunTime) override;
    HRESULT get_Definition(ITaskDefinition** ppDefinition) override;
    HRESULT get_Xml(QString* pXml) override;
    HRESULT Stop(LONG flags) override;
    HRESULT GetRunTimes(const SYSTEMTIME* pstStart, const SYSTEMTIME* pstEnd, DWORD* pCount,
                        QList<SYSTEMTIME>* pRunTimes) override;

private:
    QCborMap Request(const QString& op) const;
    /// What a status read is for: each is served once from one answer.
    enum class StatusField : unsigned { State, Enabled, LastRunTime, LastTaskResult, MissedRuns, NextRunTime };
    /// The service's status answer for the task, read for `field`: the listing's or the last
    /// one asked for serve a field not yet read from them while no other request went
    /// through the connection since.
    HRESULT Status(StatusField field, QCborMap* reply) const;

    std::shared_ptr<Gen2Session> m_session;
    QString m_path;
    StoredText m_xml;
    std::shared_ptr<Gen2StatusBatch> m_listing;
    mutable QCborMap m_status;
    mutable bool m_hasStatus = false;
    mutable quint64 m_statusCall = 0;
    mutable unsigned m_statusServed = 0;
};

class Gen2RegisteredTaskCollection : public ComObject<Gen2RegisteredTaskCollection, IRegisteredTaskCollection> {
public:
    /// A listed task as the listing reported it.
    struct Record {
        QString path;
        StoredText xml;
    };
    /// The task records of a listing reply, as {"path", "xml"} maps.
    static QList<Record> RecordsOf(const QCborArray& records);

    /// `records` are the tasks of a listing; `listing` gives their statuses.
    Gen2RegisteredTaskCollection(std::shared_ptr<Gen2Session> session, QList<Record> records,
                                 std::shared_ptr<Gen2StatusBatch> listing = nullptr)
        : m_session(std::move(session)), m_records(std::move(records)), m_listing(std::move(listing)) {}

    HRESULT get_Count(LONG* pCount) override;
    HRESULT get_Item(VARIANT index, IRegisteredTask** ppTask) override;

private:
    // The tasks handed out share each document with the collection: a listing of thousands
    // keeps every document once.
    std::shared_ptr<Gen2Session> m_session;
    QList<Record> m_records;
    std::shared_ptr<Gen2StatusBatch> m_listing;
};
