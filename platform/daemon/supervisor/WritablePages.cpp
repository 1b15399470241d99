#include "supervisor/WritablePages.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t MaxMappingPages = 65536;   // 256 MiB of 4 KiB pages

bool ReadWhole(const char* path, std::string* text)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            return n == 0;
        }
        text->append(buffer, size_t(n));
    }
}

// Copies the pages [begin, begin + pages * size) for this process, in one call where the
// kernel can, else by rewriting a byte of each with its own value.
void Populate(char* begin, size_t pages, size_t size)
{
#ifdef MADV_POPULATE_WRITE
    if (::madvise(begin, pages * size, MADV_POPULATE_WRITE) == 0) return;
#endif
    for (size_t i = 0; i < pages; ++i) __atomic_fetch_add(begin + i * size, char(0), __ATOMIC_RELAXED);
}

} // namespace

int WritablePages::Prefault()
{
    std::string maps;
    if (!ReadWhole("/proc/self/maps", &maps)) return -1;
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> resident;
    int count = 0;
    for (size_t at = 0; at < maps.size();) {
        size_t end = maps.find('\n', at);
        if (end == std::string::npos) end = maps.size();
        const std::string line = maps.substr(at, end - at);
        at = end + 1;
        uintptr_t first = 0, last = 0;
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%" SCNxPTR "-%" SCNxPTR " %4s", &first, &last, perms) != 3) continue;
        // Private and writable: what a write would copy. Shared mappings are never copied.
        if (perms[0] != 'r' || perms[1] != 'w' || perms[3] != 'p' || last <= first) continue;
        const size_t pages = (last - first) / page;
        // A supervisor's own mappings are a few megabytes. Larger ones are reservations that
        // are mostly never touched (a sanitizer's shadow memory spans terabytes), which a
        // residency map of one byte a page could not even be made for.
        if (pages > MaxMappingPages) continue;
        resident.assign(pages, 0);
        if (::mincore(reinterpret_cast<void*>(first), pages * page, resident.data()) != 0) continue;
        // Only what is in memory: a page never touched would be a new one, not a copy.
        for (size_t i = 0; i < pages;) {
            if (!(resident[i] & 1)) {
                ++i;
                continue;
            }
            size_t j = i;
            while (j < pages && (resident[j] & 1)) ++j;
            Populate(reinterpret_cast<char*>(first + i * page), j - i, page);
            count += int(j - i);
            i = j;
        }
    }
    return count;
}
