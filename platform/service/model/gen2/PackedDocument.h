#pragma once
// A stored document in less room, for the service's cache of the documents it has read: each
// piece of markup the codec writes becomes two bytes, everything else stays as it is. A
// document the service accepts holds none of the control characters the pieces are marked
// with (XML allows none of them), so unpacking gives back every byte; a text that holds one
// is kept as it is.

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

class PackedDocument {
public:
    PackedDocument() = default;
    /// `xml` packed. `prefix`, when given, is kept ahead of it in the same block of memory
    /// (Block()): a cache holding thousands of documents keeps each with its key in one block
    /// instead of two.
    explicit PackedDocument(const QByteArray& xml, QByteArrayView prefix = {});
    /// The document that `block` holds after a prefix of `at` bytes, as Block() of one made
    /// with that prefix gave it; `documentSize` and `packed` are its DocumentSize() and
    /// IsPacked(). Shares the block.
    static PackedDocument FromBlock(QByteArray block, qsizetype at, qsizetype documentSize, bool packed);

    /// The document as it was given.
    QByteArray Unpack() const;
    /// The room the packed form takes.
    qsizetype PackedSize() const { return m_bytes.size() - m_at; }
    /// The size of the document unpacked.
    qsizetype DocumentSize() const { return m_size; }
    /// Whether Bytes() is packed; when not, it is the document itself.
    bool IsPacked() const { return m_packed; }
    /// The packed form, or the document when it is not packed; valid while this object is.
    QByteArrayView Bytes() const { return QByteArrayView(m_bytes).sliced(m_at); }
    /// The prefix given at construction followed by Bytes().
    const QByteArray& Block() const { return m_bytes; }

    /// Tells the packed forms of two builds apart: the same number for the same pieces of
    /// markup in the same order. A packed text goes to another process only when its number
    /// is this one's, which it asks with.
    static quint64 FormatId();
    /// The size of the document that the `size` packed bytes at `packed` give back; nothing
    /// when they hold a mark that names no piece of markup, or end within one. For bytes from
    /// outside, before Unpack is asked.
    static std::optional<qsizetype> UnpackedSize(const char* packed, qsizetype size);
    /// Writes the document of the `size` packed bytes at `packed` to `out`, which has room
    /// for `room` bytes (what UnpackedSize gave); gives the number of bytes written.
    static qsizetype Unpack(const char* packed, qsizetype size, char* out, qsizetype room);

private:
    QByteArray m_bytes;
    qsizetype m_at = 0;      ///< where the packed form begins in m_bytes, after the prefix
    qsizetype m_size = 0;    ///< of the document unpacked
    bool m_packed = false;   ///< false: m_bytes is the document itself
};
