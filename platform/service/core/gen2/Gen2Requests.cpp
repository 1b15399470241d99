#include "gen2/Gen2Requests.h"

#include "RunTimesWire.h"

#include "AccountPolicy.h"
#include "ComputerName.h"
#include "DaemonProtocol.h"
#include "Gen2Protocol.h"
#include "ListingWire.h"
#include "gen2/ScheduledRuns.h"
#include "ServiceError.h"
#include "gen2/TaskDocumentCodec.h"
#include "gen2/TaskStore.h"

#include <QCborArray>
#include <QSysInfo>
#include <QUuid>
#include <memory>
#include <unistd.h>

namespace {

using namespace Gen2Protocol;

const QLatin1StringView kHr = DaemonProtocol::Key::Hr;

QCborMap Ok(QCborMap reply = {})
{
    reply.insert(kHr, qint64(S_OK));
    return reply;
}

QString Text(const QCborMap& request, const char* key) { return request.value(QLatin1String(key)).toString(); }

TaskPath ParsePath(const QString& text)
{
    QString error;
    auto path = TaskPath::Parse(text, &error);
    if (!path) throw ServiceError(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), error);
    return *path;
}

// The folder a request is made on ("folder") joined with the path it names ("path").
TaskPath Target(const QCborMap& request)
{
    const TaskPath base = ParsePath(Text(request, "folder"));
    QString error;
    auto path = base.Join(ParsePath(Text(request, "path")), &error);
    if (!path) throw ServiceError(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), error);
    return *path;
}

bool IsGiven(const VARIANT& v) { return v.vt == VT_BSTR && !v.bstrVal.isEmpty(); }

void RefuseSecurityDescriptor(const QCborMap& request)
{
    const VARIANT sddl = ToVariant(request.value(Gen2Protocol::Key::Sddl));
    if (!sddl.IsMissing() && sddl.vt != VT_BSTR)
        throw ServiceError(E_INVALIDARG, QStringLiteral("The security descriptor must be a string."));
    if (IsGiven(sddl))
        throw ServiceError(E_INVALIDARG, QStringLiteral("Security descriptors are not supported; folders and tasks are private to their owner."));
}

QCborMap TaskRecord(const TaskPath& path, const QByteArray& xml, bool withXml = true)
{
    QCborMap record{{Gen2Protocol::Key::Path, path.ToString()}};
    if (withXml) record.insert(Gen2Protocol::Key::Xml, xml);
    return record;
}

QCborMap TaskRecord(const StoredTask& task) { return TaskRecord(task.path, task.xml); }

qint64 ToWire(const QDateTime& dt) { return dt.toMSecsSinceEpoch(); }
QDateTime FromWire(const QCborValue& v) { return v.isInteger() ? QDateTime::fromMSecsSinceEpoch(v.toInteger()) : QDateTime(); }

ServiceError NotRunning()
{
    return ServiceError(SCHED_E_SERVICE_NOT_RUNNING,
                        QStringLiteral("The Task Scheduler Service is not running. (Tasks are started and stopped by the service process.)"));
}

class Gen2Handler {
public:
    explicit Gen2Handler(const ServiceRoot& root) : m_store(root) {}

