#include "HeapFill.h"

#include <cerrno>
#include <cstdint>
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
char* HeapEnd()
{
    // Reads the end the allocator last set; no call into the system.
    void* const end = ::sbrk(0);
    return end == reinterpret_cast<void*>(-1) ? nullptr : static_cast<char*>(end);
}
#endif

} // namespace

HeapFill::HeapFill()
{
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    m_filled = HeapEnd();
    m_works = m_filled != nullptr;
#endif
}

void HeapFill::Follow()
{
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    if (!m_works) return;
    char* const end = HeapEnd();
    if (!end) return;
    if (end > m_filled) {
        // From the page holding the old end (in use already, so filled) to the new end: the
        // system maps the heap in whole pages.
        static const std::uintptr_t page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
        char* const from = reinterpret_cast<char*>(reinterpret_cast<std::uintptr_t>(m_filled) & ~(page - 1));
        // A system without it (before Linux 5.14) says so once; the pages are then filled
        // by their faults as ever.
        if (::madvise(from, std::size_t(end - from), MADV_POPULATE_WRITE) != 0 && errno == EINVAL) m_works = false;
    }
    // A heap that shrank is filled again from its new end when it grows.
    m_filled = end;
#endif
}
