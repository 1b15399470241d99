#include "FileBatch.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#if defined(__linux__) && __has_include(<linux/io_uring.h>)
#include <linux/io_uring.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#define TS_HAVE_IO_URING 1
#endif

namespace {

std::atomic<bool> g_enabled{true};

constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
// A larger file is read by itself: a batch then never holds more than a few megabytes.
constexpr qsizetype kBatchFileBytes = 64 * 1024;

// Reads up to `length` bytes of `fd` from its start into `bytes`; shortens them to what the
// file held when it ends sooner.
int ReadWhole(int fd, QByteArray* bytes)
{
    qsizetype done = 0;
    while (done < bytes->size()) {
        const ssize_t n = ::read(fd, bytes->data() + done, size_t(bytes->size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;
        done += n;
    }
    if (done < bytes->size()) bytes->resize(done);
    return 0;
}

bool WantsBytes(const FileReading& reading, qsizetype maxBytes)
{
    return reading.statted && S_ISREG(reading.facts.st_mode) && reading.facts.st_size <= maxBytes;
}

} // namespace

FileReading ReadFileAlone(int dir, const char* name, int openFlags, qsizetype maxBytes)
{
    FileReading reading;
    const int fd = ::openat(dir, name, kOpenFlags | openFlags);
    if (fd < 0) {
        reading.openError = errno;
        return reading;
    }
    reading.statted = ::fstat(fd, &reading.facts) == 0;
    if (WantsBytes(reading, maxBytes)) {
        reading.bytes.resize(qsizetype(reading.facts.st_size));
        reading.readError = ReadWhole(fd, &reading.bytes);
    }
    ::close(fd);
    return reading;
}

void FileBatch::SetEnabled(bool enabled) { g_enabled = enabled; }

#if defined(TS_HAVE_IO_URING)

struct FileBatch::Ring {
    int fd = -1;
    void* rings = MAP_FAILED;
    size_t ringsSize = 0;
    io_uring_sqe* sqes = static_cast<io_uring_sqe*>(MAP_FAILED);
    size_t sqesSize = 0;
    unsigned* sqHead = nullptr;
    unsigned* sqTail = nullptr;
    unsigned sqMask = 0;
    unsigned* sqArray = nullptr;
    unsigned* cqHead = nullptr;
    unsigned* cqTail = nullptr;
    unsigned cqMask = 0;
    io_uring_cqe* cqes = nullptr;
    unsigned tail = 0;          ///< entries made, handed to the system or not

    ~Ring()
    {
        if (sqes != MAP_FAILED) ::munmap(sqes, sqesSize);
        if (rings != MAP_FAILED) ::munmap(rings, ringsSize);
        if (fd >= 0) ::close(fd);
    }

    bool Open()
    {
        io_uring_params params {};
        // One thread hands in the work and collects it, and only when it waits for it: the
        // system then does the least on the side.
        params.flags = IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_DEFER_TASKRUN;
        fd = int(::syscall(__NR_io_uring_setup, unsigned(3 * Capacity), &params));
        if (fd < 0 && errno == EINVAL) {
            params = io_uring_params{};
            fd = int(::syscall(__NR_io_uring_setup, unsigned(3 * Capacity), &params));
        }
        if (fd < 0) return false;
        // Both rings in one mapping (Linux 5.4), and opening, examining, reading and closing
        // as operations (5.6, which also brought this feature).
        if (!(params.features & IORING_FEAT_SINGLE_MMAP) || !(params.features & IORING_FEAT_RW_CUR_POS)) return false;
        ringsSize = std::max(size_t(params.sq_off.array) + params.sq_entries * sizeof(unsigned),
                             size_t(params.cq_off.cqes) + params.cq_entries * sizeof(io_uring_cqe));
        rings = ::mmap(nullptr, ringsSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, IORING_OFF_SQ_RING);
        if (rings == MAP_FAILED) return false;
        sqesSize = params.sq_entries * sizeof(io_uring_sqe);
        sqes = static_cast<io_uring_sqe*>(::mmap(nullptr, sqesSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, IORING_OFF_SQES));
        if (sqes == MAP_FAILED) return false;
        char* const base = static_cast<char*>(rings);
        sqHead = reinterpret_cast<unsigned*>(base + params.sq_off.head);
        sqTail = reinterpret_cast<unsigned*>(base + params.sq_off.tail);
        sqMask = *reinterpret_cast<unsigned*>(base + params.sq_off.ring_mask);
        sqArray = reinterpret_cast<unsigned*>(base + params.sq_off.array);
        cqHead = reinterpret_cast<unsigned*>(base + params.cq_off.head);
        cqTail = reinterpret_cast<unsigned*>(base + params.cq_off.tail);
        cqMask = *reinterpret_cast<unsigned*>(base + params.cq_off.ring_mask);
        cqes = reinterpret_cast<io_uring_cqe*>(base + params.cq_off.cqes);
        tail = *sqTail;
        return true;
    }

    io_uring_sqe* Next(quint64 tag, quint8 opcode, int file)
    {
        const unsigned slot = tail & sqMask;
        sqArray[slot] = slot;
        ++tail;
        io_uring_sqe* entry = &sqes[slot];
        std::memset(entry, 0, sizeof *entry);
        entry->opcode = opcode;
        entry->fd = file;
        entry->user_data = tag;
        return entry;
    }

    /// Hands in the entries made since the last run and waits for all of their completions,
    /// giving each to `done`. False when the system failed the ring (the entries not
    /// completed then are lost to it).
    template <typename Done>
    bool Run(unsigned count, Done&& done)
    {
        __atomic_store_n(sqTail, tail, __ATOMIC_RELEASE);
        unsigned completed = 0;
        while (completed < count) {
            const unsigned pending = tail - __atomic_load_n(sqHead, __ATOMIC_ACQUIRE);
            const long entered = ::syscall(__NR_io_uring_enter, fd, pending, count - completed, IORING_ENTER_GETEVENTS, nullptr, 0);
            if (entered < 0 && errno != EINTR && errno != EAGAIN && errno != EBUSY) return false;
            unsigned head = *cqHead;
            const unsigned end = __atomic_load_n(cqTail, __ATOMIC_ACQUIRE);
            for (; head != end; ++head, ++completed) {
                const io_uring_cqe& cqe = cqes[head & cqMask];
                done(cqe.user_data, cqe.res);
            }
            __atomic_store_n(cqHead, head, __ATOMIC_RELEASE);
        }
        return true;
    }
};

FileBatch* FileBatch::ForThisThread()
{
    // Made once for each thread that reads, and kept: a ring costs six calls to make and undo.
    thread_local std::unique_ptr<FileBatch> batch;
    thread_local bool tried = false;
    if (!g_enabled) return nullptr;
    if (!tried) {
        tried = true;
        auto ring = std::make_unique<Ring>();
        if (ring->Open()) batch.reset(new FileBatch(std::move(ring)));
    }
    return batch && batch->m_ring ? batch.get() : nullptr;
}

void FileBatch::Read(int dir, const char* const* names, int count, qsizetype maxBytes, FileReading* readings)
{
    count = std::min(count, Capacity);
    if (!m_ring) {
        for (int i = 0; i < count; ++i) readings[i] = ReadFileAlone(dir, names[i], O_NOFOLLOW, maxBytes);
        return;
    }
    Ring& ring = *m_ring;
    int fds[Capacity];
    // Left for ReadFileAlone: what the system would not do here.
    bool alone[Capacity];
    for (int i = 0; i < count; ++i) {
        readings[i] = FileReading{};
        fds[i] = -1;
        alone[i] = false;
    }
    const auto finish = [&] {
        for (int i = 0; i < count; ++i) {
            if (fds[i] >= 0) ::close(fds[i]);
            if (alone[i]) readings[i] = ReadFileAlone(dir, names[i], O_NOFOLLOW, maxBytes);
        }
    };
    const auto unsupported = [](int res) { return res == -EINVAL || res == -EOPNOTSUPP || res == -ENOSYS; };

    // Every file opened at once, as itself. A name the system cannot find without waiting for
    // the disk is opened on its side meanwhile.
    for (int i = 0; i < count; ++i) {
        io_uring_sqe* open = ring.Next(quint64(i), IORING_OP_OPENAT, dir);
        open->addr = reinterpret_cast<quint64>(names[i]);
        open->open_flags = quint32(kOpenFlags | O_NOFOLLOW);
    }
    bool ran = ring.Run(unsigned(count), [&](quint64 tag, int res) {
        const int i = int(tag);
        if (res >= 0) fds[i] = res;
        else if (unsupported(res)) alone[i] = true;
        else readings[i].openError = -res;
    });
    if (!ran) return Abandon(dir, names, count, maxBytes, readings, fds);

    // Then every open file examined, by itself: the system would examine them on threads of
    // its own (it does not do that without waiting), and waiting for those costs more than
    // the calls. What is read is what was examined.
    for (int i = 0; i < count; ++i) {
        if (fds[i] >= 0) readings[i].statted = ::fstat(fds[i], &readings[i].facts) == 0;
    }

    // Then each read whole and closed, the close after the read whatever the read gave.
    unsigned operations = 0;
    for (int i = 0; i < count; ++i) {
        if (fds[i] < 0) continue;
        FileReading& reading = readings[i];
        if (WantsBytes(reading, maxBytes) && reading.facts.st_size > kBatchFileBytes) {
            reading.bytes.resize(qsizetype(reading.facts.st_size));
            reading.readError = ReadWhole(fds[i], &reading.bytes);
            if (reading.bytes.size() < reading.facts.st_size) alone[i] = true;
        } else if (WantsBytes(reading, maxBytes) && reading.facts.st_size > 0) {
            reading.bytes.resize(qsizetype(reading.facts.st_size));
            io_uring_sqe* read = ring.Next(quint64(i), IORING_OP_READ, fds[i]);
            read->addr = reinterpret_cast<quint64>(reading.bytes.data());
            read->len = quint32(reading.bytes.size());
            read->off = 0;
            read->flags = IOSQE_IO_HARDLINK;
            ++operations;
        }
        ring.Next(quint64(Capacity + i), IORING_OP_CLOSE, fds[i]);
        ++operations;
        fds[i] = -1;   // closed by the ring from here on, or lost with it
    }
    ran = ring.Run(operations, [&](quint64 tag, int res) {
        if (tag >= quint64(Capacity)) return;   // a close: its failure changes nothing read
        const int i = int(tag);
        FileReading& reading = readings[i];
        if (res < 0) {
            if (unsupported(res)) alone[i] = true;
            else reading.readError = -res;
        } else if (res < reading.bytes.size()) {
            // It changed while it was read: read anew, by itself.
            alone[i] = true;
        }
    });
    if (!ran) return Abandon(dir, names, count, maxBytes, readings, fds);
    finish();
}

void FileBatch::Abandon(int dir, const char* const* names, int count, qsizetype maxBytes, FileReading* readings, const int* fds)
{
    // The system failed the ring itself (which has not been seen to happen), and work it took
    // may still complete into the memory it was given: that memory and the ring are left to
    // it for good, and from here on every file is read by itself.
    g_enabled = false;
    (void)m_ring.release();
    for (int i = 0; i < count; ++i) {
        if (!readings[i].bytes.isEmpty()) (void)new QByteArray(std::move(readings[i].bytes));
        if (fds[i] >= 0) ::close(fds[i]);
        readings[i] = ReadFileAlone(dir, names[i], O_NOFOLLOW, maxBytes);
    }
}

#else

struct FileBatch::Ring {};

FileBatch* FileBatch::ForThisThread() { return nullptr; }

void FileBatch::Read(int dir, const char* const* names, int count, qsizetype maxBytes, FileReading* readings)
{
    for (int i = 0; i < count; ++i) readings[i] = ReadFileAlone(dir, names[i], O_NOFOLLOW, maxBytes);
}

#endif

FileBatch::FileBatch(std::unique_ptr<Ring> ring) : m_ring(std::move(ring)) {}

FileBatch::~FileBatch() = default;
