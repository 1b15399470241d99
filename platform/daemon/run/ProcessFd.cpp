#include "run/ProcessFd.h"

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
