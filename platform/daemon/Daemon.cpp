#include "Daemon.h"

#include "AccountPolicy.h"
#include "AtomicFile.h"
#include "DaemonProtocol.h"
#include "HeapFill.h"
#include "server/DaemonServer.h"
#include "catalog/Gen1Catalog.h"
#include "Gen1Protocol.h"
#include "catalog/Gen2Catalog.h"
#include "Gen2Protocol.h"
#include "run/PasswordCheck.h"
#include "ResultCodes.h"
#include "RootWatcher.h"
#include "server/RunRequests.h"
#include "schedule/ScheduleLoop.h"
#include "ServiceCore.h"
#include "sources/NetworkManagerState.h"
#include "sources/LogindSessionSource.h"
#include "sources/SessionWatcher.h"
#include "sources/StartConditions.h"
#include "sources/UPowerSource.h"
#include "catalog/StoreTrust.h"
#include "StoreLock.h"
#include "run/TaskRunner.h"
#include "schedule/WallClockTimer.h"

#include <QCborArray>
#include <QLoggingCategory>
#include <QTimer>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

Q_LOGGING_CATEGORY(lcDaemon, "taskschedd")

namespace {

constexpr qint64 LogonPassword = 1;                   // TASK_LOGON_PASSWORD
constexpr qint64 LogonInteractiveOrPassword = 6;      // TASK_LOGON_INTERACTIVE_TOKEN_OR_PASSWORD
constexpr int StoreLockWaitMs = 10000;
// How long the mark of a change may wait for the changes after it, and the mark of a start
// for its flush (SaveState).
constexpr int StateWriteDelayMs = 100;

} // namespace

Daemon::Daemon(ServiceRoot root, QObject* parent)
    : QObject(parent), m_root(std::move(root)), m_lock(m_root.DaemonLockPath()), m_state(m_root)
{
}

Daemon::~Daemon() { Stop(); }

