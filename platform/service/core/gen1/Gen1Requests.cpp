#include "gen1/Gen1Requests.h"

#include "DaemonProtocol.h"
#include "Gen1Protocol.h"
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
const QString kError = DaemonProtocol::Key::Error;

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
    return JobStore::WithJobExtension(request.value(Gen1Protocol::Key::Name).toString());
}

bool DefinitionOf(const QCborMap& request, JobDefinition* out, QCborMap* failure)
{
    QString why;
    if (!request.value(Gen1Protocol::Key::Job).isMap() || !JobDefinition::FromCbor(request.value(Gen1Protocol::Key::Job).toMap(), out, &why)) {
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

    router.Add(Gen1Protocol::kInfo, [store](const QCborMap&, const ClientIdentity&) {
        QCborMap reply = Reply(S_OK);
        reply.insert(Gen1Protocol::Key::Computer, QSysInfo::machineHostName());
        reply.insert(Gen1Protocol::Key::JobsDir, store->Directory());
        return reply;
    });

    router.Add(Gen1Protocol::kList, [store](const QCborMap&, const ClientIdentity&) {
        QCborMap reply = Reply(S_OK);
        reply.insert(Gen1Protocol::Key::Names, QCborArray::fromStringList(store->List()));
        return reply;
    });

    router.Add(Gen1Protocol::kExists, [store](const QCborMap& request, const ClientIdentity&) {
        const QString name = NameOf(request);
        if (JobResult r = JobStore::ValidateName(name); !r.Ok()) return Reply(r);
        QCborMap reply = Reply(S_OK);
        reply.insert(Gen1Protocol::Key::Name, store->StoredName(name));
        reply.insert(Gen1Protocol::Key::Exists, store->Exists(name));
        return reply;
    });

    router.Add(Gen1Protocol::kLoad, [store](const QCborMap& request, const ClientIdentity&) {
        const QString name = NameOf(request);
        JobDefinition definition;
        JobRuntime runtime;
        if (JobResult r = store->Load(name, &definition, &runtime); !r.Ok()) return Reply(r);
        QCborMap reply = Reply(S_OK);
        reply.insert(Gen1Protocol::Key::Name, store->StoredName(name));
        reply.insert(Gen1Protocol::Key::Job, definition.ToCbor());
        return reply;
    });

    router.Add(Gen1Protocol::kSave, [store](const QCborMap& request, const ClientIdentity&) {
        JobDefinition definition;
        QCborMap failure;
        if (!DefinitionOf(request, &definition, &failure)) return failure;
        const bool create = request.value(Gen1Protocol::Key::Create).toBool();
        const QString name = NameOf(request);
        const JobResult r = store->Save(name, definition, create ? JobStore::SaveMode::CreateNew : JobStore::SaveMode::Replace);
        QCborMap reply = Reply(r);
        if (r.Ok()) reply.insert(Gen1Protocol::Key::Name, store->StoredName(name));
        return reply;
    });

    router.Add(Gen1Protocol::kDelete, [store](const QCborMap& request, const ClientIdentity&) {
        return Reply(store->Remove(NameOf(request)));
    });

    router.Add(Gen1Protocol::kState, [store, engine](const QCborMap& request, const ClientIdentity&) {
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
        reply.insert(Gen1Protocol::Key::Status, qint64(JobSchedule::Status(definition, runtime, QDateTime::currentDateTime(), *engine)));
        reply.insert(Gen1Protocol::Key::HasRun, runtime.HasRun());
        reply.insert(Gen1Protocol::Key::LastRun, SystemTimeToCbor(runtime.mostRecentRun));
        reply.insert(Gen1Protocol::Key::ExitCode, qint64(runtime.exitCode));
        return reply;
    });

    router.Add(Gen1Protocol::kRunTimes, [engine](const QCborMap& request, const ClientIdentity&) {
        JobDefinition definition;
        QCborMap failure;
        if (!DefinitionOf(request, &definition, &failure)) return failure;
        const qint64 count = request.value(Gen1Protocol::Key::Count).toInteger(-1);
        if (count < 1 || count > TASK_MAX_RUN_TIMES)
            return Reply(E_INVALIDARG, QStringLiteral("The number of run times asked for must be 1 to %1.").arg(TASK_MAX_RUN_TIMES));
        SYSTEMTIME begin = Now(*engine);
        if (request.contains(Gen1Protocol::Key::Begin)
            && !SystemTimeFromCbor(request.value(Gen1Protocol::Key::Begin).toArray(), &begin))
            return Reply(E_INVALIDARG, QStringLiteral("The start of the period is not a date and time."));
        SYSTEMTIME end{};
        const bool hasEnd = request.contains(Gen1Protocol::Key::End);
        if (hasEnd && !SystemTimeFromCbor(request.value(Gen1Protocol::Key::End).toArray(), &end))
            return Reply(E_INVALIDARG, QStringLiteral("The end of the period is not a date and time."));
        QList<SYSTEMTIME> times;
        const HRESULT hr = JobSchedule::RunTimes(definition, begin, hasEnd ? &end : nullptr, int(count), *engine, &times);
        if (hr == E_INVALIDARG) return Reply(hr, QStringLiteral("The period's start or end is not a date and time."));
        QCborMap reply = Reply(hr);
        QCborArray list;
        for (const SYSTEMTIME& st : times) list.append(SystemTimeToCbor(st));
        reply.insert(Gen1Protocol::Key::Times, list);
        return reply;
    });

    const auto needsDaemon = [](const QCborMap&, const ClientIdentity&) {
        return Reply(SCHED_E_SERVICE_NOT_RUNNING,
                     QStringLiteral("Tasks are started and stopped by the scheduling service's daemon, which is not running."));
    };
    router.Add(Gen1Protocol::kRun, needsDaemon);
    router.Add(Gen1Protocol::kTerminate, needsDaemon);
}
