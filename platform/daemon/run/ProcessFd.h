#pragma once
// A file descriptor that refers to a process: it becomes readable when the process ends,
// whoever the process's parent is, and it keeps meaning that process even if its id is
// reused afterwards.

#include <sys/types.h>

/// Opens a process descriptor for `pid` (close-on-exec); -1 with errno set on failure
/// (ESRCH: no such process).
int OpenProcessFd(pid_t pid);
/// Whether the process of descriptor `fd` has ended, waiting at most `timeoutMs` (0: just look).
bool ProcessFdEnded(int fd, int timeoutMs);
/// Whether process `pid` has ended (it is gone, or a zombie nobody has reaped yet), waiting at
/// most `timeoutMs` (0: just look).
bool ProcessEnded(pid_t pid, int timeoutMs);
