#include "run/InstanceLauncher.h"

#include "gen2/TaskStore.h"

#include "AtomicFile.h"
#include "run/RunAccount.h"
#include "run/RunResults.h"
#include "supervisor/ExecSupervisor.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

QString KindName(TaskAction::Kind kind)
{
    switch (kind) {
    case TaskAction::Email: return QStringLiteral("e-mail");
    case TaskAction::Message: return QStringLiteral("message");
    case TaskAction::Handler: return QStringLiteral("handler");
    case TaskAction::Exec: break;
    }
    return QStringLiteral("program");
}

// A program written with quotes around it, as it would be typed on a command line.
QString Unquote(QString text)
{
    text = text.trimmed();
    if (text.size() >= 2 && ((text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
                             || (text.startsWith(QLatin1Char('\'')) && text.endsWith(QLatin1Char('\'')))))
        text = text.mid(1, text.size() - 2);
    return text;
}

// posix_spawn returns once the child has begun its exec, but for a moment after that the
// kernel still shows an empty command line for it. A daemon started right then would not
// recognise the supervisor by its command line and would record its instance as lost, so the
// launch is complete only once the command line names the supervisor (or the child is gone).
void WaitUntilRecognisable(pid_t pid, const QByteArray& program)
{
    const QByteArray proc = "/proc/" + QByteArray::number(pid);
    for (int i = 0; i < 2000; ++i) {
        QFile cmdline(QString::fromLatin1(proc + "/cmdline"));
        if (!cmdline.open(QIODevice::ReadOnly)) return;
        if (cmdline.readAll().startsWith(program)) return;
        QFile stat(QString::fromLatin1(proc + "/stat"));
        if (!stat.open(QIODevice::ReadOnly)) return;
        const QByteArray fields = stat.readAll();
        const qsizetype close = fields.lastIndexOf(')');
        if (close < 0 || fields.mid(close + 2, 1) == "Z") return;
        ::usleep(50);
    }
}

// The room in a waiting supervisor's command line for the instance file that takes its place.
constexpr int PlaceholderSize = 4096;
// How long the launcher may take to answer; its supervisor waits for nothing but this.
constexpr int HandOverTimeoutMs = 10000;

} // namespace

InstanceLauncher::InstanceLauncher(ServiceRoot root) : m_root(std::move(root)) {}

InstanceLauncher::~InstanceLauncher()
{
    if (m_launcher.pid <= 0) return;
    // Our end closed, it reads the end of its input and goes, and so does the supervisor
    // it keeps waiting.
    ::close(m_launcher.socket);
    while (::waitpid(m_launcher.pid, nullptr, 0) < 0 && errno == EINTR) {}
}

QString InstanceLauncher::InstancesDir() const { return m_root.Path() + QStringLiteral("/instances"); }

QString InstanceLauncher::LogFile(const TaskKey& key) const
{
    if (key.generation == TaskGeneration::Gen1) return m_root.LogsDir() + QStringLiteral("/v1/") + key.path + QStringLiteral(".log");
    // The store's rule: "\\foo" and "\\foo.log\\bar" must not share a file or a directory.
    const TaskPath path = TaskPath::Parse(key.path).value_or(TaskPath());
    return TaskStore::FileFor(m_root.LogsDir() + QStringLiteral("/v2"), path, QStringLiteral(".log"));
}

QString InstanceLauncher::SupervisorProgram()
{
    const QString found = SupervisorProgram(QCoreApplication::applicationDirPath());
    // Spawning a missing program reports its path, which tells more than an empty name.
    return found.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/taskschedd-exec") : found;
}

QString InstanceLauncher::SupervisorProgram(const QString& programDir)
{
    const QString name = QStringLiteral("taskschedd-exec");
    // Relative to the daemon's own directory, so that an installed tree still works when moved
    // or unpacked somewhere else.
    const QStringList candidates{programDir + QLatin1Char('/') + name,
                                 QDir::cleanPath(programDir + QStringLiteral("/" TS_SUPERVISOR_DIR_FROM_BIN "/") + name)};
    for (const QString& candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable()) return candidate;
    }
    return QStandardPaths::findExecutable(name);
}

