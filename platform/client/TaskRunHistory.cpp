#include "TaskRunHistory.h"

#include "DaemonProtocol.h"
#include "InProcessTransport.h"
#include "ResultCodes.h"

#include <QCborArray>
#include <QCborMap>

HRESULT TaskRunHistory::ReadGen2(const QString& path, QList<TaskRunRecord>& runs, QString* error)
{
    return Read(QStringLiteral("v2:") + path, runs, error);
}

HRESULT TaskRunHistory::ReadGen1(const QString& name, QList<TaskRunRecord>& runs, QString* error)
{
    const bool hasExtension = name.endsWith(QLatin1String(".job"), Qt::CaseInsensitive);
    return Read(QStringLiteral("v1:") + name + (hasExtension ? QString() : QStringLiteral(".job")), runs, error);
}

HRESULT TaskRunHistory::Read(const QString& key, QList<TaskRunRecord>& runs, QString* error)
{
    runs.clear();
    const QCborMap reply = OpenServiceTransport()->Call(
        QCborMap{{DaemonProtocol::Key::Op, DaemonProtocol::Op::History}, {QStringLiteral("task"), key}});
    const QCborValue hr = reply.value(DaemonProtocol::Key::Hr);
    if (!hr.isInteger()) {
        if (error) *error = QStringLiteral("The service gave no result.");
        return E_FAIL;
    }
    if (FAILED(HRESULT(hr.toInteger()))) {
        if (error) *error = reply.value(DaemonProtocol::Key::Error).toString();
        return HRESULT(hr.toInteger());
    }
    for (const QCborValue& value : reply.value(QStringLiteral("runs")).toArray()) {
        const QCborMap run = value.toMap();
        TaskRunRecord record;
        record.instance = run.value(QStringLiteral("instance")).toString();
        record.cause = run.value(QStringLiteral("cause")).toString();
        record.attempt = int(run.value(QStringLiteral("attempt")).toInteger());
        record.start = QDateTime::fromMSecsSinceEpoch(run.value(QStringLiteral("start")).toInteger());
        record.end = QDateTime::fromMSecsSinceEpoch(run.value(QStringLiteral("end")).toInteger());
        record.result = quint32(run.value(QStringLiteral("result")).toInteger());
        record.reason = run.value(QStringLiteral("reason")).toString();
        runs.append(record);
    }
    return S_OK;
}