    QCborMap Connect(const QCborMap& request, const ClientIdentity& peer)
    {
        const QString host = QSysInfo::machineHostName();
        const VARIANT server = ToVariant(request.value(Gen2Protocol::Key::Server));
        if (!server.IsMissing() && server.vt != VT_BSTR) throw ServiceError(E_INVALIDARG, QStringLiteral("The server name must be a string."));
        const QString name = ComputerName::Bare(server.bstrVal);
        if (!ComputerName::IsLocal(name))
            throw ServiceError(HRESULT_FROM_WIN32(ERROR_BAD_NETPATH),
                               QStringLiteral("The network path was not found. (Only this computer, \"%1\", can be connected to; \"%2\" is another computer.)")
                                   .arg(host, name));
        const AccountPolicy policy(geteuid(), peer);
        const VARIANT user = ToVariant(request.value(Gen2Protocol::Key::User));
        const VARIANT domain = ToVariant(request.value(Gen2Protocol::Key::Domain));
        for (const VARIANT* v : {&user, &domain}) {
            if (!v->IsMissing() && v->vt != VT_BSTR) throw ServiceError(E_INVALIDARG, QStringLiteral("User and domain names must be strings."));
        }
        if (IsGiven(user)) {
            QString account = user.bstrVal;
            if (IsGiven(domain)) account = domain.bstrVal + QLatin1Char('\\') + account;
            if (AccountPolicy::LocalName(account) != policy.PeerName())
                throw ServiceError(E_ACCESSDENIED,
                                   QStringLiteral("Access is denied. (A connection to this computer uses the caller's own account, not \"%1\".)").arg(account));
        }
        return Ok({{Gen2Protocol::Key::Server, host},
                   {Gen2Protocol::Key::User, policy.PeerName()},
                   {Gen2Protocol::Key::Domain, host},
                   {Gen2Protocol::Key::Version, qint64((1 << 16) | 6)}});
    }

    QCborMap FolderGet(const QCborMap& request)
    {
        const TaskPath path = Target(request);
        if (!m_store.FolderExists(path))
            throw ServiceError(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
                               QStringLiteral("The system cannot find the file specified. (No folder \"%1\".)").arg(path.ToString()));
        return Ok({{Gen2Protocol::Key::Path, m_store.ResolveFolder(path).ToString()}});
    }

    QCborMap FolderList(const QCborMap& request)
    {
        const TaskPath folder = Target(request);
        QCborArray names;
        for (const QString& name : m_store.FolderNames(folder)) names.append(name);
        return Ok({{Gen2Protocol::Key::Names, names}});
    }

    QCborMap FolderCreate(const QCborMap& request)
    {
        RefuseSecurityDescriptor(request);
        const TaskPath path = Target(request);
        m_store.CreateFolder(path);
        return Ok({{Gen2Protocol::Key::Path, m_store.ResolveFolder(path).ToString()}});
    }

    QCborMap FolderDelete(const QCborMap& request)
    {
        m_store.DeleteFolder(Target(request));
        return Ok();
    }

