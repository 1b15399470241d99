// taskschedd-exec: the supervisor of one task instance, started by taskschedd.

#include "supervisor/ExecSupervisor.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The daemon keeps one supervisor started in reserve, waiting on its standard input (a
// socket) for the instance file of the next start, so that a start does not wait for a
// program to be loaded. The instance file then takes the place of the placeholder argument
// in the command line, which is how a daemon that takes over recognises the supervisor of an
// instance; only then is the daemon told, and an instance is run only when the daemon heard.
int RunInReserve(int argc, char* argv[])
{
    char* area = argv[1];
    const size_t size = size_t(argv[argc - 1] + std::strlen(argv[argc - 1]) - area);   // the last NUL stays
    std::string path;
    for (;;) {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;   // the daemon went before it needed us
        path.append(buffer, size_t(n));
        if (!path.empty() && path.back() == '\n') break;
        if (path.size() > size) return 2;
    }
    path.pop_back();
    if (path.empty() || path.size() >= size || path.find('\n') != std::string::npos) return 2;
    std::memset(area, 0, size);
    std::memcpy(area, path.data(), path.size());
    if (::send(STDIN_FILENO, "1", 1, MSG_NOSIGNAL) != 1) return 0;   // the daemon is gone: it never heard of this run
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::close(null);
    }
    return ExecSupervisor(path).Run();
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 3 && std::strcmp(argv[1], ExecSupervisor::ReserveArgument) == 0) return RunInReserve(argc, argv);
    if (argc != 2 || std::strncmp(argv[1], "-", 1) == 0) {
        std::fputs("Usage: taskschedd-exec INSTANCE-FILE\n"
                   "Runs one task instance for taskschedd, which starts it; not meant to be run by hand.\n",
                   stderr);
        return 2;
    }
    return ExecSupervisor(argv[1]).Run();
}
