#include "StoredText.h"

#include "ListingWire.h"
#include "gen2/PackedDocument.h"

std::optional<StoredText> StoredText::OfListing(const QByteArray& listing, qsizetype at, qsizetype size)
{
    if (size < 1 || at < 0 || at + size > listing.size()) return std::nullopt;
    StoredText text;
    text.m_bytes = listing;
    text.m_at = at + 1;
    text.m_size = size - 1;
    switch (listing[at]) {
    case ListingWire::PlainText:
        return text;
    case ListingWire::PackedText: {
        const auto unpacked = PackedDocument::UnpackedSize(listing.constData() + text.m_at, text.m_size);
        if (!unpacked) return std::nullopt;
        text.m_textSize = *unpacked;
        return text;
    }
    default:
        return std::nullopt;
    }
}

QByteArray StoredText::Text() const
{
    // The whole of what is held is shared, not copied.
    if (m_textSize < 0 && m_at == 0 && m_size == m_bytes.size()) return m_bytes;
    QByteArray text;
    TextInto(&text);
    return text;
}

void StoredText::TextInto(QByteArray* out) const
{
    const char* const from = m_bytes.constData() + m_at;
    if (m_textSize < 0) {
        out->resize(m_size);
        if (m_size > 0) std::memcpy(out->data(), from, size_t(m_size));
        return;
    }
    out->resize(m_textSize);
    PackedDocument::Unpack(from, m_size, out->data(), m_textSize);
}

const QByteArray& StoredText::Read() const
{
    if (m_textSize < 0 && m_at == 0 && m_size == m_bytes.size()) return m_bytes;
    struct Last {
        QByteArray source;
        qsizetype at = -1;
        qsizetype size = 0;
        QByteArray text;
    };
    thread_local Last last;
    // The source is held, so that its bytes stay where they are: the same place is the same text.
    if (last.source.isNull() || last.source.constData() != m_bytes.constData() || last.at != m_at || last.size != m_size) {
        TextInto(&last.text);
        last.source = m_bytes;
        last.at = m_at;
        last.size = m_size;
    }
    return last.text;
}
