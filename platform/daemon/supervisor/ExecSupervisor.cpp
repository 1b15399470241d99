#include "supervisor/ExecSupervisor.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
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
    int32_t stage;
    int32_t error;
};

// The stages of a failed start, as the daemon reads them (InstanceOutcome::StartStage).
enum : int32_t { AccountStage = 1, DirectoryStage = 2, ProgramStage = 3, DescriptionStage = 4 };

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

int64_t Nanoseconds(const timespec& t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

int64_t WallClockNs()
{
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return Nanoseconds(now);
}

// The moment on the wall clock, in milliseconds, at which the first program starts: its
// instance's `notBeforeMs`, but no later than MaxStartWaitMs from now; -1 when that moment
// has come already (or there is none).
int64_t StartMoment(int64_t notBeforeMs)
{
    if (notBeforeMs < 0) return -1;
    const int64_t nowNs = WallClockNs();
    // Compared in milliseconds first, so that a time far off does not overflow.
    if (notBeforeMs > nowNs / 1000000 + ExecSupervisor::MaxStartWaitMs) return nowNs / 1000000 + ExecSupervisor::MaxStartWaitMs;
    return notBeforeMs * 1000000 > nowNs ? notBeforeMs : -1;
}

// Waits `ns` on the monotonic clock, which a wall clock that is set does not move, or until a
// stop request. The caller blocks the stop signals; `waitMask` lets them through during the
// wait alone, so that a stop just before it ends the wait instead of being seen only after it.
void Wait(int64_t ns, const sigset_t& waitMask)
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const int64_t deadline = Nanoseconds(now) + ns;
    while (!g_stop) {
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const int64_t left = deadline - Nanoseconds(now);
        if (left <= 0) return;
        const timespec timeout{time_t(left / 1000000000), long(left % 1000000000)};
        ::ppoll(nullptr, 0, &timeout, &waitMask);
    }
}

std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FileNameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, const std::string& bytes)
{
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        p += n;
        left -= size_t(n);
    }
    return true;
}

bool SyncDirectory(const std::string& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Creates `path` and its missing parents, owner-only, each made durable in its parent.
bool MakePath(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) || (errno = ENOTDIR, false);
    const std::string parent = DirectoryOf(path);
    if (parent != path && !MakePath(parent)) return false;
    if (::mkdir(path.c_str(), 0700) != 0) return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    // mkdir's mode passes through the umask, which may take the owner's own rights away.
    return ::chmod(path.c_str(), 0700) == 0 && SyncDirectory(parent);
}

// Replaces `path` with `bytes` so that a reader sees either the old file or the new one,
// never half of one. Not flushed to disk: the daemon reads the outcome once this process has
// ended, through the page cache, and only then records the run durably. A power failure
// before that may leave the outcome missing or unreadable; the run is then recorded as lost,
// as it would have been had the power failed a moment earlier, and nobody had been told of
// its end yet.
bool WriteFileWhole(const std::string& path, const std::string& bytes, std::string* error)
{
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = "\"" + path + "\" could not be written: " + std::strerror(errno);
        return false;
    }
    bool ok = ::fchmod(fd, 0600) == 0 && WriteAll(fd, bytes);
    int err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) ok = false, err = errno;
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) ok = false, err = errno;
    if (!ok) {
        ::unlink(temporary.c_str());
        *error = "\"" + path + "\" could not be written: " + std::strerror(err);
        return false;
    }
    return true;
}

// Everything the child needs, prepared before fork so that the child only makes system calls.
struct ChildPlan {
    std::vector<std::string> storage;
    std::vector<char*> argv;
    std::vector<char*> envp;
    std::vector<std::string> candidates;   // the program's possible paths, in search order
    std::optional<std::vector<gid_t>> groups;
    std::string directory;
    uid_t uid;
    gid_t gid;
    bool switchUser;
};

ChildPlan Plan(const InstanceRecord& description, const RecordStep& step)
{
    ChildPlan plan;
    plan.storage.reserve(step.arguments.size() + description.environment.size() + 1);
    plan.storage.push_back(step.program);
    for (const std::string& a : step.arguments) plan.storage.push_back(a);
    const size_t argc = plan.storage.size();
    for (const std::string& e : description.environment) plan.storage.push_back(e);
    for (size_t i = 0; i < plan.storage.size(); ++i) {
        (i < argc ? plan.argv : plan.envp).push_back(plan.storage[i].data());
    }
    plan.argv.push_back(nullptr);
    plan.envp.push_back(nullptr);

    // A name without a slash is looked up on the PATH of the programs' own environment.
    if (step.program.find('/') != std::string::npos) {
        plan.candidates.push_back(step.program);
    } else {
        std::string path = "/usr/local/bin:/usr/bin:/bin";
        for (const std::string& e : description.environment) {
            if (e.compare(0, 5, "PATH=") == 0) path = e.substr(5);
        }
        size_t begin = 0;
        for (;;) {
            const size_t colon = path.find(':', begin);
            const std::string dir = path.substr(begin, colon == std::string::npos ? std::string::npos : colon - begin);
            plan.candidates.push_back((dir.empty() ? std::string(".") : dir) + '/' + step.program);
            if (colon == std::string::npos) break;
            begin = colon + 1;
        }
    }
    plan.groups = description.groups;
    plan.directory = step.workingDirectory;
    plan.uid = description.uid;
    plan.gid = description.gid;
    plan.switchUser = description.uid != ::geteuid() || description.gid != ::getegid();
    return plan;
}

