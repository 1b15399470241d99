#include "BoundaryText.h"

#include <QDateTime>

namespace {

// Offsets from UTC never exceed fourteen hours.
constexpr int LargestOffset = 14 * 3600;

std::optional<LocalDateTime> Refuse(QStringView text, QString* error)
{
    if (error) *error = QStringLiteral("'%1' is not a valid date and time").arg(text);
    return std::nullopt;
}

} // namespace

int BoundaryText::DigitsAt(QStringView text, qsizetype at, int count)
{
    if (at + count > text.size()) return -1;
    int value = 0;
    for (qsizetype i = at; i < at + count; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

std::optional<BoundaryText::Written> BoundaryText::ParseWritten(QStringView text, QString* error)
{
    // Read by hand: the daemon reads every boundary of every task when it starts, and a
    // pattern match cost more than the rest of a trigger's set-up. The form is
    // yyyy-mm-ddThh:mm[:ss[.f...]][Z|+hh:mm|-hh:mm]; as with the pattern this replaced, one
    // final line feed is tolerated.
    const QStringView written = text;
    if (text.endsWith(u'\n')) text.chop(1);
    const int year = DigitsAt(text, 0, 4);
    const int month = DigitsAt(text, 5, 2);
    const int day = DigitsAt(text, 8, 2);
    const int hour = DigitsAt(text, 11, 2);
    const int minute = DigitsAt(text, 14, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || text[4] != u'-' || text[7] != u'-' || text[10] != u'T'
        || text[13] != u':') {
        Refuse(written, error);
        return std::nullopt;
    }
    qsizetype i = 16;
    int second = 0;
    if (i < text.size() && text[i] == u':') {
        second = DigitsAt(text, i + 1, 2);
        if (second < 0) {
            Refuse(written, error);
            return std::nullopt;
        }
        i += 3;
        if (i < text.size() && text[i] == u'.') {
            const qsizetype digits = ++i;
            while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') ++i;
            if (i == digits) {
                Refuse(written, error);
                return std::nullopt;
            }
        }
    }
    Written boundary{LocalDateTime(QDate(year, month, day), QTime(hour, minute, second)), std::nullopt};
    if (!boundary.wall.IsValid()) {
        Refuse(written, error);
        return std::nullopt;
    }
    if (i == text.size()) return boundary;
    if (text[i] == u'Z' && i + 1 == text.size()) {
        boundary.offset = 0;
        return boundary;
    }
    const int offsetHours = DigitsAt(text, i + 1, 2);
    const int offsetMinutes = DigitsAt(text, i + 4, 2);
    const int offset = offsetHours * 3600 + offsetMinutes * 60;
    if ((text[i] != u'+' && text[i] != u'-') || text.size() != i + 6 || text[i + 3] != u':' || offsetHours < 0
        || offsetMinutes < 0 || offsetMinutes >= 60 || offset > LargestOffset) {
        Refuse(written, error);
        return std::nullopt;
    }
    boundary.offset = text[i] == u'-' ? -offset : offset;
    return boundary;
}

LocalDateTime BoundaryText::InFrame(const Written& boundary, const std::optional<int>& frameOffset, const QTimeZone& zone)
{
    if (boundary.offset == frameOffset) return boundary.wall;
    const QTimeZone local = zone.isValid() ? zone : QTimeZone::utc();
    qint64 utc = 0;
    if (boundary.offset) utc = boundary.wall.Seconds() - *boundary.offset;
    else utc = QDateTime(boundary.wall.Date(), boundary.wall.Time(), local).toSecsSinceEpoch();
    if (frameOffset) return LocalDateTime::FromSeconds(utc + *frameOffset);
    return LocalDateTime::FromSeconds(utc + local.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utc, QTimeZone::utc())));
}

std::optional<LocalDateTime> BoundaryText::Parse(QStringView text, const QTimeZone& zone, QString* error)
{
    const auto written = ParseWritten(text, error);
    if (!written) return std::nullopt;
    return InFrame(*written, std::nullopt, zone);
}