QString InstanceLauncher::Expand(const QString& text, const QStringList& environment, const QString& home)
{
    if (!text.contains(QLatin1Char('%')) && !text.contains(QLatin1Char('$')) && !text.startsWith(QLatin1Char('~'))) return text;
    QHash<QString, QString> values;
    for (const QString& entry : environment) {
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        if (eq > 0) values.insert(entry.left(eq), entry.mid(eq + 1));
    }
    static const QRegularExpression pattern(QStringLiteral(R"(%([A-Za-z_][A-Za-z0-9_]*)%|\$\{([A-Za-z_][A-Za-z0-9_]*)\}|\$([A-Za-z_][A-Za-z0-9_]*))"));
    QString out;
    qsizetype last = 0;
    auto it = pattern.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        QString name = m.captured(1);
        if (name.isEmpty()) name = m.captured(2);
        if (name.isEmpty()) name = m.captured(3);
        out += text.mid(last, m.capturedStart() - last);
        const auto value = values.constFind(name);
        out += value != values.constEnd() ? *value : m.captured(0);
        last = m.capturedEnd();
    }
    out += text.mid(last);
    if (out == QLatin1String("~") || out.startsWith(QLatin1String("~/"))) out = home + out.mid(1);
    return out;
}

const QStringList& InstanceLauncher::EnvironmentOf(const RunAccount& account) const
{
    // The daemon's own environment does not change while it runs, and another account's
    // differs only by whether its runtime directory is there; so it is made once per account.
    const bool runtimeDir = account.uid != ::geteuid() && QFileInfo(QStringLiteral("/run/user/%1").arg(account.uid)).isDir();
    auto it = m_environments.find(account.uid);
    if (it == m_environments.end() || it->name != account.name || it->home != account.home || it->shell != account.shell
        || it->runtimeDir != runtimeDir)
        it = m_environments.insert(account.uid, Environment{account.name, account.home, account.shell, runtimeDir, account.Environment(m_root.Path())});
    return it->environment;
}

std::optional<InstanceDescription> InstanceLauncher::Prepare(const RunnableTask& task, const QString& cause, int attempt,
                                                      const QDateTime& start, HRESULT* code, QString* error) const
{
    const auto account = RunAccount::Resolve(task.account, task.group, code, error);
    if (!account) return std::nullopt;

    InstanceDescription description;
    description.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    description.task = task.key.ToString();
    description.start = start;
    description.cause = cause;
    description.attempt = attempt;
    description.user = account->name;
    description.uid = account->uid;
    description.gid = account->gid;
    // Read here, where the system's group database is at hand: the supervisor that takes on
    // the account is a program of its own, without one.
    if (account->uid != ::geteuid() || account->gid != ::getegid()) {
        description.groups = account->Groups();
        if (!description.groups) {
            // As a supervisor that could not take on the account records it.
            if (code) *code = E_ACCESSDENIED;
            if (error) *error = QStringLiteral("Access is denied. (The groups of \"%1\" cannot be read.)").arg(account->name);
            return std::nullopt;
        }
    }
    description.environment = EnvironmentOf(*account);
    description.logFile = LogFile(task.key);
    for (const TaskAction& action : task.actions) {
        if (action.kind != TaskAction::Exec) {
            description.unsupportedAction = KindName(action.kind);
            break;
        }
        ExecStep step;
        step.program = Expand(Unquote(action.program), description.environment, account->home);
        step.arguments = QProcess::splitCommand(action.arguments);
        const QString dir = Expand(Unquote(action.workingDirectory), description.environment, account->home);
        step.workingDirectory = dir.isEmpty() ? account->home : dir;
        description.steps.append(step);
    }
    if (task.actions.isEmpty()) {
        if (code) *code = SCHED_E_TASK_NOT_READY;
        if (error) *error = ResultText(SCHED_E_TASK_NOT_READY) + QStringLiteral(" (The task has no action.)");
        return std::nullopt;
    }
    return description;
}

pid_t InstanceLauncher::StartSupervisor(const QByteArray& program, char* const argv[], int input, QString* error)
{
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The stop signals stay blocked until the supervisor has its handlers: a stop that comes
    // while it is still starting then waits for it instead of killing it without an outcome.
    sigset_t stops, all;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGUSR1);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &stops);
    posix_spawnattr_setsigdefault(&attr, &all);
    // Its own session: signals meant for the daemon's terminal or process group never reach tasks.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0) posix_spawn_file_actions_adddup2(&actions, input, 0);
    else posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.constData(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        if (error) *error = QStringLiteral("Cannot start \"%1\": %2").arg(QString::fromLocal8Bit(program), QString::fromLocal8Bit(std::strerror(rc)));
        return 0;
    }
    return pid;
}

