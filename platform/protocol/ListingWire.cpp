#include "ListingWire.h"

#include "Gen2Protocol.h"
#include "Leb128.h"

#include <QtEndian>
#include <cstring>

namespace ListingWire {

namespace {

// A length at `*at` that fits what is left of `size` bytes; moves `*at` past it. At most nine
// bytes: no length comes near 63 bits.
std::optional<qsizetype> ReadLength(const char* data, qsizetype size, qsizetype* at)
{
    const auto* const begin = reinterpret_cast<const uchar*>(data);
    const uchar* p = begin + *at;
    const std::optional<quint64> n = Leb128::Read(&p, begin + size, 9);
    *at = p - begin;
    if (!n || *n > quint64(size - *at)) return std::nullopt;
    return qsizetype(*n);
}

} // namespace

void Writer::Reserve(qsizetype count, qsizetype textBytes, bool withStatus)
{
    m_listing.reserve(textBytes + count * 48);
    if (withStatus) m_statuses.reserve(count * StatusBytes);
}

void Writer::Add(const QByteArray& path, const QByteArray& xml)
{
    Append(path, nullptr, xml);
}

void Writer::Add(const QByteArray& path, TextKind kind, QByteArrayView bytes, qint64 form)
{
    m_textForm = form;
    const char kindByte = char(kind);
    Append(path, &kindByte, bytes);
}

void Writer::Append(const QByteArray& path, const char* kind, QByteArrayView text)
{
    // The task's bytes are written in place after one resize: an append of each of its four
    // or five pieces costs more than the bytes, in a listing of thousands of tasks.
    const qsizetype textSize = text.size() + (kind ? 1 : 0);
    const qsizetype at = m_listing.size();
    m_listing.resize(at + 2 * Leb128::MaxBytes + path.size() + textSize);
    auto* out = reinterpret_cast<uchar*>(m_listing.data() + at);
    out = Leb128::Write(out, quint64(path.size()));
    std::memcpy(out, path.constData(), size_t(path.size()));
    out = Leb128::Write(out + path.size(), quint64(textSize));
    if (kind) *out++ = uchar(*kind);
    // An empty view may point nowhere, which memcpy must not be given even for no bytes.
    if (!text.isEmpty()) std::memcpy(out, text.constData(), size_t(text.size()));
    out += text.size();
    m_listing.truncate(reinterpret_cast<char*>(out) - m_listing.constData());
    ++m_count;
}

void Writer::AddStatus(const TaskStatus& status)
{
    const qsizetype at = m_statuses.size();
    m_statuses.resize(at + StatusBytes);
    char* p = m_statuses.data() + at;
    p[0] = char((status.enabled ? Enabled : 0) | (status.lastRunMs ? HasLastRun : 0) | (status.nextRunMs ? HasNextRun : 0));
    p[1] = char(quint8(status.state));
    qToLittleEndian<qint32>(status.lastTaskResult, p + 2);
    qToLittleEndian<quint32>(status.missedRuns, p + 6);
    qToLittleEndian<qint64>(status.lastRunMs.value_or(0), p + 10);
    qToLittleEndian<qint64>(status.nextRunMs.value_or(0), p + 18);
}

void Writer::InsertInto(QCborMap* reply) const
{
    reply->insert(Gen2Protocol::Key::Listing, m_listing);
    if (!m_statuses.isEmpty()) reply->insert(Gen2Protocol::Key::Statuses, m_statuses);
    reply->insert(Gen2Protocol::Key::Count, qint64(m_count));
    if (m_textForm) reply->insert(Gen2Protocol::Key::PackedTexts, *m_textForm);
}

TaskStatus Listing::Status(qsizetype i) const
{
    const char* p = statuses.constData() + i * StatusBytes;
    const auto flags = quint8(p[0]);
    TaskStatus status;
    status.enabled = flags & Enabled;
    status.state = quint8(p[1]);
    status.lastTaskResult = qFromLittleEndian<qint32>(p + 2);
    status.missedRuns = qFromLittleEndian<quint32>(p + 6);
    if (flags & HasLastRun) status.lastRunMs = qFromLittleEndian<qint64>(p + 10);
    if (flags & HasNextRun) status.nextRunMs = qFromLittleEndian<qint64>(p + 18);
    return status;
}

bool IsPacked(const QCborMap& reply) { return reply.contains(Gen2Protocol::Key::Listing); }

std::optional<Listing> Read(const QCborMap& reply)
{
    const QCborValue listing = reply.value(Gen2Protocol::Key::Listing);
    const QCborValue count = reply.value(Gen2Protocol::Key::Count);
    const QCborValue statuses = reply.value(Gen2Protocol::Key::Statuses);
    if (!listing.isByteArray() || !count.isInteger() || count.toInteger() < 0) return std::nullopt;
    if (!statuses.isUndefined() && !statuses.isByteArray()) return std::nullopt;
    const QCborValue textForm = reply.value(Gen2Protocol::Key::PackedTexts);
    if (!textForm.isUndefined() && !textForm.isInteger()) return std::nullopt;
    Listing result;
    if (textForm.isInteger()) result.textForm = textForm.toInteger();
    result.bytes = listing.toByteArray();
    result.statuses = statuses.toByteArray();
    const qint64 expected = count.toInteger();
    const char* data = result.bytes.constData();
    const qsizetype size = result.bytes.size();
    // Every task takes two bytes at least: a count larger than that is refused before any
    // room is reserved for it.
    if (expected > size / 2) return std::nullopt;
    if (!result.statuses.isEmpty() && result.statuses.size() != expected * StatusBytes) return std::nullopt;
    result.entries.reserve(expected);
    qsizetype at = 0;
    while (at < size) {
        Entry e;
        const auto pathSize = ReadLength(data, size, &at);
        if (!pathSize) return std::nullopt;
        e.pathAt = at;
        e.pathSize = *pathSize;
        at += *pathSize;
        const auto xmlSize = ReadLength(data, size, &at);
        if (!xmlSize) return std::nullopt;
        e.xmlAt = at;
        e.xmlSize = *xmlSize;
        at += *xmlSize;
        result.entries.append(e);
    }
    if (result.entries.size() != expected) return std::nullopt;
    return result;
}

QCborMap StatusMap(const TaskStatus& status)
{
    using namespace Gen2Protocol;
    QCborMap map{{Key::Enabled, status.enabled},
                 {Key::State, status.state},
                 {Key::LastTaskResult, qint64(status.lastTaskResult)},
                 {Key::MissedRuns, qint64(status.missedRuns)}};
    if (status.lastRunMs) map.insert(Key::LastRunTime, *status.lastRunMs);
    if (status.nextRunMs) map.insert(Key::NextRunTime, *status.nextRunMs);
    return map;
}

} // namespace ListingWire
