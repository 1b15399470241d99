#pragma once
// The wire protocol between clients and taskschedd: every message is one frame holding one
// CBOR map. A frame is a 12-byte header followed by the map:
//
//   bytes 0..3   magic "TSKD"
//   bytes 4..5   protocol version, big-endian (DaemonProtocol::Version)
//   bytes 6..7   reserved, zero
//   bytes 8..11  payload length in bytes, big-endian
//
// A request map names its operation under "op"; the reply carries the result code under "hr"
// and, on failure, the service's description under "error". Requests and replies alternate on
// one connection. A frame the daemon cannot read (wrong magic or version, too large, not a
// CBOR map) is answered with an error reply and, where the stream cannot be resynchronised,
// the connection is closed.
//
// A client may ask to be told about changes ("subscribe"). From the reply on, the daemon also
// sends that connection notice frames between the replies: maps with no "hr" that name what
// happened under "notice" and the task under "generation" (1 or 2) and "path" (the 2.0 path
// "\Folder\Task", or the 1.0 file name "Task.job"). A client that never subscribes gets
// nothing but replies, as before.

#include "ComBase.h"

#include <QByteArray>
#include <QCborMap>
#include <QLatin1StringView>
#include <QString>

namespace DaemonProtocol {

inline constexpr char Magic[4] = {'T', 'S', 'K', 'D'};
inline constexpr quint16 Version = 1;
inline constexpr qsizetype HeaderSize = 12;
/// The largest request a client may send: a task definition with its data fits many times.
inline constexpr qsizetype MaxRequestSize = 16 * 1024 * 1024;
/// The largest reply a client accepts: a folder listing of many thousands of definitions.
inline constexpr qsizetype MaxReplySize = 512 * 1024 * 1024;

/// Operations the daemon answers itself, beside those of the service core.
namespace Op {
/// Is the daemon there? Answers "hr" S_OK, "pid", "uid", "root" and "version".
inline constexpr QLatin1StringView Ping{"ping"};
/// Asks for notice frames on this connection from now on. Answers "hr" S_OK.
inline constexpr QLatin1StringView Subscribe{"subscribe"};
/// The stored runs of one task ("task": its key). Answers "hr" and "runs".
inline constexpr QLatin1StringView History{"daemon.history"};
} // namespace Op

/// What a notice frame reports, under Key::Notice.
namespace Notice {
inline constexpr QLatin1StringView TaskAdded{"taskAdded"};
inline constexpr QLatin1StringView TaskChanged{"taskChanged"};
inline constexpr QLatin1StringView TaskDeleted{"taskDeleted"};
inline constexpr QLatin1StringView RunStarted{"runStarted"};
/// An instance ended; Key::Result holds its result code.
inline constexpr QLatin1StringView RunEnded{"runEnded"};
} // namespace Notice

/// Keys of requests and replies shared by every operation.
namespace Key {
inline constexpr QLatin1StringView Op{"op"};
inline constexpr QLatin1StringView Hr{"hr"};
inline constexpr QLatin1StringView Error{"error"};
inline constexpr QLatin1StringView Pid{"pid"};
inline constexpr QLatin1StringView Uid{"uid"};
inline constexpr QLatin1StringView Root{"root"};
inline constexpr QLatin1StringView Version{"version"};
inline constexpr QLatin1StringView Notice{"notice"};
inline constexpr QLatin1StringView Generation{"generation"};
inline constexpr QLatin1StringView Path{"path"};
inline constexpr QLatin1StringView Result{"result"};
} // namespace Key

/// Encodes `message` as one frame.
QByteArray EncodeFrame(const QCborMap& message);
/// A reply that carries failure `hr` and the text `error`.
QCborMap ErrorReply(HRESULT hr, const QString& error);
/// A notice frame's map: `notice` (one of Notice) about the task `path` of `generation` (1 or 2).
QCborMap NoticeMessage(QLatin1StringView notice, int generation, const QString& path);
/// Whether `message` is a notice frame rather than a reply.
bool IsNotice(const QCborMap& message);

} // namespace DaemonProtocol
