#include "server/RunRequests.h"

#include "DaemonProtocol.h"
#include "Gen1Protocol.h"
#include "Gen2Protocol.h"
#include "gen1/JobStore.h"
#include "TaskPath.h"

#include <QCborArray>

namespace {

QCborMap Reply(HRESULT hr, const QString& error = {})
{
    if (FAILED(hr)) return DaemonProtocol::ErrorReply(hr, error.isEmpty() ? ResultText(hr) : error);
    return QCborMap{{DaemonProtocol::Key::Hr, qint64(hr)}};
}

QString Guid(const QString& id) { return QLatin1Char('{') + id.toUpper() + QLatin1Char('}'); }

QCborMap Describe(const RunningInstance& instance)
{
    const InstanceDescription& description = instance.Description();
    const auto key = TaskKey::FromString(description.task);
    const QString path = key ? key->path : description.task;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('\\'));
    return QCborMap{{QStringLiteral("guid"), Guid(description.id)},
                    {Gen2Protocol::Key::Path, path},
                    {QStringLiteral("name"), slash >= 0 ? path.mid(slash + 1) : path},
                    {Gen2Protocol::Key::State, qint64(TaskRuntime::Running)},
                    {QStringLiteral("currentAction"), description.steps.isEmpty() ? QString() : description.steps.first().program},
                    {QStringLiteral("enginePid"), qint64(instance.Pid())},
                    {Gen2Protocol::Key::Start, description.start.toMSecsSinceEpoch()}};
}

QCborArray DescribeAll(const QList<const RunningInstance*>& instances)
{
    QCborArray list;
    for (const RunningInstance* instance : instances) list.append(Describe(*instance));
    return list;
}

} // namespace

RunRequests::RunRequests(TaskRunner& runner, QList<TaskCatalog*> catalogs) : m_runner(runner)
{
    for (TaskCatalog* catalog : catalogs) m_catalogs.insert(catalog->Generation(), catalog);
}

std::optional<TaskKey> RunRequests::Gen2Key(const QCborMap& request, QString* error)
{
    const auto folder = TaskPath::Parse(request.value(Gen2Protocol::Key::Folder).toString(), error);
    if (!folder) return std::nullopt;
    const auto relative = TaskPath::Parse(request.value(Gen2Protocol::Key::Path).toString(), error);
    if (!relative) return std::nullopt;
    const auto path = folder->Join(*relative, error);
    if (!path) return std::nullopt;
    if (path->IsRoot()) {
        if (error) *error = QStringLiteral("A task needs a name.");
        return std::nullopt;
    }
    return TaskKey{TaskGeneration::Gen2, path->ToString()};
}

TaskKey RunRequests::Gen1Key(const QCborMap& request)
{
    return TaskKey{TaskGeneration::Gen1, JobStore::WithJobExtension(request.value(QStringLiteral("name")).toString())};
}

RunnableTask RunRequests::WithArgument(RunnableTask task, const QString& argument)
{
    for (TaskAction& action : task.actions) action.arguments.replace(QLatin1String("$(Arg0)"), argument, Qt::CaseInsensitive);
    return task;
}

TaskKey RunRequests::Stored(const TaskKey& key) const
{
    const TaskCatalog* catalog = m_catalogs.value(key.generation);
    return catalog ? catalog->StoredKey(key) : key;
}

std::optional<TaskKey> RunRequests::Stored(const std::optional<TaskKey>& key) const
{
    if (!key) return std::nullopt;
    return Stored(*key);
}

std::optional<RunnableTask> RunRequests::Load(const TaskKey& key, HRESULT* code, QString* error) const
{
    TaskCatalog* catalog = m_catalogs.value(key.generation);
    auto task = catalog ? catalog->Load(key, error) : std::nullopt;
    if (!task && code) *code = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    return task;
}

void RunRequests::Register(RequestRouter& router, std::function<void(QCborMap&)> status)
{
    auto add = [&](const QString& op, QCborMap (RunRequests::*member)(const QCborMap&)) {
        router.Add(op, [this, member](const QCborMap& request, const ClientIdentity&) { return (this->*member)(request); });
    };
    add(Gen2Protocol::kTaskRun, &RunRequests::RunGen2);
    add(Gen2Protocol::kTaskStop, &RunRequests::StopGen2);
    add(Gen2Protocol::kTaskInstances, &RunRequests::Gen2Instances);
    add(Gen2Protocol::kRunningList, &RunRequests::RunningList);
    add(Gen2Protocol::kInstanceRefresh, &RunRequests::InstanceRefresh);
    add(Gen2Protocol::kInstanceStop, &RunRequests::InstanceStop);
    add(Gen1Protocol::kRun, &RunRequests::RunGen1);
    add(Gen1Protocol::kTerminate, &RunRequests::TerminateGen1);
    add(DaemonProtocol::Op::History, &RunRequests::History);
    router.Add(QStringLiteral("daemon.status"), [this, status](const QCborMap&, const ClientIdentity&) {
        QCborMap reply = Reply(S_OK);
        reply.insert(QStringLiteral("instances"), DescribeAll(m_runner.AllInstances()));
        if (status) status(reply);
        return reply;
    });
}