Daemon::StartResult Daemon::Start(QString* message)
{
    QString error;
    if (!m_root.Ensure(&error)) {
        if (message) *message = error;
        return Failed;
    }
    if (const QString refusal = StoreTrust::OfThisProcess().RootRefusal(m_root.Path()); !refusal.isEmpty()) {
        if (message)
            *message = QStringLiteral("A taskschedd running as root serves only a directory that root alone can change: %1.").arg(refusal);
        return Failed;
    }
    qint64 holder = 0;
    switch (m_lock.TryAcquire(&holder, &error)) {
    case DaemonLock::Acquired:
        break;
    case DaemonLock::HeldByOther:
        if (message) *message = QStringLiteral("Another taskschedd (process %1) already serves \"%2\".").arg(holder).arg(m_root.Path());
        return AlreadyRunning;
    case DaemonLock::Failed:
        if (message) *message = error;
        return Failed;
    }

    RemoveLeftovers();
    // Watched from the start: a daemon whose root is gone can serve no one and runs no task.
    m_rootWatcher = new RootWatcher(m_root.Path(), this);
    if (!m_rootWatcher->IsValid()) qCWarning(lcDaemon) << "the root" << m_root.Path() << "cannot be watched for its removal";
    connect(m_rootWatcher, &RootWatcher::Lost, this, &Daemon::OnRootLost);

    m_core = std::make_unique<ServiceCore>(m_root);
    m_gen2 = std::make_unique<Gen2Catalog>(m_root);
    m_gen1 = std::make_unique<Gen1Catalog>(m_root);
    const QList<TaskCatalog*> catalogs{m_gen2.get(), m_gen1.get()};
    m_timer = new WallClockTimer(WallClockTimer::Plain, this);
    m_runner = new TaskRunner(m_root, catalogs, m_clock, this);
    m_power = std::make_unique<UPowerSource>();
    m_network = std::make_unique<NetworkManagerState>();
    m_conditions = std::make_unique<StartConditions>(*m_power, *m_network);
    m_runner->SetConditions(m_conditions.get());
    m_loop = new ScheduleLoop(catalogs, *m_runner, m_clock, *m_timer, this);
    m_wakeTimer = new WallClockTimer(WallClockTimer::WakesSystem, this);
    if (m_wakeTimer->IsValid()) {
        m_loop->SetWakeTimer(m_wakeTimer);
    } else {
        qCInfo(lcDaemon).noquote() << "the computer cannot be woken for tasks that ask for it (" + m_wakeTimer->Error()
                                          + "; waking needs CAP_WAKE_ALARM and a wake-up clock); they run when it resumes";
        delete m_wakeTimer;
        m_wakeTimer = nullptr;
    }
    m_requests = std::make_unique<RunRequests>(*m_runner, catalogs);
    connect(m_runner, &TaskRunner::InstanceStarted, this, [this](const TaskKey& key) { Notify(DaemonProtocol::Notice::RunStarted, key); });
    connect(m_runner, &TaskRunner::InstanceEnded, this, [this](const TaskKey& key, HRESULT result) {
        Notify(DaemonProtocol::Notice::RunEnded, key, QCborMap{{DaemonProtocol::Key::Result, qint64(quint32(result))}});
    });
    AddOwnRequests();

    m_server = new DaemonServer([this](const QCborMap& request, const ClientIdentity& peer) { return Handle(request, peer); }, this);
    if (!m_server->Listen(m_root.SocketPath(), &error)) {
        Stop();
        m_lock.Release();
        if (message) *message = error;
        return Failed;
    }
    m_running = true;
    qCInfo(lcDaemon) << "serving" << m_root.Path() << "as uid" << geteuid() << "pid" << getpid();

    // Clients may connect from here on; their requests wait until the schedule is read.
    m_state.Load();
    m_bootId = DaemonState::CurrentBootId();
    const bool booted = !m_bootId.isEmpty() && m_bootId != m_state.BootId();
    m_runner->Recover(booted);
    m_stateTimer = new QTimer(this);
    m_stateTimer->setSingleShot(true);
    m_stateTimer->setInterval(StateWriteDelayMs);
    connect(m_stateTimer, &QTimer::timeout, this, [this] { WriteState(); });
    connect(m_loop, &ScheduleLoop::Handled, this, &Daemon::SaveState);
    connect(m_loop, &ScheduleLoop::CatchingUp, this, [this](const TaskKey& key, const CatchUpMark& mark) {
        try {
            m_state.RecordCatchUp(m_bootId, key, mark);
        } catch (const std::exception& e) {
            // Starting it anyway: a start run twice after a crash is better than none at all.
            qCWarning(lcDaemon) << key.ToString() << ": its catch-up cannot be recorded:" << e.what();
        }
    });
    if (LogindSessionSource::IsPresent()) {
        m_sessions = new LogindSessionSource(this);
    } else {
        qCInfo(lcDaemon) << "logind is not on the system bus: logons are taken from /run/systemd/sessions, and session"
                            " state changes and idleness are not known";
        m_sessions = new SessionWatcher(QStringLiteral("/run/systemd/sessions"), this);
    }
    connect(m_sessions, &SessionSource::LoggedOn, m_loop, &ScheduleLoop::OnLogon);
    connect(m_sessions, &SessionSource::StateChanged, m_loop, &ScheduleLoop::OnSessionChange);
    m_loop->SetSessions(m_sessions);
    // The heap grows by what the schedule keeps of every task and by the store's cache.
    HeapFill heap;
    m_loop->Begin(m_state.HandledThrough(), booted, m_state.CatchUp(m_bootId), [&heap] { heap.Follow(); });
#if defined(__GLIBC__)
    // Reading a large store leaves its freed working memory spread through the heap, where
    // the allocator would keep it for good; the daemon runs for weeks.
    malloc_trim(0);
#endif

    return Started;
}

void Daemon::RemoveLeftovers()
{
    // Every store write happens under the store lock, so none is under way while it is held;
    // the history and the daemon's state are written by the daemon alone.
    StoreLock lock(m_root.StoreLockPath());
    HRESULT code = E_FAIL;
    QString error;
    if (!lock.Acquire(StoreLockWaitMs, &code, &error)) {
        qCWarning(lcDaemon) << "temporary files of interrupted writes are left in place:" << error;
        return;
    }
    int removed = AtomicFile::RemoveLeftovers(m_root.Path(), false);
    for (const QString& dir : {m_root.TasksDir(), m_root.StateDir(), m_root.JobsDir(), m_root.HistoryDir()})
        removed += AtomicFile::RemoveLeftovers(dir, true);
    if (removed > 0) qCInfo(lcDaemon) << "removed" << removed << "temporary file(s) of interrupted writes";
}

void Daemon::SaveState(const QDateTime& through)
{
    m_unwrittenThrough = through;
    // The mark on disk tells the next daemon, after a crash, which starts were handled: it
    // counts those after it as missed. A start the schedule made is handled only once the mark
    // is written, so that mark is written at once. A change to a task needs its mark written
    // before it is answered only when the task has starts since the mark on disk (they were
    // never due, as the task did not have them then); otherwise no start lies between the mark
    // on disk and this one, the next daemon finds the same starts missed with either, and the
    // write waits a moment, to be shared by the changes that follow.
    if (m_changing && m_stateTimer && !StartsSinceWritten(*m_changing, through)) {
        if (!m_stateTimer->isActive()) m_stateTimer->start();
        return;
    }
    if (m_changing || !m_stateTimer) {
        WriteState();
        return;
    }
    // After the schedule's own starts the mark is written at once, as a crash of the daemon
    // right after a start must not bring it again; but flushed a moment later, so that the
    // program being started does not wait behind the disk's journal for it. A power failure
    // before the flush ends the instance as well, and its start may then count as missed.
    WriteState(false);
    if (!m_stateTimer->isActive()) m_stateTimer->start();
}