    QCborMap TaskList(const QCborMap& request)
    {
        const bool hidden = request.value(Gen2Protocol::Key::Hidden).toBool();
        // The documents as stored: what was read before is sent without decoding it again.
        // A client that lists for a window asks for the tasks' status with the listing, and
        // may leave out the documents it already has; older clients ask for neither.
        const bool withStatus = request.value(Gen2Protocol::Key::Status).toBool();
        const bool withXml = request.value(Gen2Protocol::Key::Xml).toBool(true);
        // A client of the same packed form takes the texts as the cache holds them: nothing is
        // unpacked here, and the reply is a fraction of the size.
        const bool packedListing = request.value(Gen2Protocol::Key::Packed).toBool();
        const QCborValue askedForm = request.value(Gen2Protocol::Key::PackedTexts);
        const qint64 form = qint64(PackedDocument::FormatId());
        const bool packedTexts = packedListing && withXml && askedForm.isInteger() && askedForm.toInteger() == form;
        QList<ListedTask> tasks;
        QList<DamagedTask> damaged;
        m_store.ListTaskTexts(Target(request), &tasks, &damaged, withXml, packedTexts);
        // In UTC: a local time would be converted again for every task.
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QCborArray problems;
        for (const DamagedTask& d : damaged)
            problems.append(QCborMap{{Gen2Protocol::Key::Path, d.path.ToString()}, {DaemonProtocol::Key::Error, d.error}});
        // What a listing needs of a document for its status was kept when it was read.
        const auto statusOf = [&](const ListedTask& task, QString* stateError) {
            QString error;
            return Status(task.facts.enabled, m_store.ReadListedState(task, &error), error, m_store.NextStart(task, now), stateError);
        };
        if (packedListing) {
            ListingWire::Writer writer;
            qsizetype textBytes = 0;
            if (withXml) {
                for (const ListedTask& task : tasks) textBytes += packedTexts ? task.packed.PackedSize() + 1 : task.xml.size();
            }
            writer.Reserve(tasks.size(), textBytes, withStatus);
            // Every task listed is in the one folder: its path is the folder's and its name,
            // without joining all its names again.
            QByteArray folder;
            if (!tasks.isEmpty()) {
                folder = tasks.first().path.Parent().ToString().toUtf8();
                if (!folder.endsWith('\\')) folder += '\\';
            }
            QByteArray path;
            for (const ListedTask& task : tasks) {
                if (task.facts.hidden && !hidden) continue;
                path = folder;
                path += task.path.Name().toUtf8();
                if (packedTexts)
                    writer.Add(path, task.packed.IsPacked() ? ListingWire::PackedText : ListingWire::PlainText, task.packed.Bytes(), form);
                else
                    writer.Add(path, withXml ? task.xml : QByteArray());
                if (withStatus) writer.AddStatus(statusOf(task, nullptr));
            }
            QCborMap reply{{Gen2Protocol::Key::Damaged, problems}};
            writer.InsertInto(&reply);
            return Ok(reply);
        }
        QCborArray list;
        for (const ListedTask& task : tasks) {
            if (task.facts.hidden && !hidden) continue;
            QCborMap record = TaskRecord(task.path, task.xml, withXml);
            if (withStatus) {
                QString stateError;
                const ListingWire::TaskStatus status = statusOf(task, &stateError);
                record.insert(Gen2Protocol::Key::Status, StatusReply(status, stateError));
            }
            list.append(record);
        }
        return Ok({{Gen2Protocol::Key::Tasks, list}, {Gen2Protocol::Key::Damaged, problems}});
    }

    QCborMap TaskGet(const QCborMap& request)
    {
        return Ok({{Gen2Protocol::Key::Task, TaskRecord(m_store.LoadTask(Target(request)))}});
    }

    QCborMap TaskDelete(const QCborMap& request)
    {
        m_store.DeleteTask(Target(request));
        return Ok();
    }

