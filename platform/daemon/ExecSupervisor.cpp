#include "ExecSupervisor.h"

#include "AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_child = 0;   // process group of the running program, 0 between programs

void OnStop(int)
{
    g_stop = 1;
    if (g_child > 0) ::kill(-pid_t(g_child), SIGTERM);
}

void OnKill(int)
{
    g_stop = 1;
    if (g_child > 0) ::kill(-pid_t(g_child), SIGKILL);
}

void Install(int signal, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
}

sigset_t StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    return set;
}

struct StartFailure {
    qint32 stage;
    qint32 error;
};

// Everything the child needs, prepared before fork so that the child only makes system calls.
struct ChildPlan {
    std::vector<QByteArray> storage;
    std::vector<char*> argv;
    std::vector<char*> envp;
    std::vector<QByteArray> candidates;   // the program's possible paths, in search order
    QByteArray user;
    QByteArray directory;
    uid_t uid;
    gid_t gid;
    bool switchUser;
};

ChildPlan Plan(const InstanceDescription& description, const ExecStep& step)
{
    ChildPlan plan;
    plan.storage.reserve(size_t(step.arguments.size() + description.environment.size() + 1));
    plan.storage.push_back(QFile::encodeName(step.program));
    for (const QString& a : step.arguments) plan.storage.push_back(a.toLocal8Bit());
    const size_t argc = plan.storage.size();
    for (const QString& e : description.environment) plan.storage.push_back(e.toLocal8Bit());
    for (size_t i = 0; i < plan.storage.size(); ++i) {
        (i < argc ? plan.argv : plan.envp).push_back(plan.storage[i].data());
    }
    plan.argv.push_back(nullptr);
    plan.envp.push_back(nullptr);

    // A name without a slash is looked up on the PATH of the programs' own environment.
    if (step.program.contains(QLatin1Char('/'))) {
        plan.candidates.push_back(QFile::encodeName(step.program));
    } else {
        QString path = QStringLiteral("/usr/local/bin:/usr/bin:/bin");
        for (const QString& e : description.environment) {
            if (e.startsWith(QLatin1String("PATH="))) path = e.mid(5);
        }
        for (const QString& dir : path.split(QLatin1Char(':'))) {
            const QString base = dir.isEmpty() ? QStringLiteral(".") : dir;
            plan.candidates.push_back(QFile::encodeName(base + QLatin1Char('/') + step.program));
        }
    }
    plan.user = description.user.toLocal8Bit();
    plan.directory = QFile::encodeName(step.workingDirectory);
    plan.uid = description.uid;
    plan.gid = description.gid;
    plan.switchUser = description.uid != ::geteuid() || description.gid != ::getegid();
    return plan;
}

[[noreturn]] void ChildFail(int reportFd, qint32 stage)
{
    const StartFailure failure{stage, errno};
    [[maybe_unused]] const ssize_t n = ::write(reportFd, &failure, sizeof(failure));
    ::_exit(127);
}

[[noreturn]] void RunChild(const ChildPlan& plan, int logFd, int reportFd)
{
    for (int s : {SIGTERM, SIGUSR1, SIGINT, SIGHUP, SIGPIPE, SIGCHLD, SIGQUIT}) ::signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::setpgid(0, 0);

    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null >= 0) ::dup2(null, STDIN_FILENO);
    if (logFd >= 0) {
        ::dup2(logFd, STDOUT_FILENO);
        ::dup2(logFd, STDERR_FILENO);
    }
    // The program gets its standard streams and nothing else, whatever this process was
    // handed: a descriptor it inherited could keep a pipe or a lock of somebody else alive.
    // Close-on-exec rather than closed, so that the report pipe still works until the exec.
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        const long max = ::sysconf(_SC_OPEN_MAX);
        for (int fd = 3; fd < (max > 0 ? max : 1024); ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }

    if (plan.switchUser) {
        if (::initgroups(plan.user.constData(), plan.gid) != 0 || ::setgid(plan.gid) != 0 || ::setuid(plan.uid) != 0)
            ChildFail(reportFd, InstanceOutcome::AccountStage);
    }
    if (!plan.directory.isEmpty() && ::chdir(plan.directory.constData()) != 0) ChildFail(reportFd, InstanceOutcome::DirectoryStage);

    int error = ENOENT;
    for (const QByteArray& candidate : plan.candidates) {
        ::execve(candidate.constData(), plan.argv.data(), plan.envp.data());
        // Keep looking past directories that do not hold it; remember a program that exists
        // but may not be run, as the shells do.
        if (errno == EACCES) error = EACCES;
        else if (errno != ENOENT && errno != ENOTDIR) { error = errno; break; }
    }
    errno = error;
    ChildFail(reportFd, InstanceOutcome::ProgramStage);
}

int OpenLog(const QString& logFile)
{
    try {
        AtomicFile::MakePath(QFileInfo(logFile).absolutePath());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "taskschedd-exec: %s\n", e.what());
    }
    if (QFileInfo(logFile).size() > ExecSupervisor::LogRotateBytes) {
        const QString old = logFile + QStringLiteral(".1");
        ::rename(QFile::encodeName(logFile).constData(), QFile::encodeName(old).constData());
    }
    const QByteArray name = QFile::encodeName(logFile);
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0 || errno != ENOENT) return fd;
    // A new log: its mode is the service's, not what the umask leaves of it.
    const int created = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (created >= 0) ::fchmod(created, 0600);
    else if (errno == EEXIST) return ::open(name.constData(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    return created;
}

void LogLine(int fd, const QString& text)
{
    if (fd < 0) return;
    const QByteArray line = (QStringLiteral("--- ") + QDateTime::currentDateTime().toString(Qt::ISODateWithMs)
                             + QLatin1Char(' ') + text + QStringLiteral(" ---\n")).toUtf8();
    [[maybe_unused]] const ssize_t n = ::write(fd, line.constData(), size_t(line.size()));
}

} // namespace

