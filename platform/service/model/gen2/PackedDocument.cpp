#include "gen2/PackedDocument.h"

#include "gen2/TaskDocumentCodec.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace {

// A piece of markup is written as one of these bytes and a second byte: its index in
// TaskDocumentCodec::Markup() is (first - kFirstMark) * 256 + second.
constexpr char kFirstMark = '\x01';
constexpr char kLastMark = '\x04';
constexpr int kMarks = kLastMark - kFirstMark + 1;

bool IsMark(char c) { return c >= kFirstMark && c <= kLastMark; }

const std::unordered_map<std::string_view, int>& Indexes()
{
    static const std::unordered_map<std::string_view, int> indexes = [] {
        std::unordered_map<std::string_view, int> map;
        const QList<QByteArray>& markup = TaskDocumentCodec::Markup();
        for (qsizetype i = 0; i < markup.size() && i < kMarks * 256; ++i)
            map.emplace(std::string_view(markup[i].constData(), size_t(markup[i].size())), int(i));
        return map;
    }();
    return indexes;
}

} // namespace

PackedDocument::PackedDocument(const QByteArray& xml) : m_size(xml.size())
{
    const char* p = xml.constData();
    const char* const end = p + xml.size();
    if (std::any_of(p, end, IsMark)) {
        m_bytes = xml;
        return;
    }
    const auto& indexes = Indexes();
    QByteArray packed;
    packed.reserve(xml.size());
    while (p < end) {
        const char* open = static_cast<const char*>(std::memchr(p, '<', size_t(end - p)));
        if (!open) {
            packed.append(p, end - p);
            break;
        }
        packed.append(p, open - p);
        const char* close = static_cast<const char*>(std::memchr(open, '>', size_t(end - open)));
        if (!close) {
            packed.append(open, end - open);
            break;
        }
        const auto found = indexes.find(std::string_view(open, size_t(close + 1 - open)));
        if (found == indexes.end()) {
            packed.append(open, close + 1 - open);
        } else {
            packed.append(char(kFirstMark + found->second / 256));
            packed.append(char(found->second % 256));
        }
        p = close + 1;
    }
    packed.squeeze();
    m_bytes = packed;
    m_packed = true;
}

QByteArray PackedDocument::Unpack() const
{
    if (!m_packed) return m_bytes;
    const QList<QByteArray>& markup = TaskDocumentCodec::Markup();
    QByteArray xml(m_size, Qt::Uninitialized);
    char* out = xml.data();
    char* const outEnd = out + m_size;
    const char* p = m_bytes.constData();
    const char* const end = p + m_bytes.size();
    while (p < end) {
        const char* mark = std::find_if(p, end, IsMark);
        const size_t plain = size_t(std::min(mark - p, outEnd - out));
        std::memcpy(out, p, plain);
        out += plain;
        const qsizetype index = mark + 1 < end ? (*mark - kFirstMark) * 256 + uchar(mark[1]) : markup.size();
        if (index >= markup.size()) break;
        const QByteArray& piece = markup[index];
        const size_t length = size_t(std::min(piece.size(), qsizetype(outEnd - out)));
        std::memcpy(out, piece.constData(), length);
        out += length;
        p = mark + 2;
    }
    return xml;
}