    QCborMap TaskRegister(const QCborMap& request, const ClientIdentity& peer)
    {
        const qint64 flags = request.value(Gen2Protocol::Key::Flags).toInteger();
        constexpr qint64 known = 0x3F;
        const bool validateOnly = (flags & 0x1) != 0;
        if ((flags & ~known) != 0 || (flags & 0x7) == 0 || (validateOnly && (flags & 0x6) != 0))
            throw ServiceError(E_INVALIDARG, QStringLiteral("The registration flags 0x%1 are not valid.").arg(flags, 0, 16));
        RefuseSecurityDescriptor(request);
        const qint64 logonType = request.value(Gen2Protocol::Key::LogonType).toInteger();
        if (!TaskValueRules::IsLogonType(int(logonType)) || logonType != int(logonType))
            throw ServiceError(E_INVALIDARG, QStringLiteral("The logon type %1 is not valid.").arg(logonType));

        ValueProblem problem;
        auto doc = TaskDocumentCodec::Decode(request.value(Gen2Protocol::Key::Xml).toByteArray(), &problem);
        if (!doc) throw ServiceError(problem.code, problem.message);

        const VARIANT userId = ToVariant(request.value(Gen2Protocol::Key::UserId));
        if (!userId.IsMissing() && userId.vt != VT_BSTR) throw ServiceError(E_INVALIDARG, QStringLiteral("The user id must be a string."));
        const AccountPolicy policy(geteuid(), peer);
        PrincipalData& principal = doc->principal;
        principal.logonType = int(logonType);
        if (logonType == TASK_LOGON_GROUP) {
            const QString group = IsGiven(userId) ? userId.bstrVal : principal.groupId;
            if (group.isEmpty()) throw ServiceError(E_INVALIDARG, QStringLiteral("A group task needs a group."));
            if (auto p = policy.CheckGroup(group); !p.IsOk()) throw ServiceError(p.code, p.message);
            principal.groupId = group;
            principal.userId.clear();
        } else {
            QString account = IsGiven(userId) ? userId.bstrVal : principal.userId;
            if (account.isEmpty()) account = policy.PeerName();
            if (auto p = policy.CheckUser(account); !p.IsOk()) throw ServiceError(p.code, p.message);
            principal.userId = account;
            principal.groupId.clear();
        }
        if (flags & 0x8) doc->settings.enabled = false;
        if (auto p = TaskValueRules::CheckDocument(*doc); !p.IsOk()) throw ServiceError(p.code, p.message);

        QString path = Text(request, "path");
        if (path.isEmpty()) path = QUuid::createUuid().toString(QUuid::WithBraces).toUpper();
        QCborMap target = request;
        target.insert(Gen2Protocol::Key::Path, path);
        const TaskPath taskPath = Target(target);
        if (taskPath.IsRoot()) throw ServiceError(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), QStringLiteral("A task needs a name."));
        const TaskPath base = ParsePath(Text(request, "folder"));
        if (!m_store.FolderExists(base))
            throw ServiceError(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
                               QStringLiteral("The system cannot find the path specified. (No folder \"%1\".)").arg(base.ToString()));
        if (validateOnly) return Ok();
        const auto mode = (flags & 0x6) == 0x6 ? TaskStore::Mode::CreateOrUpdate
                          : (flags & 0x2)      ? TaskStore::Mode::Create
                                               : TaskStore::Mode::Update;
        const StoredTask stored = m_store.StoreTask(taskPath, *doc, mode);
        return Ok({{Gen2Protocol::Key::Task, TaskRecord(stored)}, {Gen2Protocol::Key::Replaced, stored.replaced}});
    }

    QCborMap TaskStatus(const QCborMap& request)
    {
        const StoredTask task = m_store.LoadTask(Target(request));
        QString stateError;
        const ListingWire::TaskStatus status = StatusOf(task.path, task.doc, QDateTime::currentDateTimeUtc(), &stateError);
        return Ok(StatusReply(status, stateError));
    }

    QCborMap TaskSetEnabled(const QCborMap& request)
    {
        const bool enabled = request.value(Gen2Protocol::Key::Enabled).toBool();
        m_store.ChangeTask(Target(request), [&](TaskDocument& doc) { doc.settings.enabled = enabled; });
        return Ok();
    }

    QCborMap TaskRunTimes(const QCborMap& request)
    {
        const StoredTask task = m_store.LoadTask(Target(request));
        const QDateTime start = FromWire(request.value(Gen2Protocol::Key::Start));
        if (!start.isValid()) throw ServiceError(E_INVALIDARG, QStringLiteral("The start of the period is not a valid time."));
        const qint64 count = request.value(Gen2Protocol::Key::Count).toInteger();
        if (count < 0 || count > 0xFFFF) throw ServiceError(E_INVALIDARG, QStringLiteral("At most 65535 run times can be asked for."));
        const QList<RunTime> runs = ScheduledRuns(task.doc, start, FromWire(request.value(Gen2Protocol::Key::End)), int(count));
        // A caller that names its zone and reads packed runs takes them packed, as wall
        // clocks when it is in the service's zone: then no time is converted on either side.
        const QCborValue zone = request.value(Gen2Protocol::Key::Zone);
        if (zone.isString() && request.value(Gen2Protocol::Key::RunDeltas).toBool()) {
            const bool wall = zone.toString().toUtf8() == ScheduleZone().id();
            return Ok({{Gen2Protocol::Key::RunDeltas, RunTimesWire::Pack(runs, wall)}, {Gen2Protocol::Key::Wall, wall}});
        }
        QCborArray times;
        for (const RunTime& run : runs) times.append(run.utc * 1000);
        return Ok({{Gen2Protocol::Key::Times, times}});
    }

    QCborMap NeedsDaemon(const QCborMap& request)
    {
        if (request.contains(Gen2Protocol::Key::Path)) m_store.LoadTask(Target(request));
        throw NotRunning();
    }