ExecSupervisor::ExecSupervisor(QString descriptionFile) : m_descriptionFile(std::move(descriptionFile))
{
    const QFileInfo info(m_descriptionFile);
    m_outcomeFile = InstanceFiles::OutcomeFile(info.absolutePath(), InstanceFiles::IdOfDescriptionFile(info.fileName()));
}

int ExecSupervisor::Run()
{
    Install(SIGTERM, OnStop);
    Install(SIGUSR1, OnKill);
    ::signal(SIGINT, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
    // The daemon starts us with the stop signals blocked; one that came meanwhile arrives now.
    const sigset_t stops = StopSignals();
    ::sigprocmask(SIG_UNBLOCK, &stops, nullptr);

    InstanceOutcome outcome;
    QFile file(m_descriptionFile);
    QString error;
    std::optional<InstanceDescription> description;
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
    } else {
        description = InstanceFiles::DecodeDescription(file.readAll(), &error);
    }
    if (!description || InstanceFiles::IdOfDescriptionFile(QFileInfo(m_descriptionFile).fileName()).isEmpty()) {
        std::fprintf(stderr, "taskschedd-exec: %s: %s\n", qPrintable(m_descriptionFile), qPrintable(error));
        outcome.startStage = InstanceOutcome::DescriptionStage;
        outcome.startErrno = EINVAL;
        outcome.failedStep = 0;
        outcome.end = QDateTime::currentDateTime();
        return WriteOutcome(outcome) ? 0 : 1;
    }

    const int logFd = OpenLog(description->logFile);
    if (logFd < 0) std::fprintf(stderr, "taskschedd-exec: cannot open the log \"%s\": %s\n", qPrintable(description->logFile), std::strerror(errno));
    LogLine(logFd, QStringLiteral("%1: start (%2, instance %3)").arg(description->task, description->cause, description->id));
    for (int i = 0; i < description->steps.size() && !g_stop; ++i) {
        RunStep(*description, i, logFd, &outcome);
        if (outcome.failedStep >= 0) break;
    }
    outcome.stopRequested = g_stop != 0;
    outcome.end = QDateTime::currentDateTime();
    if (outcome.failedStep >= 0) {
        LogLine(logFd, QStringLiteral("%1: could not start \"%2\": %3")
                           .arg(description->task, description->steps[outcome.failedStep].program, QString::fromLocal8Bit(std::strerror(outcome.startErrno))));
    } else if (outcome.signal) {
        LogLine(logFd, QStringLiteral("%1: ended by signal %2").arg(description->task).arg(outcome.signal));
    } else {
        LogLine(logFd, QStringLiteral("%1: exit code %2").arg(description->task).arg(outcome.exitCode));
    }
    if (logFd >= 0) ::close(logFd);
    return WriteOutcome(outcome) ? 0 : 1;
}

void ExecSupervisor::RunStep(const InstanceDescription& description, int index, int logFd, InstanceOutcome* outcome)
{
    const ChildPlan plan = Plan(description, description.steps[index]);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        outcome->failedStep = index;
        outcome->startStage = InstanceOutcome::ProgramStage;
        outcome->startErrno = errno;
        return;
    }
    // Stop signals wait until the child's id is known, so that none is lost between fork and
    // the moment the handler can reach the child.
    const sigset_t stops = StopSignals();
    sigset_t previous;
    ::sigprocmask(SIG_BLOCK, &stops, &previous);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        RunChild(plan, logFd, report[1]);
    }
    const int forkErrno = errno;
    if (child > 0) {
        ::setpgid(child, child);   // also here, so that the group exists before any signal is sent
        g_child = child;
    }
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    ::close(report[1]);
    if (child < 0) {
        ::close(report[0]);
        outcome->failedStep = index;
        outcome->startStage = InstanceOutcome::ProgramStage;
        outcome->startErrno = forkErrno;
        return;
    }

    StartFailure failure{0, 0};
    ssize_t n;
    do {
        n = ::read(report[0], &failure, sizeof(failure));
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);

    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    g_child = 0;

    if (n == ssize_t(sizeof(failure))) {
        outcome->failedStep = index;
        outcome->startStage = failure.stage;
        outcome->startErrno = failure.error;
        return;
    }
    ++outcome->stepsRun;
    if (WIFEXITED(status)) {
        outcome->exitCode = WEXITSTATUS(status);
        outcome->signal = 0;
    } else if (WIFSIGNALED(status)) {
        outcome->signal = WTERMSIG(status);
        outcome->exitCode = 128 + outcome->signal;
    }
}

bool ExecSupervisor::WriteOutcome(const InstanceOutcome& outcome)
{
    try {
        AtomicFile::Write(m_outcomeFile, InstanceFiles::EncodeOutcome(outcome));
        return true;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "taskschedd-exec: %s\n", e.what());
        return false;
    }
}