[[noreturn]] void ChildFail(int reportFd, int32_t stage)
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
        // The daemon reads the account's groups; without them the programs would run with
        // whatever groups this process has, which are not the account's.
        if (!plan.groups) {
            errno = EINVAL;
            ChildFail(reportFd, AccountStage);
        }
        if (::setgroups(plan.groups->size(), plan.groups->data()) != 0 || ::setgid(plan.gid) != 0 || ::setuid(plan.uid) != 0)
            ChildFail(reportFd, AccountStage);
    }
    if (!plan.directory.empty() && ::chdir(plan.directory.c_str()) != 0) ChildFail(reportFd, DirectoryStage);

    int error = ENOENT;
    for (const std::string& candidate : plan.candidates) {
        ::execve(candidate.c_str(), plan.argv.data(), plan.envp.data());
        // Keep looking past directories that do not hold it; remember a program that exists
        // but may not be run, as the shells do.
        if (errno == EACCES) error = EACCES;
        else if (errno != ENOENT && errno != ENOTDIR) { error = errno; break; }
    }
    errno = error;
    ChildFail(reportFd, ProgramStage);
}

struct SharedChild {
    const ChildPlan* plan;
    int logFd;
    int reportFd;
};

int RunSharedChild(void* argument)
{
    const auto* child = static_cast<const SharedChild*>(argument);
    RunChild(*child->plan, child->logFd, child->reportFd);
}

// Starts the child in this process's memory, as vfork does, and returns once it has run its
// program or failed: no page tables are copied and no page is copied on write afterwards,
// which is most of what a fork costs before every program. The child only makes system calls
// and never returns, so sharing the memory is safe. One that switches accounts is forked
// instead: it takes on another account before the exec, and a process of another account
// does not share the supervisor's memory even for that moment.
pid_t StartSharingMemory(const ChildPlan& plan, int logFd, int reportFd)
{
    // In zero-filled memory that is only mapped as far as the child reaches into it.
    alignas(64) static char stack[256 * 1024];
    SharedChild child{&plan, logFd, reportFd};
    return ::clone(RunSharedChild, stack + sizeof stack, CLONE_VM | CLONE_VFORK | SIGCHLD, &child);
}

int OpenLog(const std::string& logFile)
{
    // The log that is there already, as at nearly every start: opened first, so that neither
    // its directory nor its size is looked up by name.
    int fd = ::open(logFile.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || st.st_size <= ExecSupervisor::LogRotateBytes) return fd;
        ::close(fd);
        ::rename(logFile.c_str(), (logFile + ".1").c_str());
    } else if (errno != ENOENT) {
        return fd;
    } else if (!MakePath(DirectoryOf(logFile))) {
        std::fprintf(stderr, "taskschedd-exec: Cannot create \"%s\": %s\n", DirectoryOf(logFile).c_str(), std::strerror(errno));
    }
    // A new log: its mode is the service's, not what the umask leaves of it.
    const int created = ::open(logFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (created >= 0) ::fchmod(created, 0600);
    else if (errno == EEXIST) return ::open(logFile.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    return created;
}

// The local time of `ms` as "2024-03-05T07:30:15.250".
std::string LocalTimestamp(int64_t ms)
{
    const time_t seconds = time_t(ms / 1000);
    struct tm local {};
    ::localtime_r(&seconds, &local);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", int(ms % 1000));
    return text;
}

// A line of the log stamped with the time `ms`, or now.
void LogLine(int fd, const std::string& text, int64_t ms = -1)
{
    if (fd < 0) return;
    const std::string line = "--- " + LocalTimestamp(ms < 0 ? NowMs() : ms) + ' ' + text + " ---\n";
    [[maybe_unused]] const ssize_t n = ::write(fd, line.data(), line.size());
}

bool ReadFile(const std::string& path, std::string* bytes, std::string* error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        bytes->append(buffer, size_t(n));
    }
    ::close(fd);
    return true;
}

} // namespace