private:
    // What a status request answers for a stored task (without the result code). A state
    // file that cannot be read leaves the state unknown and says why in `stateError`.
    ListingWire::TaskStatus StatusOf(const TaskPath& path, const TaskDocument& doc, const QDateTime& now, QString* stateError) const
    {
        QString error;
        const auto state = m_store.ReadState(path, &error);
        std::optional<qint64> next;
        const QList<QDateTime> starts = ScheduledRunTimes(doc, now, {}, 1);
        if (!starts.isEmpty()) next = ToWire(starts.first());
        return Status(doc.settings.enabled, state, error, next, stateError);
    }

    static ListingWire::TaskStatus Status(bool enabled, const std::optional<TaskRuntimeState>& state, const QString& error,
                                          std::optional<qint64> next, QString* stateError)
    {
        ListingWire::TaskStatus status;
        status.enabled = enabled;
        if (!state) {
            status.state = 0;   // TASK_STATE_UNKNOWN
            status.lastTaskResult = HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
            if (stateError) *stateError = error.isNull() ? QStringLiteral("") : error;
        } else {
            status.state = !enabled ? 1 : state->runState != TaskRuntimeState::Idle ? qint64(state->runState) : 3;
            status.lastTaskResult = qint32(state->lastTaskResult);
            status.missedRuns = quint32(state->missedRuns);
            if (state->lastRunTime.isValid()) status.lastRunMs = ToWire(state->lastRunTime);
        }
        status.nextRunMs = next;
        return status;
    }

    // The status as its own map, as a status request and an unpacked listing send it.
    static QCborMap StatusReply(const ListingWire::TaskStatus& status, const QString& stateError)
    {
        QCborMap reply = ListingWire::StatusMap(status);
        if (!stateError.isNull()) reply.insert(Gen2Protocol::Key::StateError, stateError);
        return reply;
    }

    TaskStore m_store;
};

// Runs a handler and turns a refusal into a reply with the code and the description.
template <typename F>
QCborMap Answer(F&& f)
{
    try {
        return f();
    } catch (const ServiceError& e) {
        return QCborMap{{kHr, qint64(e.Code())}, {DaemonProtocol::Key::Error, e.Message()}};
    }
}

} // namespace

void RegisterGen2Requests(RequestRouter& router, const ServiceRoot& root)
{
    auto h = std::make_shared<Gen2Handler>(root);
    auto add = [&](const QString& op, auto member) {
        router.Add(op, [h, member](const QCborMap& request, const ClientIdentity& peer) {
            return Answer([&] {
                if constexpr (std::is_invocable_v<decltype(member), Gen2Handler&, const QCborMap&, const ClientIdentity&>)
                    return std::invoke(member, *h, request, peer);
                else
                    return std::invoke(member, *h, request);
            });
        });
    };
    add(kConnect, &Gen2Handler::Connect);
    add(kFolderGet, &Gen2Handler::FolderGet);
    add(kFolderList, &Gen2Handler::FolderList);
    add(kFolderCreate, &Gen2Handler::FolderCreate);
    add(kFolderDelete, &Gen2Handler::FolderDelete);
    add(kTaskList, &Gen2Handler::TaskList);
    add(kTaskGet, &Gen2Handler::TaskGet);
    add(kTaskDelete, &Gen2Handler::TaskDelete);
    add(kTaskRegister, &Gen2Handler::TaskRegister);
    add(kTaskStatus, &Gen2Handler::TaskStatus);
    add(kTaskSetEnabled, &Gen2Handler::TaskSetEnabled);
    add(kTaskRunTimes, &Gen2Handler::TaskRunTimes);
    for (const QString& op : {kTaskRun, kTaskStop, kTaskInstances, kRunningList, kInstanceRefresh, kInstanceStop})
        add(op, &Gen2Handler::NeedsDaemon);
}
