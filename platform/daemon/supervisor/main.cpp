// taskschedd-exec: the supervisor of one task instance, started by taskschedd.

#include "supervisor/ExecSupervisor.h"
#include "supervisor/WritablePages.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// How long a newly forked supervisor leaves the machine to the program that was just started
// before it prepares itself for the next start.
constexpr int ReserveSettleMs = 50;

// Reads one line, without its '\n', of at most `limit` bytes. False at the end of the input,
// on an error, or for a longer line. The writer sends one line and waits for its answer, so
// nothing after the '\n' is taken from it.
bool ReadLine(int fd, size_t limit, std::string* line)
{
    line->clear();
    for (;;) {
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        line->append(buffer, size_t(n));
        if (line->back() == '\n') break;
        if (line->size() > limit) return false;
    }
    line->pop_back();
    return line->size() <= limit && line->find('\n') == std::string::npos;
}

bool SendAll(int fd, const std::string& bytes)
{
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

// Whether `fd` has something to read (or its end) within `timeoutMs`.
bool Readable(int fd, int timeoutMs)
{
    pollfd ready{fd, POLLIN, 0};
    int n;
    while ((n = ::poll(&ready, 1, timeoutMs)) < 0 && errno == EINTR) {}
    return n > 0;
}

// A supervisor forked in advance by the launcher. It waits on `channel` for the instance file
// of the next start, writes the file over the placeholder in its command line (the area of
// `size` bytes at `area`), which is how a daemon that takes over recognises the supervisor of
// an instance, tells the launcher and then the daemon (its standard input) its process id,
// and runs the instance, but only when the daemon heard of it. It closes `channel` once its
// first program has started.
int RunReserve(int channel, char* area, size_t size)
{
    // Its own session, as every supervisor: signals meant for the launcher never reach it.
    // Made while it waits, as are the copies of the pages it shares with the launcher: a new
    // session costs the scheduler a new group on many systems, and each copied page a fault,
    // which would otherwise lie between the instance's start and its program's. Not right
    // away, though: the launcher forks it as the last supervisor's program starts, which
    // this work would only slow down; and not at all when the next start is already there.
    const bool waits = !Readable(channel, ReserveSettleMs);
    ::setsid();
    if (waits) WritablePages::Prefault();
    std::string path;
    // Nothing, or nothing it could take: the launcher sees it go without a word and answers.
    if (!ReadLine(channel, size - 1, &path) || path.empty()) return 0;
    std::memset(area, 0, size);
    std::memcpy(area, path.data(), path.size());
    // From here on the launcher no longer answers for it: either the daemon hears its
    // process id, or the instance is not run.
    if (!SendAll(channel, "1") || !SendAll(STDIN_FILENO, std::to_string(::getpid()) + '\n')) return 0;
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::close(null);
    }
    // The launcher leaves its children to the system; a supervisor waits for its programs.
    ::signal(SIGCHLD, SIG_DFL);
    return ExecSupervisor(path, channel).Run();
}

// The daemon starts one launcher and hands it the instance file of each start, one line on
// its standard input (a socket); the answer is the supervisor's process id, or 0 when none
// took it, each on a line. The launcher keeps one supervisor forked and waiting, so that a
// start neither loads a program nor waits for a fork, and forks the next one as the last is
// taken. It ends when the daemon closes its end.
int RunLauncher(int argc, char* argv[])
{
    char* area = argv[1];
    const size_t size = size_t(argv[argc - 1] + std::strlen(argv[argc - 1]) - area) + 1;   // with the last NUL
    // Its supervisors are reaped by the system: the daemon watches them through process file
    // descriptors and reads how they ended from their outcome files.
    ::signal(SIGCHLD, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
    // The local time zone is read once here rather than by every supervisor for its log lines.
    ::tzset();
    for (;;) {
        int channel[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) return 1;
        const pid_t reserve = ::fork();
        if (reserve == 0) {
            ::close(channel[0]);
            return RunReserve(channel[1], area, size);
        }
        ::close(channel[1]);
        if (reserve < 0) {
            ::close(channel[0]);
            return 1;   // the daemon reads the end of its input and starts supervisors itself
        }
        pollfd ready[2] = {{STDIN_FILENO, POLLIN, 0}, {channel[0], POLLIN, 0}};
        int n;
        while ((n = ::poll(ready, 2, -1)) < 0 && errno == EINTR) {}
        if (n > 0 && ready[1].revents != 0) {
            // It went before it was needed: another takes its place, and takes what waits.
            ::close(channel[0]);
            continue;
        }
        std::string line;
        if (n < 0 || !ReadLine(STDIN_FILENO, size - 1, &line)) {
            ::close(channel[0]);   // the daemon went, or asked for what no supervisor can take
            return 0;
        }
        char taken = 0;
        const bool handed = SendAll(channel[0], line + '\n');
        while (handed && ::read(channel[0], &taken, 1) < 0 && errno == EINTR) {}
        // The next supervisor is forked once this one has started its program, so that the
        // fork does not compete with the start; or as soon as the next instance is waiting,
        // which would otherwise wait for this one's program too.
        for (ssize_t got = 1; taken == '1' && got != 0;) {
            pollfd either[2] = {{channel[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
            if (::poll(either, 2, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (either[0].revents == 0) break;   // the next line (or the daemon's end) is there
            char rest;
            got = ::read(channel[0], &rest, 1);
            if (got < 0 && errno != EINTR) break;
        }
        ::close(channel[0]);
        // Gone without having taken it: the daemon starts a supervisor of its own.
        if (taken != '1' && !SendAll(STDIN_FILENO, "0\n")) return 0;
    }
}

int Main(int argc, char* argv[])
{
    if (argc == 3 && std::strcmp(argv[1], ExecSupervisor::LauncherArgument) == 0) return RunLauncher(argc, argv);
    if (argc != 2 || std::strncmp(argv[1], "-", 1) == 0) {
        std::fputs("Usage: taskschedd-exec INSTANCE-FILE\n"
                   "Runs one task instance for taskschedd, which starts it; not meant to be run by hand.\n",
                   stderr);
        return 2;
    }
    return ExecSupervisor(argv[1]).Run();
}

} // namespace

int main(int argc, char* argv[])
{
    // Ended without the exit handlers: this program buffers nothing (it writes to the
    // unbuffered standard error alone), and in a supervisor forked by the launcher the
    // handlers would only write to pages it shares with the launcher, each copied first.
    ::_exit(Main(argc, argv));
}
