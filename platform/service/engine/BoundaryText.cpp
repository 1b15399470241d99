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

std::optional<LocalDateTime> BoundaryText::Parse(QStringView text, const QTimeZone& zone, QString* error)
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2})(?::(\d{2})(?:\.\d+)?)?(?:(Z)|([+-])(\d{2}):(\d{2}))?$)"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) return Refuse(text, error);
    auto number = [&match](int group) { return match.capturedView(group).toInt(); };
    const QDate date(number(1), number(2), number(3));
    const QTime time(number(4), number(5), match.hasCaptured(6) ? number(6) : 0);
    const LocalDateTime written(date, time);
    if (!written.IsValid()) return Refuse(text, error);
    if (!match.hasCaptured(7) && !match.hasCaptured(8)) return written;

    int offset = 0;
    if (match.hasCaptured(8)) {
        if (number(10) >= 60) return Refuse(text, error);
        offset = number(9) * 3600 + number(10) * 60;
        if (offset > LargestOffset) return Refuse(text, error);
        if (match.capturedView(8) == u"-") offset = -offset;
    }
    const qint64 utc = written.Seconds() - offset;
    const QTimeZone local = zone.isValid() ? zone : QTimeZone::utc();
    const int localOffset = local.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utc, QTimeZone::utc()));
    return LocalDateTime::FromSeconds(utc + localOffset);
}
