#include "ZoneFile.h"

#include <QFile>
#include <limits>

namespace {

constexpr qsizetype HeaderSize = 44;

quint32 Be32(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return quint32(u[0]) << 24 | quint32(u[1]) << 16 | quint32(u[2]) << 8 | quint32(u[3]);
}

qint64 Be64(const char* p) { return qint64(quint64(Be32(p)) << 32 | Be32(p + 4)); }

struct Counts {
    qint64 isUt, isStd, leap, time, type, chars;
    // The size of the data block that follows the header, with `timeSize`-byte times.
    qint64 DataSize(int timeSize) const
    {
        return time * timeSize + time + type * 6 + chars + leap * (timeSize + 4) + isStd + isUt;
    }
};

std::optional<Counts> ReadHeader(const QByteArray& bytes, qsizetype at)
{
    if (bytes.size() < at + HeaderSize || !bytes.mid(at, 4).startsWith("TZif")) return std::nullopt;
    const char* p = bytes.constData() + at + 20;
    const Counts c{Be32(p), Be32(p + 4), Be32(p + 8), Be32(p + 12), Be32(p + 16), Be32(p + 20)};
    if (c.type == 0 || c.time > 100000 || c.type > 256 || c.chars > 65536 || c.leap > 100000 || c.isStd > c.type ||
        c.isUt > c.type)
        return std::nullopt;
    return c;
}

} // namespace

std::optional<ZoneFile> ZoneFile::Load(const QByteArray& id)
{
    if (id.isEmpty() || id.startsWith('/') || id.contains("..")) return std::nullopt;
    QByteArray dir = qgetenv("TZDIR");
    if (dir.isEmpty()) dir = "/usr/share/zoneinfo";
    QFile file(QFile::decodeName(dir + '/' + id));
    if (!file.open(QIODevice::ReadOnly) || file.size() > 1024 * 1024) return std::nullopt;
    return Parse(file.readAll());
}

std::optional<ZoneFile> ZoneFile::Parse(const QByteArray& bytes)
{
    const std::optional<Counts> first = ReadHeader(bytes, 0);
    // Only files of version 2 or later have 64-bit times and a rule for later years.
    if (!first || bytes.size() <= 4 || bytes[4] < '2') return std::nullopt;
    const qsizetype second = HeaderSize + first->DataSize(4);
    const std::optional<Counts> c = ReadHeader(bytes, second);
    if (!c) return std::nullopt;
    const qsizetype data = second + HeaderSize;
    const qsizetype footer = data + c->DataSize(8);
    if (bytes.size() < footer + 2 || bytes[footer] != '\n') return std::nullopt;
    const qsizetype footerEnd = bytes.indexOf('\n', footer + 1);
    if (footerEnd < 0) return std::nullopt;

    const char* times = bytes.constData() + data;
    const char* indexes = times + c->time * 8;
    const char* types = indexes + c->time;
    const auto offsetOf = [&](qint64 type) { return qint32(Be32(types + type * 6)); };

    ZoneFile zone;
    zone.initialOffset = offsetOf(0);
    int previous = zone.initialOffset;
    qint64 previousAt = std::numeric_limits<qint64>::min();
    for (qint64 i = 0; i < c->time; ++i) {
        const quint8 type = quint8(indexes[i]);
        const qint64 at = Be64(times + i * 8);
        if (type >= c->type || at <= previousAt) return std::nullopt;
        previousAt = at;
        const int offset = offsetOf(type);
        if (offset == previous) continue;
        zone.changes.push_back({at, offset});
        previous = offset;
    }
    const QByteArray text = bytes.mid(footer + 1, footerEnd - footer - 1);
    if (!text.isEmpty()) {
        zone.rule = PosixZoneRule::Parse(text);
        if (!zone.rule) return std::nullopt;
    }
    return zone;
}
