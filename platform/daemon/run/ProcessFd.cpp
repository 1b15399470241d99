#include "run/ProcessFd.h"

#include <cerrno>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

int OpenProcessFd(pid_t pid)
{
    // The C library's own wrapper is declared without C linkage in this release, so the
    // system call is made directly.
    return int(::syscall(SYS_pidfd_open, pid, 0));
}

bool ProcessFdEnded(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

bool ProcessEnded(pid_t pid, int timeoutMs)
{
    // A process descriptor becomes readable when the process ends, whoever its parent is and
    // whether or not anybody reaps it.
    const int fd = OpenProcessFd(pid);
    if (fd < 0) return errno == ESRCH;
    const bool ended = ProcessFdEnded(fd, timeoutMs);
    ::close(fd);
    return ended;
}
