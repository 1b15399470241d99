#pragma once
// A stored document in less room, for the service's cache of the documents it has read: each
// piece of markup the codec writes becomes two bytes, everything else stays as it is. A
// document the service accepts holds none of the control characters the pieces are marked
// with (XML allows none of them), so unpacking gives back every byte; a text that holds one
// is kept as it is.

#include <QByteArray>

class PackedDocument {
public:
    PackedDocument() = default;
    explicit PackedDocument(const QByteArray& xml);

    /// The document as it was given.
    QByteArray Unpack() const;
    /// The room the packed form takes.
    qsizetype PackedSize() const { return m_bytes.size(); }

private:
    QByteArray m_bytes;
    qsizetype m_size = 0;    ///< of the document unpacked
    bool m_packed = false;   ///< false: m_bytes is the document itself
};