void InstanceLauncher::KeepLauncher()
{
    if (m_launcher.pid > 0) {
        if (::waitpid(m_launcher.pid, nullptr, WNOHANG) == 0) return;   // it runs
        ::close(m_launcher.socket);
        m_launcher = {};
    }
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
    const QByteArray program = QFile::encodeName(SupervisorProgram());
    QByteArray launcher(ExecSupervisor::LauncherArgument);
    QByteArray placeholder(PlaceholderSize, '.');
    char* argv[] = {const_cast<char*>(program.constData()), launcher.data(), placeholder.data(), nullptr};
    const pid_t pid = StartSupervisor(program, argv, ends[1], nullptr);
    ::close(ends[1]);
    if (pid <= 0) {
        ::close(ends[0]);
        return;   // every start then starts a supervisor of its own, which reports the failure
    }
    m_launcher = Launcher{pid, ends[0]};
}

void InstanceLauncher::DropLauncher()
{
    if (m_launcher.pid <= 0) return;
    ::kill(m_launcher.pid, SIGKILL);
    while (::waitpid(m_launcher.pid, nullptr, 0) < 0 && errno == EINTR) {}
    ::close(m_launcher.socket);
    m_launcher = {};
}

pid_t InstanceLauncher::HandOver(const QByteArray& descriptionFile, const std::function<void()>& meanwhile)
{
    if (m_launcher.pid <= 0 || descriptionFile.size() >= PlaceholderSize) return 0;
    const int socket = m_launcher.socket;
    const QByteArray line = descriptionFile + '\n';
    QByteArray answer;
    bool failed = ::send(socket, line.constData(), size_t(line.size()), MSG_NOSIGNAL) != line.size();
    if (!failed && meanwhile) meanwhile();
    QElapsedTimer waited;
    waited.start();
    while (!failed && !answer.endsWith('\n')) {
        pollfd ready{socket, POLLIN, 0};
        const int n = ::poll(&ready, 1, int(std::max<qint64>(0, HandOverTimeoutMs - waited.elapsed())));
        if (n < 0 && errno == EINTR) continue;
        char buffer[32];
        const ssize_t got = n == 1 ? ::recv(socket, buffer, sizeof buffer, 0) : 0;
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) failed = true;
        else answer.append(buffer, got);
    }
    if (failed) {
        // It went, or it does not answer. Once our end reads no more, nothing it sends gets
        // through: a supervisor that answered before runs its instance, and its answer is read
        // here; one that did not never runs it (it runs only what the daemon heard of).
        ::shutdown(socket, SHUT_RD);
        char buffer[32];
        ssize_t got;
        while ((got = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) answer.append(buffer, got);
        DropLauncher();
    }
    if (!answer.endsWith('\n')) return 0;
    bool ok = false;
    const long pid = answer.chopped(1).toLong(&ok);
    return ok && pid > 0 ? pid_t(pid) : 0;
}

pid_t InstanceLauncher::Spawn(const InstanceDescription& description, QString* error, bool* ownChild, const std::function<void()>& meanwhile)
{
    if (ownChild) *ownChild = false;
    const QString dir = InstancesDir();
    const QString descriptionFile = InstanceFiles::DescriptionFile(dir, description.id);
    try {
        // Not flushed, so that nothing waits for the disk before the program starts. The
        // supervisor and a daemon that takes the instance over read it through the page cache;
        // after a power failure no instance runs any more, and the next daemon judges the run
        // states stale whether the file survived or not (TaskRunner::Recover).
        const QByteArray bytes = InstanceFiles::EncodeDescription(description);
        try {
            AtomicFile::WriteUnflushed(descriptionFile, bytes);
        } catch (const std::exception&) {
            // The directory is made when the first instance needs it (or again, should it have
            // gone), rather than looked for at every start.
            if (QDir(dir).exists()) throw;
            AtomicFile::MakeDirectory(dir);
            AtomicFile::WriteUnflushed(descriptionFile, bytes);
        }
    } catch (const std::exception& e) {
        if (error) *error = QString::fromUtf8(e.what());
        return 0;
    }

    const QByteArray descriptionArg = QFile::encodeName(descriptionFile);
    bool told = false;
    const auto tell = [&] {
        told = true;
        if (meanwhile) meanwhile();
    };
    if (const pid_t pid = HandOver(descriptionArg, tell)) return pid;   // recognisable once it answered
    if (!told) tell();
    if (ownChild) *ownChild = true;

    const QByteArray program = QFile::encodeName(SupervisorProgram());
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(descriptionArg.constData()), nullptr};
    const pid_t pid = StartSupervisor(program, argv, -1, error);
    if (pid <= 0) {
        QFile::remove(descriptionFile);
        return 0;
    }
    WaitUntilRecognisable(pid, program);
    return pid;
}
