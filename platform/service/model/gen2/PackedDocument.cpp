#include "gen2/PackedDocument.h"

#include "gen2/TaskDocumentCodec.h"

#include <QVarLengthArray>
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {

// A piece of markup is written as one of these bytes and a second byte: its index in
// TaskDocumentCodec::Markup() is (first - kFirstMark) * 256 + second.
constexpr char kFirstMark = '\x01';
constexpr char kLastMark = '\x04';
constexpr int kMarks = kLastMark - kFirstMark + 1;

bool IsMark(char c) { return uchar(c - kFirstMark) < uchar(kMarks); }

// The pieces of markup in buckets by their length and a few of their characters: a tag is
// compared with the one or two pieces of its bucket, which costs less than hashing it whole.
class PieceTable {
public:
    PieceTable() : m_markup(TaskDocumentCodec::Markup())
    {
        for (qsizetype i = 0; i < m_markup.size() && i < kMarks * 256; ++i) {
            if (m_markup[i].size() >= 3) m_buckets[Bucket(m_markup[i].constData(), m_markup[i].size())].push_back(int(i));
        }
    }

    int Find(const char* tag, qsizetype length) const
    {
        if (length < 3) return -1;
        for (const int i : m_buckets[Bucket(tag, length)]) {
            if (m_markup[i].size() == length && std::memcmp(m_markup[i].constData(), tag, size_t(length)) == 0) return i;
        }
        return -1;
    }

private:
    static constexpr size_t kBuckets = 1024;
    static size_t Bucket(const char* tag, qsizetype length)
    {
        return (size_t(length) * 131 + uchar(tag[1]) * 31 + uchar(tag[2]) * 7 + uchar(tag[length - 2])) % kBuckets;
    }

    const QList<QByteArray>& m_markup;
    std::array<std::vector<int>, kBuckets> m_buckets;
};

const PieceTable& Pieces()
{
    static const PieceTable table;
    return table;
}

// The pieces as unpacking reads them: their sizes in one array, and each short one padded, so
// that it is copied in one move of kPad bytes where the text being written has the room.
class UnpackTable {
public:
    static constexpr qsizetype kPad = 32;

    UnpackTable()
    {
        const QList<QByteArray>& markup = TaskDocumentCodec::Markup();
        const qsizetype count = std::min<qsizetype>(markup.size(), kMarks * 256);
        m_sizes.resize(size_t(count));
        m_data.resize(size_t(count));
        m_padded.resize(size_t(count));
        for (qsizetype i = 0; i < count; ++i) {
            m_sizes[size_t(i)] = markup[i].size();
            m_data[size_t(i)] = markup[i].constData();
            m_padded[size_t(i)].fill('\0');
            std::memcpy(m_padded[size_t(i)].data(), markup[i].constData(), size_t(std::min(markup[i].size(), kPad)));
        }
    }

    qsizetype Count() const { return qsizetype(m_sizes.size()); }
    qsizetype Size(qsizetype i) const { return m_sizes[size_t(i)]; }
    const char* Data(qsizetype i) const { return m_data[size_t(i)]; }
    const char* Padded(qsizetype i) const { return m_padded[size_t(i)].data(); }

private:
    std::vector<qsizetype> m_sizes;
    std::vector<const char*> m_data;
    std::vector<std::array<char, kPad>> m_padded;
};

const UnpackTable& Unpacking()
{
    static const UnpackTable table;
    return table;
}

// The index of the piece a mark at `p` (before `end`) names, or -1 when it names none or is cut off.
qsizetype PieceAt(const UnpackTable& table, const char* p, const char* end)
{
    if (end - p < 2) return -1;
    const qsizetype index = (uchar(*p) - uchar(kFirstMark)) * 256 + uchar(p[1]);
    return index < table.Count() ? index : -1;
}

// Copies `length` bytes; false when one of them is a mark, which would not unpack as itself.
bool CopyPlain(char*& out, const char* from, qsizetype length)
{
    for (qsizetype i = 0; i < length; ++i) {
        if (IsMark(from[i])) return false;
    }
    std::memcpy(out, from, size_t(length));
    out += length;
    return true;
}

} // namespace

