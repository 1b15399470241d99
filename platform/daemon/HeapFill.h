#pragma once
// The daemon's heap while it reads its store.

#include <cstddef>

/// Has the system fill the pages the heap grows by a range at a time. The heap of a daemon
/// that reads thousands of tasks grows by megabytes, and each page of it is otherwise filled
/// at its first touch, by a fault; in a virtual machine whose memory management is
/// paravirtualised a fault costs several times what filling the same page as part of a range
/// does (with 10,000 tasks, 1,900 faults were a tenth of the start-up). Only memory the
/// allocator has already taken from the system is filled, and the allocator's own settings
/// are left as they are, so the daemon holds no more memory than it would anyway.
class HeapFill {
public:
    HeapFill();
    /// Fills what the heap has grown by since the last call; costs nothing when it has not
    /// grown. Called after each piece of work that allocates.
    void Follow();

private:
    char* m_filled = nullptr;   ///< the end of the heap when it was last filled
    bool m_works = false;
};
