#pragma once
// A registered task's stored document as the client holds it: the text itself, or a piece of
// a listing's bytes, packed as the service's cache holds it. A listing of thousands of tasks
// then keeps its reply's bytes once, about a quarter of the texts' size, and a text is
// unpacked when something reads it.

#include <QByteArray>
#include <optional>

class StoredText {
public:
    StoredText() = default;
    /// The document `xml` itself.
    StoredText(QByteArray xml) : m_bytes(std::move(xml)), m_size(m_bytes.size()) {}
    /// The document of a packed listing whose texts are in this build's packed form: the
    /// `size` bytes at `at` of `listing`, a kind byte and the text in that kind. Nothing
    /// when they are not a text of that form.
    static std::optional<StoredText> OfListing(const QByteArray& listing, qsizetype at, qsizetype size);

    /// The document.
    QByteArray Text() const;
    /// The document in `*out`, whose room is reused.
    void TextInto(QByteArray* out) const;
    /// The document, valid until the next call on this thread: the text of a list row is read
    /// in two parts (its triggers, then the rest) and unpacked once, into room that is reused.
    const QByteArray& Read() const;
    /// The document's size.
    qsizetype TextSize() const { return m_textSize >= 0 ? m_textSize : m_size; }
    bool IsNull() const { return m_bytes.isNull(); }

private:
    QByteArray m_bytes;
    qsizetype m_at = 0;
    qsizetype m_size = 0;
    /// The size unpacked of a packed text; -1: the bytes are the text.
    qsizetype m_textSize = -1;
};