bool Daemon::StartsSinceWritten(const TaskKey& key, const QDateTime& through)
{
    const QDateTime written = m_state.HandledThrough();
    if (!written.isValid() || written >= through) return false;
    TaskCatalog* catalog = key.generation == TaskGeneration::Gen1 ? static_cast<TaskCatalog*>(m_gen1.get()) : m_gen2.get();
    const auto task = catalog ? catalog->Load(key, nullptr) : std::nullopt;
    // A disabled task's starts are not counted as missed; a deleted task has none.
    return task && task->enabled && !task->StartsAfter(written, through, 1).isEmpty();
}

void Daemon::WriteState(bool flush)
{
    if (flush && m_stateTimer) m_stateTimer->stop();
    if (!m_unwrittenThrough.isValid()) return;
    try {
        m_state.Save(m_bootId, m_unwrittenThrough, flush);
        // Kept until flushed: the timer's write makes it durable.
        if (flush) m_unwrittenThrough = {};
    } catch (const std::exception& e) {
        qCWarning(lcDaemon) << "the daemon state cannot be written:" << e.what();
    }
}

void Daemon::Stop()
{
    const bool wasRunning = m_running;
    m_running = false;
    delete m_server;
    m_server = nullptr;
    // A root that is gone, or is another directory now, gets nothing more from this daemon.
    if (m_loop && wasRunning && !m_rootLost) {
        m_unwrittenThrough = m_clock.Now();
        WriteState();
    }
    delete m_stateTimer;
    m_stateTimer = nullptr;
    delete m_sessions;
    m_sessions = nullptr;
    delete m_rootWatcher;
    m_rootWatcher = nullptr;
    delete m_loop;
    m_loop = nullptr;
    m_requests.reset();
    delete m_runner;
    m_runner = nullptr;
    m_conditions.reset();
    m_network.reset();
    m_power.reset();
    delete m_timer;
    m_timer = nullptr;
    delete m_wakeTimer;
    m_wakeTimer = nullptr;
    m_gen1.reset();
    m_gen2.reset();
    m_core.reset();
    if (wasRunning) {
        if (!m_rootLost) m_lock.Release();
        qCInfo(lcDaemon) << "stopped serving" << m_root.Path();
    }
}

void Daemon::OnRootLost(const QString& reason)
{
    qCWarning(lcDaemon).noquote() << reason + QStringLiteral(": ending");
    // No later daemon can take the instances over: their root is gone with their files.
    if (m_runner) {
        for (const RunningInstance* instance : m_runner->AllInstances())
            m_runner->StopInstance(instance->Description().id, StopReason::Request);
    }
    m_rootLost = true;
    Stop();
    emit RootLost(reason);
}

QCborMap Daemon::Handle(const QCborMap& request, const ClientIdentity& peer)
{
    const QString op = request.value(DaemonProtocol::Key::Op).toString();
    if (op == Gen2Protocol::kTaskRegister || op == Gen1Protocol::kSave) {
        if (auto refusal = CheckPassword(op, request, peer)) return *refusal;
    }
    // Taken before the request is carried out: a deleted task's stored spelling is gone after.
    const std::optional<TaskKey> named = NamedTask(op, request);
    const bool existed = Stores(op, request);
    const QCborMap reply = m_core->Handle(request, peer);
    if (SUCCEEDED(HRESULT(reply.value(DaemonProtocol::Key::Hr).toInteger()))) AfterChange(op, named, existed, reply);
    return reply;
}

