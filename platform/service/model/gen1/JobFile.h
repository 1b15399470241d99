#pragma once
// The ".job" file: one generation 1.0 work item and its run facts in a binary form of our own.

#include "gen1/JobDefinition.h"

#include <QByteArray>
#include <QString>

/// Encodes and decodes ".job" files.
///
/// Layout, little-endian throughout: a 16-byte header (the magic "TSJB", the format's major
/// and minor version as 16-bit words, the payload length and the CRC-32 of the payload, both
/// 32-bit), then the payload: records of a 16-bit tag, a 32-bit length and that many bytes.
/// Strings are UTF-16, trigger records their 48 bytes. A reader skips the tags of a newer
/// minor version; another major version is refused.
class JobFile {
public:
    static constexpr quint16 kMajorVersion = 1;
    static constexpr quint16 kMinorVersion = 0;
    static constexpr int kHeaderSize = 16;
    /// No ".job" file is larger; bigger input is refused without being read into structures.
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

    /// The file's bytes. Fails (empty result, `error` filled) only when the result would be
    /// larger than kMaxFileSize.
    static QByteArray Encode(const JobDefinition& definition, const JobRuntime& runtime, QString* error = nullptr);

    /// Reads a file's bytes. S_OK, or: SCHED_E_INVALID_TASK when the bytes are not a task
    /// file, SCHED_E_UNKNOWN_OBJECT_VERSION for another major version, the code of
    /// ERROR_FILE_CORRUPT when the file is truncated, fails its checksum or holds a
    /// malformed record. Never reads outside `bytes`; the outputs are untouched on failure.
    static HRESULT Decode(const QByteArray& bytes, JobDefinition* definition, JobRuntime* runtime, QString* error = nullptr);

    /// The CRC-32 (IEEE 802.3, reflected) of `data`.
    static quint32 Crc32(QByteArrayView data);
};
