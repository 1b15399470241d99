#include "BoundaryText.h"

#include <QDateTime>
#include <QRegularExpression>

namespace {

// Offsets from UTC never exceed fourteen hours.
constexpr int LargestOffset = 14 * 3600;

std::optional<LocalDateTime> Refuse(QStringView text, QString* error)
{
    if (error) *error = QStringLiteral("'%1' is not a valid date and time").arg(text);
    return std::nullopt;
}

} // namespace

std::optional<BoundaryText::Written> BoundaryText::ParseWritten(QStringView text, QString* error)
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2})(?::(\d{2})(?:\.\d+)?)?(?:(Z)|([+-])(\d{2}):(\d{2}))?$)"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        Refuse(text, error);
        return std::nullopt;
    }
    auto number = [&match](int group) { return match.capturedView(group).toInt(); };
    const QDate date(number(1), number(2), number(3));
    const QTime time(number(4), number(5), match.hasCaptured(6) ? number(6) : 0);
    Written written{LocalDateTime(date, time), std::nullopt};
    if (!written.wall.IsValid()) {
        Refuse(text, error);
        return std::nullopt;
    }
    if (match.hasCaptured(7)) written.offset = 0;
    if (match.hasCaptured(8)) {
        int offset = number(9) * 3600 + number(10) * 60;
        if (number(10) >= 60 || offset > LargestOffset) {
            Refuse(text, error);
            return std::nullopt;
        }
        if (match.capturedView(8) == u"-") offset = -offset;
        written.offset = offset;
    }
    return written;
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
