#pragma once
// A folder listing on the wire in two byte strings rather than one map per task: a listing
// of thousands of tasks then costs the service a few appends a task and the client one pass
// over the bytes, not a value built, encoded, decoded and looked up by its text keys per
// task and field. A client asks for it with Key::Packed; a service that does not know the
// flag answers with the maps, and a client that does not send it still gets them.
//
//   Key::Listing   for each task: its path's UTF-8 length (LEB128), the path, its
//                  document's length (LEB128), the document (empty when none was asked for)
//   Key::Statuses  for each task, when statuses were asked for: StatusBytes bytes,
//                  little-endian: flags (StatusFlag), state, last result (32 bits),
//                  missed runs (32 bits), last run and next run (milliseconds since
//                  1970-01-01T00:00Z, 64 bits each; 0 when the flag says there is none)
//   Key::Count     how many tasks both hold
//   Key::PackedTexts  when the documents are in a packed form: that form's number; each
//                  document is then a TextKind byte and the bytes

#include <QByteArray>
#include <QByteArrayView>
#include <QCborMap>
#include <QList>
#include <QString>
#include <optional>

namespace ListingWire {

/// What a status answer gives for a task, without the result code.
struct TaskStatus {
    bool enabled = true;
    qint64 state = 0;
    qint32 lastTaskResult = 0;
    quint32 missedRuns = 0;
    std::optional<qint64> lastRunMs;
    std::optional<qint64> nextRunMs;
    friend bool operator==(const TaskStatus&, const TaskStatus&) = default;
};

enum StatusFlag : quint8 { Enabled = 1, HasLastRun = 2, HasNextRun = 4 };
/// How a document of a listing with packed texts is held.
enum TextKind : char { PlainText = 0, PackedText = 1 };
inline constexpr qsizetype StatusBytes = 1 + 1 + 4 + 4 + 8 + 8;

/// Collects the tasks of one listing in the order they are sent.
class Writer {
public:
    /// Room for `count` tasks whose documents take about `textBytes` in all, and their
    /// statuses when `withStatus`.
    void Reserve(qsizetype count, qsizetype textBytes, bool withStatus);
    /// A task `path` (UTF-8) with its document `xml` (empty: none was asked for).
    void Add(const QByteArray& path, const QByteArray& xml);
    /// A task `path` (UTF-8) with its document as `kind` and `bytes`, in a listing whose
    /// texts are in the packed form `form`.
    void Add(const QByteArray& path, TextKind kind, QByteArrayView bytes, qint64 form);
    /// The status of the task added last.
    void AddStatus(const TaskStatus& status);

    qsizetype Count() const { return m_count; }
    /// The reply's keys: the listing, the statuses when any were added, and the count.
    void InsertInto(QCborMap* reply) const;

private:
    /// A task's path, its document's kind byte when `kind` is given, and the document.
    void Append(const QByteArray& path, const char* kind, QByteArrayView text);

    QByteArray m_listing;
    QByteArray m_statuses;
    qsizetype m_count = 0;
    std::optional<qint64> m_textForm;
};

/// One task of a packed listing: where its path and document lie in the listing's bytes.
struct Entry {
    qsizetype pathAt = 0;
    qsizetype pathSize = 0;
    qsizetype xmlAt = 0;
    qsizetype xmlSize = 0;
};

/// A packed listing as read from a reply; the bytes stay where the reply holds them.
struct Listing {
    QByteArray bytes;
    QList<Entry> entries;
    QByteArray statuses;   ///< empty when the reply holds no statuses
    /// The packed form the documents are in (each a TextKind byte and the bytes); none: the
    /// documents themselves.
    std::optional<qint64> textForm;

    QString Path(qsizetype i) const { return QString::fromUtf8(bytes.constData() + entries[i].pathAt, entries[i].pathSize); }
    QByteArray Xml(qsizetype i) const { return QByteArray(bytes.constData() + entries[i].xmlAt, entries[i].xmlSize); }
    bool HasStatuses() const { return !statuses.isEmpty() || entries.isEmpty(); }
    TaskStatus Status(qsizetype i) const;
};

/// Whether `reply` holds a packed listing at all (it may still be malformed).
bool IsPacked(const QCborMap& reply);
/// The packed listing of `reply`. Nothing when a length runs past the end or is too long,
/// bytes are left over, the statuses' size is not that of the count, or the count is not
/// the number of tasks listed.
std::optional<Listing> Read(const QCborMap& reply);

/// A status as the map a single status request answers, as the client reads it.
QCborMap StatusMap(const TaskStatus& status);

} // namespace ListingWire
