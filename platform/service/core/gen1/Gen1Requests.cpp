#include "gen1/Gen1Requests.h"

#include "gen1/JobSchedule.h"
#include "gen1/JobStore.h"
#include "RequestRouter.h"
#include "ResultCodes.h"
#include "ServiceRoot.h"

#include <QCborArray>
#include <QDateTime>
#include <QSysInfo>
#include <QTimeZone>
#include <memory>

namespace {

const QString kHr = QStringLiteral("hr");
const QString kError = QStringLiteral("error");
const QString kName = QStringLiteral("name");
const QString kJob = QStringLiteral("job");

QCborMap Reply(HRESULT hr, const QString& error = {})
{
    QCborMap reply{{kHr, qint64(hr)}};
    if (FAILED(hr)) reply.insert(kError, error.isEmpty() ? ResultText(hr) : error);
    return reply;
}

QCborMap Reply(const JobResult& r)
{
    return Reply(r.hr, r.error);
}

QString NameOf(const QCborMap& request)
{
    return JobStore::WithJobExtension(request.value(kName).toString());
}

bool DefinitionOf(const QCborMap& request, JobDefinition* out, QCborMap* failure)
{
    QString why;
    if (!request.value(kJob).isMap() || !JobDefinition::FromCbor(request.value(kJob).toMap(), out, &why)) {
        *failure = Reply(E_INVALIDARG, QStringLiteral("The work item sent is not valid: %1").arg(why.isEmpty() ? QStringLiteral("no \"job\" map.") : why));
        return false;
    }
    return true;
}

SYSTEMTIME Now(const ScheduleEngine& engine)
{
    const QDateTime now = QDateTime::currentDateTime().toTimeZone(engine.Zone());
    return JobSchedule::ToSystemTime(now.date(), now.time());
}

} // namespace

void RegisterGen1Requests(RequestRouter& router, const ServiceRoot& root)
{
    auto store = std::make_shared<JobStore>(root);
    // Run times are the wall clock of the computer the service runs on.
    auto engine = std::make_shared<ScheduleEngine>(QTimeZone::systemTimeZone());

    router.Add(QStringLiteral("v1.info"), [store](const QCborMap&, const ClientIdentity&) {
        QCborMap reply = Reply(S_OK);
        reply.insert(QStringLiteral("computer"), QSysInfo::machineHostName());
        reply.insert(QStringLiteral("jobsDir"), store->Directory());
        return reply;
    });

    router.Add(QStringLiteral("v1.list"), [store](const QCborMap&, const ClientIdentity&) {
        QCborMap reply = Reply(S_OK);
        reply.insert(QStringLiteral("names"), QCborArray::fromStringList(store->List()));
        return reply;
    });

    router.Add(QStringLiteral("v1.exists"), [store](const QCborMap& request, const ClientIdentity&) {
        const QString name = NameOf(request);
        if (JobResult r = JobStore::ValidateName(name); !r.Ok()) return Reply(r);
        QCborMap reply = Reply(S_OK);
        reply.insert(kName, store->StoredName(name));
        reply.insert(QStringLiteral("exists"), store->Exists(name));
        return reply;
    });

    router.Add(QStringLiteral("v1.load"), [store](const QCborMap& request, const ClientIdentity&) {
        const QString name = NameOf(request);
        JobDefinition definition;
        JobRuntime runtime;
        if (JobResult r = store->Load(name, &definition, &runtime); !r.Ok()) return Reply(r);
        QCborMap reply = Reply(S_OK);
        reply.insert(kName, store->StoredName(name));
        reply.insert(kJob, definition.ToCbor());
        return reply;
    });

    router.Add(QStringLiteral("v1.save"), [store](const QCborMap& request, const ClientIdentity&) {
        JobDefinition definition;
        QCborMap failure;
        if (!DefinitionOf(request, &definition, &failure)) return failure;
        const bool create = request.value(QStringLiteral("create")).toBool();
        const QString name = NameOf(request);
        const JobResult r = store->Save(name, definition, create ? JobStore::SaveMode::CreateNew : JobStore::SaveMode::Replace);
        QCborMap reply = Reply(r);
        if (r.Ok()) reply.insert(kName, store->StoredName(name));
        return reply;
    });

    router.Add(QStringLiteral("v1.delete"), [store](const QCborMap& request, const ClientIdentity&) {
        return Reply(store->Remove(NameOf(request)));
    });

    router.Add(QStringLiteral("v1.state"), [store, engine](const QCborMap& request, const ClientIdentity&) {
        JobDefinition definition;
        QCborMap failure;
        if (!DefinitionOf(request, &definition, &failure)) return failure;
        const QString name = NameOf(request);
        JobDefinition stored;
        JobRuntime runtime;
        // A work item that was never saved has no file and so no runs yet.
        if (store->Exists(name)) {
            if (JobResult r = store->Load(name, &stored, &runtime); !r.Ok()) return Reply(r);
        } else if (JobResult r = JobStore::ValidateName(name); !r.Ok()) {
            return Reply(r);
        }
        QCborMap reply = Reply(S_OK);
        reply.insert(QStringLiteral("status"), qint64(JobSchedule::Status(definition, runtime, QDateTime::currentDateTime(), *engine)));
        reply.insert(QStringLiteral("hasRun"), runtime.HasRun());
        reply.insert(QStringLiteral("lastRun"), SystemTimeToCbor(runtime.mostRecentRun));
        reply.insert(QStringLiteral("exitCode"), qint64(runtime.exitCode));
        return reply;
    });

    router.Add(QStringLiteral("v1.runtimes"), [engine](const QCborMap& request, const ClientIdentity&) {
        JobDefinition definition;
        QCborMap failure;
        if (!DefinitionOf(request, &definition, &failure)) return failure;
        const qint64 count = request.value(QStringLiteral("count")).toInteger(-1);
        if (count < 1 || count > TASK_MAX_RUN_TIMES)
            return Reply(E_INVALIDARG, QStringLiteral("The number of run times asked for must be 1 to %1.").arg(TASK_MAX_RUN_TIMES));
        SYSTEMTIME begin = Now(*engine);
        if (request.contains(QStringLiteral("begin"))
            && !SystemTimeFromCbor(request.value(QStringLiteral("begin")).toArray(), &begin))
            return Reply(E_INVALIDARG, QStringLiteral("The start of the period is not a date and time."));
        SYSTEMTIME end{};
        const bool hasEnd = request.contains(QStringLiteral("end"));
        if (hasEnd && !SystemTimeFromCbor(request.value(QStringLiteral("end")).toArray(), &end))
            return Reply(E_INVALIDARG, QStringLiteral("The end of the period is not a date and time."));
        QList<SYSTEMTIME> times;
        const HRESULT hr = JobSchedule::RunTimes(definition, begin, hasEnd ? &end : nullptr, int(count), *engine, &times);
        if (hr == E_INVALIDARG) return Reply(hr, QStringLiteral("The period's start or end is not a date and time."));
        QCborMap reply = Reply(hr);
        QCborArray list;
        for (const SYSTEMTIME& st : times) list.append(SystemTimeToCbor(st));
        reply.insert(QStringLiteral("times"), list);
        return reply;
    });

    const auto needsDaemon = [](const QCborMap&, const ClientIdentity&) {
        return Reply(SCHED_E_SERVICE_NOT_RUNNING,
                     QStringLiteral("Tasks are started and stopped by the scheduling service's daemon, which is not running."));
    };
    router.Add(QStringLiteral("v1.run"), needsDaemon);
    router.Add(QStringLiteral("v1.terminate"), needsDaemon);
}