ExecSupervisor::ExecSupervisor(std::string descriptionFile, int startedFd)
    : m_descriptionFile(std::move(descriptionFile)), m_startedFd(startedFd)
{
    const std::string name = FileNameOf(m_descriptionFile);
    const std::string suffix = ".instance";
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        m_outcomeFile = DirectoryOf(m_descriptionFile) + '/' + name.substr(0, name.size() - suffix.size()) + ".outcome";
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

    OutcomeRecord outcome;
    std::string bytes, error;
    std::optional<InstanceRecord> description;
    if (ReadFile(m_descriptionFile, &bytes, &error)) description = InstanceRecord::Decode(bytes, &error);
    if (!description || m_outcomeFile.empty()) {
        std::fprintf(stderr, "taskschedd-exec: %s: %s\n", m_descriptionFile.c_str(), error.c_str());
        outcome.startStage = DescriptionStage;
        outcome.startErrno = EINVAL;
        outcome.failedStep = 0;
        outcome.endMs = NowMs();
        return m_outcomeFile.empty() ? 1 : WriteOutcome(outcome) ? 0 : 1;
    }

    const int logFd = OpenLog(description->logFile);
    if (logFd < 0)
        std::fprintf(stderr, "taskschedd-exec: cannot open the log \"%s\": %s\n", description->logFile.c_str(), std::strerror(errno));
    // Written before a wait for the start's time, with that time: nothing is written between
    // the wait and the program.
    const int64_t startMs = StartMoment(description->notBeforeMs);
    LogLine(logFd, description->task + ": start (" + description->cause + ", instance " + description->id + ")", startMs);
    for (size_t i = 0; i < description->steps.size() && !g_stop; ++i) {
        RunStep(*description, int(i), logFd, &outcome, i == 0 ? startMs : -1);
        if (outcome.failedStep >= 0) break;
    }
    Started();   // when none did
    outcome.stopRequested = g_stop != 0;
    outcome.endMs = NowMs();
    if (outcome.failedStep >= 0) {
        LogLine(logFd, description->task + ": could not start \"" + description->steps[size_t(outcome.failedStep)].program +
                           "\": " + std::strerror(outcome.startErrno));
    } else if (outcome.stepsRun == 0 && outcome.stopRequested) {
        LogLine(logFd, description->task + ": stopped before its program started");
    } else if (outcome.signal) {
        LogLine(logFd, description->task + ": ended by signal " + std::to_string(outcome.signal));
    } else {
        LogLine(logFd, description->task + ": exit code " + std::to_string(outcome.exitCode));
    }
    if (logFd >= 0) ::close(logFd);
    return WriteOutcome(outcome) ? 0 : 1;
}

void ExecSupervisor::RunStep(const InstanceRecord& description, int index, int logFd, OutcomeRecord* outcome, int64_t startMs)
{
    const ChildPlan plan = Plan(description, description.steps[size_t(index)]);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        outcome->failedStep = index;
        outcome->startStage = ProgramStage;
        outcome->startErrno = errno;
        return;
    }
    // Stop signals wait until the child's id is known, so that none is lost between fork and
    // the moment the handler can reach the child.
    const sigset_t stops = StopSignals();
    sigset_t previous;
    ::sigprocmask(SIG_BLOCK, &stops, &previous);
    // A start handed over ahead of its time waits here, with everything prepared, so that the
    // program follows the moment at once. The launcher may fork its next supervisor meanwhile.
    if (const int64_t waitNs = g_stop || startMs < 0 ? 0 : startMs * 1000000 - WallClockNs(); waitNs > 0) {
        Started();
        Wait(waitNs, previous);
    }
    // A stop that came after the caller looked, but before the block, found no child to end:
    // the step must then not start at all, or the program would run as if nobody had asked.
    // So must a stop during the wait.
    if (g_stop) {
        ::sigprocmask(SIG_SETMASK, &previous, nullptr);
        ::close(report[0]);
        ::close(report[1]);
        return;
    }
    const pid_t child = plan.switchUser ? ::fork() : StartSharingMemory(plan, logFd, report[1]);
    if (child == 0) {
        ::close(report[0]);
        RunChild(plan, logFd, report[1]);
    }
    const int forkErrno = errno;
    if (child > 0) {
        // Also here, so that the group exists before any signal is sent; a child that shared
        // our memory has made its group before we went on.
        if (plan.switchUser) ::setpgid(child, child);
        g_child = child;
    }
    Started();
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    ::close(report[1]);
    if (child < 0) {
        ::close(report[0]);
        outcome->failedStep = index;
        outcome->startStage = ProgramStage;
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

void ExecSupervisor::Started()
{
    if (m_startedFd < 0) return;
    ::close(m_startedFd);
    m_startedFd = -1;
}

bool ExecSupervisor::WriteOutcome(const OutcomeRecord& outcome)
{
    std::string error;
    if (WriteFileWhole(m_outcomeFile, outcome.Encode(), &error)) return true;
    std::fprintf(stderr, "taskschedd-exec: %s\n", error.c_str());
    return false;
}
