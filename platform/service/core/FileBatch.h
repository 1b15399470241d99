#pragma once
// Many small files of one directory read with a few system calls for all of them.

#include <QByteArray>
#include <memory>
#include <sys/stat.h>

/// What reading one file found, before any of it is judged; the same whether the file was
/// read by itself or in a batch.
struct FileReading {
    int openError = 0;       ///< errno of opening it; 0: it was opened
    bool statted = false;    ///< the open file was examined, into `facts`
    struct stat facts {};
    /// Its bytes, read only from a regular file no larger than the limit read with.
    QByteArray bytes;
    int readError = 0;
};

/// Reads `name` in the directory `dir` (AT_FDCWD: `name` is a path) by itself: opens it
/// without waiting (a pipe has no writer to wait for) and with `openFlags` (O_NOFOLLOW: a link
/// is not followed and gives ELOOP), examines the open file, reads it whole when it is a
/// regular file of at most `maxBytes`, and closes it. A file that is shorter than it was when
/// examined gives what it held when read.
FileReading ReadFileAlone(int dir, const char* name, int openFlags, qsizetype maxBytes);

/// Reads the files of a directory as ReadFileAlone does, a batch at a time: the opens of a
/// batch are handed to the system at once, then the reads and closes,
/// where one at a time takes four system calls for each file. With thousands of small files
/// those calls cost more than everything else their reading does (most of all in a virtual
/// machine, where a call costs microseconds). Uses the system's io_uring, which some systems
/// lack or refuse; ForThisThread then gives nothing and files are read by themselves.
class FileBatch {
public:
    /// The most files one Read takes.
    static constexpr int Capacity = 64;

    /// The calling thread's reader of batches, or nothing when the system runs none. It
    /// belongs to that thread alone.
    static FileBatch* ForThisThread();
    ~FileBatch();
    FileBatch(const FileBatch&) = delete;
    FileBatch& operator=(const FileBatch&) = delete;

    /// Reads each of the `count` (at most Capacity) files `names` of the directory `dir` into
    /// `readings[i]` as ReadFileAlone(dir, names[i], O_NOFOLLOW, maxBytes) would. What a batch
    /// cannot do for a file (the system refuses, the file shrank meanwhile) is done by
    /// ReadFileAlone.
    void Read(int dir, const char* const* names, int count, qsizetype maxBytes, FileReading* readings);

    /// Off: ForThisThread gives no reader, and every file is read by itself (to compare the two ways).
    static void SetEnabled(bool enabled);

private:
    struct Ring;
    explicit FileBatch(std::unique_ptr<Ring> ring);
    void Abandon(int dir, const char* const* names, int count, qsizetype maxBytes, FileReading* readings, const int* fds);
    std::unique_ptr<Ring> m_ring;
};