std::optional<QCborMap> Daemon::CheckPassword(const QString& op, const QCborMap& request, const ClientIdentity& peer) const
{
    QString account;
    QString password;
    if (op == Gen2Protocol::kTaskRegister) {
        const qint64 logonType = request.value(Gen2Protocol::Key::LogonType).toInteger();
        const VARIANT given = Gen2Protocol::ToVariant(request.value(Gen2Protocol::Key::Password));
        if (given.vt != VT_BSTR || given.bstrVal.isEmpty()) return std::nullopt;
        if (logonType != LogonPassword && logonType != LogonInteractiveOrPassword) return std::nullopt;
        password = given.bstrVal;
        const VARIANT user = Gen2Protocol::ToVariant(request.value(Gen2Protocol::Key::UserId));
        account = user.vt == VT_BSTR && !user.bstrVal.isEmpty() ? user.bstrVal : AccountPolicy::UserName(peer.uid);
    } else {
        // A 1.0 save carries a password only when one was set since the object's last save;
        // an empty account is the service's own, which has none.
        password = request.value(Gen2Protocol::Key::Password).toString();
        account = request.value(QStringLiteral("job")).toMap().value(QStringLiteral("account")).toString();
        if (password.isEmpty() || account.isEmpty()) return std::nullopt;
    }
    if (AccountPolicy::IsSystemAccount(account)) return std::nullopt;   // the service's own account has no password
    QString error;
    if (PasswordCheck::Verify(AccountPolicy::LocalName(account), password, &error)) return std::nullopt;
    qCInfo(lcDaemon) << "a task for" << account << "gave a password the system refuses:" << error;
    const HRESULT hr = HRESULT_FROM_WIN32(ERROR_LOGON_FAILURE);
    return DaemonProtocol::ErrorReply(hr, ResultText(hr));
}

std::optional<TaskKey> Daemon::NamedTask(const QString& op, const QCborMap& request) const
{
    // The schedule and the runner know a task by the spelling its store keeps; a request
    // may spell it in another case.
    if (op == Gen2Protocol::kTaskDelete || op == Gen2Protocol::kTaskSetEnabled) {
        if (const auto key = RunRequests::Gen2Key(request, nullptr)) return m_gen2->StoredKey(*key);
    } else if (op == Gen1Protocol::kDelete) {
        return m_gen1->StoredKey(RunRequests::Gen1Key(request));
    }
    return std::nullopt;
}

bool Daemon::Stores(const QString& op, const QCborMap& request)
{
    // A registration's answer says whether it replaced a task: it is not looked up first.
    if (op == Gen1Protocol::kSave) return m_gen1->Load(RunRequests::Gen1Key(request), nullptr).has_value();
    return false;
}

void Daemon::Notify(QLatin1StringView notice, const TaskKey& key, const QCborMap& extra)
{
    if (!m_server) return;
    QCborMap message = DaemonProtocol::NoticeMessage(notice, key.generation == TaskGeneration::Gen1 ? 1 : 2, key.path);
    for (auto it = extra.cbegin(); it != extra.cend(); ++it) message.insert(it.key(), it.value());
    m_server->Notify(message);
}

void Daemon::AfterChange(const QString& op, const std::optional<TaskKey>& named, bool existed, const QCborMap& reply)
{
    std::optional<TaskKey> key = named;
    if (op == Gen2Protocol::kTaskRegister) {
        const QString path = reply.value(Gen2Protocol::Key::Task).toMap().value(Gen2Protocol::Key::Path).toString();
        if (!path.isEmpty()) key = TaskKey{TaskGeneration::Gen2, path};
        existed = reply.value(Gen2Protocol::Key::Replaced).toBool();
    } else if (op == Gen1Protocol::kSave) {
        key = TaskKey{TaskGeneration::Gen1, reply.value(QStringLiteral("name")).toString()};
    }
    if (!key || key->path.isEmpty()) return;
    const bool deleted = op == Gen2Protocol::kTaskDelete || op == Gen1Protocol::kDelete;
    if (deleted) m_runner->ForgetHistory(*key);
    m_changing = key;
    m_loop->Refresh(*key);
    m_changing.reset();
    using namespace DaemonProtocol;
    if (deleted) Notify(Notice::TaskDeleted, *key);
    else if (op == Gen2Protocol::kTaskSetEnabled || existed) Notify(Notice::TaskChanged, *key);
    else Notify(Notice::TaskAdded, *key);
}

void Daemon::AddOwnRequests()
{
    m_core->Router().Add(DaemonProtocol::Op::Ping, [this](const QCborMap&, const ClientIdentity&) {
        using namespace DaemonProtocol;
        return QCborMap{{Key::Hr, qint64(S_OK)},
                        {Key::Pid, qint64(getpid())},
                        {Key::Uid, qint64(geteuid())},
                        {Key::Root, m_root.Path()},
                        {Key::Version, Version}};
    });
    m_requests->Register(m_core->Router(), [this](QCborMap& reply) {
        reply.insert(QStringLiteral("queued"), m_loop->QueuedCount());
        const QDateTime next = m_loop->NextWake();
        if (next.isValid()) reply.insert(QStringLiteral("nextWake"), next.toMSecsSinceEpoch());
        reply.insert(QStringLiteral("handledThrough"), m_loop->HandledThrough().toMSecsSinceEpoch());
    });
}