QCborMap RunRequests::RunGen2(const QCborMap& request)
{
    QString error;
    const auto key = Gen2Key(request, &error);
    if (!key) return Reply(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), error);
    HRESULT code = S_OK;
    // The task as loaded is known by its path spelt as stored, as the runner knows it.
    auto task = Load(*key, &code, &error);
    if (!task) return Reply(code, error);
    if (!task->allowDemandStart) return Reply(SCHED_E_START_ON_DEMAND);
    const VARIANT params = Gen2Protocol::ToVariant(request.value(Gen2Protocol::Key::Params));
    if (params.vt == VT_BSTR) task = WithArgument(*task, params.bstrVal);
    const HRESULT hr = m_runner.Start(*task, QStringLiteral("demand"), &error);
    QCborMap reply = Reply(hr, error);
    if (SUCCEEDED(hr)) reply.insert(QStringLiteral("instances"), DescribeAll(m_runner.Instances(task->key)));
    return reply;
}

QCborMap RunRequests::StopGen2(const QCborMap& request)
{
    QString error;
    const auto key = Stored(Gen2Key(request, &error));
    if (!key) return Reply(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), error);
    HRESULT code = S_OK;
    if (!Load(*key, &code, &error) && m_runner.Instances(*key).isEmpty()) return Reply(code, error);
    m_runner.Stop(*key);
    return Reply(S_OK);
}

QCborMap RunRequests::Gen2Instances(const QCborMap& request)
{
    QString error;
    const auto key = Stored(Gen2Key(request, &error));
    if (!key) return Reply(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), error);
    QCborMap reply = Reply(S_OK);
    reply.insert(QStringLiteral("instances"), DescribeAll(m_runner.Instances(*key)));
    return reply;
}

QCborMap RunRequests::RunningList(const QCborMap&)
{
    QList<const RunningInstance*> gen2;
    for (const RunningInstance* instance : m_runner.AllInstances()) {
        if (instance->Description().task.startsWith(QLatin1String("v2:"))) gen2.append(instance);
    }
    QCborMap reply = Reply(S_OK);
    reply.insert(QStringLiteral("instances"), DescribeAll(gen2));
    return reply;
}

const RunningInstance* RunRequests::FindInstance(const QCborMap& request) const
{
    const QString guid = request.value(QStringLiteral("guid")).toString();
    for (const RunningInstance* instance : m_runner.AllInstances()) {
        if (Guid(instance->Description().id).compare(guid, Qt::CaseInsensitive) == 0) return instance;
    }
    return nullptr;
}

QCborMap RunRequests::InstanceRefresh(const QCborMap& request)
{
    const RunningInstance* instance = FindInstance(request);
    if (!instance) return Reply(SCHED_E_TASK_NOT_RUNNING);
    QCborMap reply = Reply(S_OK);
    reply.insert(QStringLiteral("instance"), Describe(*instance));
    return reply;
}

QCborMap RunRequests::InstanceStop(const QCborMap& request)
{
    const RunningInstance* instance = FindInstance(request);
    if (!instance || !m_runner.StopInstance(instance->Description().id)) return Reply(SCHED_E_TASK_NOT_RUNNING);
    return Reply(S_OK);
}

QCborMap RunRequests::RunGen1(const QCborMap& request)
{
    const TaskKey key = Stored(Gen1Key(request));
    HRESULT code = S_OK;
    QString error;
    const auto task = Load(key, &code, &error);
    if (!task) return Reply(code, error);
    return Reply(m_runner.Start(*task, QStringLiteral("demand"), &error), error);
}

QCborMap RunRequests::TerminateGen1(const QCborMap& request)
{
    const TaskKey key = Stored(Gen1Key(request));
    if (m_runner.Stop(key) == 0) return Reply(SCHED_E_TASK_NOT_RUNNING);
    return Reply(S_OK);
}

QCborMap RunRequests::History(const QCborMap& request)
{
    auto key = TaskKey::FromString(request.value(Gen2Protocol::Key::Task).toString());
    if (!key) return Reply(E_INVALIDARG, QStringLiteral("The task is named as \"v2:\\\\Folder\\\\Name\" or \"v1:Name.job\"."));
    QString error;
    // The history file is named after the task, so only a name the stores accept may name it.
    if (key->generation == TaskGeneration::Gen2) {
        const auto path = TaskPath::Parse(key->path, &error);
        if (!path || path->IsRoot()) return Reply(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), error);
        key->path = path->ToString();
    } else if (const JobResult r = JobStore::ValidateName(key->path); !r.Ok()) {
        return Reply(r.hr, r.error);
    }
    const QList<RunHistoryEntry> entries = m_runner.History().Read(*key, &error);
    if (!error.isEmpty()) return Reply(HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), error);
    QCborArray runs;
    for (const RunHistoryEntry& e : entries) {
        QCborMap run{{QStringLiteral("instance"), e.instance},
                     {QStringLiteral("cause"), e.cause},
                     {QStringLiteral("attempt"), e.attempt},
                     {Gen2Protocol::Key::Start, e.start.toMSecsSinceEpoch()},
                     {Gen2Protocol::Key::End, e.end.toMSecsSinceEpoch()},
                     {QStringLiteral("result"), qint64(quint32(e.result))}};
        if (!e.reason.isEmpty()) run.insert(QStringLiteral("reason"), e.reason);
        runs.append(run);
    }
    QCborMap reply = Reply(S_OK);
    reply.insert(Gen2Protocol::Key::Runs, runs);
    return reply;
}