PackedDocument::PackedDocument(const QByteArray& xml, QByteArrayView prefix) : m_at(prefix.size()), m_size(xml.size())
{
    const char* p = xml.constData();
    const char* const end = p + xml.size();
    // Packing never lengthens the text: a piece of three bytes or more becomes two bytes.
    QVarLengthArray<char, 4096> buffer(xml.size());
    char* out = buffer.data();
    const PieceTable& pieces = Pieces();
    bool plain = true;
    while (p < end && plain) {
        const char* open = static_cast<const char*>(std::memchr(p, '<', size_t(end - p)));
        const char* close = open ? static_cast<const char*>(std::memchr(open, '>', size_t(end - open))) : nullptr;
        if (!close) {
            plain = CopyPlain(out, p, end - p);
            break;
        }
        plain = CopyPlain(out, p, open - p);
        const qsizetype length = close + 1 - open;
        const int index = pieces.Find(open, length);
        if (index < 0) {
            plain = plain && CopyPlain(out, open, length);
        } else {
            *out++ = char(kFirstMark + index / 256);
            *out++ = char(index % 256);
        }
        p = close + 1;
    }
    if (!plain) {
        m_bytes = prefix.isEmpty() ? xml : prefix.toByteArray() + xml;
        return;
    }
    const qsizetype packedSize = out - buffer.data();
    m_bytes = QByteArray(m_at + packedSize, Qt::Uninitialized);
    if (m_at > 0) std::memcpy(m_bytes.data(), prefix.data(), size_t(m_at));
    std::memcpy(m_bytes.data() + m_at, buffer.data(), size_t(packedSize));
    m_packed = true;
}

PackedDocument PackedDocument::FromBlock(QByteArray block, qsizetype at, qsizetype documentSize, bool packed)
{
    PackedDocument document;
    document.m_bytes = std::move(block);
    document.m_at = std::clamp<qsizetype>(at, 0, document.m_bytes.size());
    document.m_size = documentSize;
    document.m_packed = packed;
    return document;
}

QByteArray PackedDocument::Unpack() const
{
    if (!m_packed) return m_at == 0 ? m_bytes : m_bytes.sliced(m_at);
    QByteArray xml(m_size, Qt::Uninitialized);
    xml.truncate(Unpack(m_bytes.constData() + m_at, PackedSize(), xml.data(), m_size));
    return xml;
}

quint64 PackedDocument::FormatId()
{
    // FNV-1a over the pieces in their order, each ended by a byte no piece holds.
    static const quint64 id = [] {
        quint64 hash = 14695981039346656037ull;
        const auto add = [&](uchar byte) { hash = (hash ^ byte) * 1099511628211ull; };
        for (const QByteArray& piece : TaskDocumentCodec::Markup()) {
            for (const char c : piece) add(uchar(c));
            add(0);
        }
        add(uchar(kFirstMark));
        add(uchar(kLastMark));
        return hash;
    }();
    return id;
}

std::optional<qsizetype> PackedDocument::UnpackedSize(const char* packed, qsizetype size)
{
    const UnpackTable& table = Unpacking();
    const char* p = packed;
    const char* const end = packed + size;
    qsizetype total = 0;
    while (p < end) {
        if (!IsMark(*p)) {
            ++total;
            ++p;
            continue;
        }
        const qsizetype index = PieceAt(table, p, end);
        if (index < 0) return std::nullopt;
        total += table.Size(index);
        p += 2;
    }
    return total;
}

qsizetype PackedDocument::Unpack(const char* packed, qsizetype size, char* out, qsizetype room)
{
    // Pieces are copied in one move where there is room past them: most pieces and texts of a
    // document are a few bytes long, and a call to copy each of them would cost more than the
    // copy. A packed document is mostly marks, a few bytes apart.
    const UnpackTable& table = Unpacking();
    char* const begin = out;
    char* const outEnd = out + room;
    const char* p = packed;
    const char* const end = p + size;
    while (p < end) {
        if (!IsMark(*p)) {
            if (out == outEnd) break;
            *out++ = *p++;
            continue;
        }
        const qsizetype index = PieceAt(table, p, end);
        if (index < 0) break;
        const qsizetype length = std::min(table.Size(index), qsizetype(outEnd - out));
        if (length <= UnpackTable::kPad && outEnd - out >= UnpackTable::kPad)
            std::memcpy(out, table.Padded(index), size_t(UnpackTable::kPad));
        else
            std::memcpy(out, table.Data(index), size_t(length));
        out += length;
        p += 2;
    }
    return out - begin;
}
