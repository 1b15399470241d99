#include "RunTimesWire.h"

#include "CivilDate.h"
#include "Leb128.h"
#include "OleDate.h"
#include "ZoneRules.h"

#include <algorithm>

namespace {

quint64 Fold(qint64 value) { return (quint64(value) << 1) ^ quint64(value >> 63); }
qint64 Unfold(quint64 value) { return qint64(value >> 1) ^ -qint64(value & 1); }

// The seconds a SYSTEMTIME can show, years 1 to 30827, and a day on either side for a
// moment whose wall clock is still among them.
constexpr qint64 FirstSecond = LocalDateTime::StartOfDay(CivilDate::NewYear(1)) - LocalDateTime::SecondsPerDay;
constexpr qint64 LastSecond = LocalDateTime::StartOfDay(CivilDate::NewYear(30828)) + LocalDateTime::SecondsPerDay;

const ZoneRules& LocalZoneRules()
{
    // Built on the first caller in another zone than the service's; the process's zone is
    // taken as fixed, as the service takes its own.
    static const ZoneRules rules(QTimeZone::systemTimeZone());
    return rules;
}

} // namespace

QByteArray RunTimesWire::Pack(const QList<RunTime>& runs, bool wall)
{
    QByteArray bytes(runs.size() * Leb128::MaxBytes, Qt::Uninitialized);
    auto* at = reinterpret_cast<uchar*>(bytes.data());
    qint64 previous = 0;
    for (const RunTime& run : runs) {
        const qint64 value = wall ? run.local.Seconds() : run.utc;
        // Wrapping subtraction: the folded difference is taken back by wrapping addition.
        at = Leb128::Write(at, Fold(qint64(quint64(value) - quint64(previous))));
        previous = value;
    }
    bytes.truncate(at - reinterpret_cast<uchar*>(bytes.data()));
    return bytes;
}

std::optional<QList<SYSTEMTIME>> RunTimesWire::Unpack(const QByteArray& bytes, bool wall)
{
    const auto* at = reinterpret_cast<const uchar*>(bytes.constData());
    const auto* const end = at + bytes.size();
    // Every number ends in a byte without its high bit: the list is made at its size once.
    QList<SYSTEMTIME> times;
    times.reserve(std::count_if(at, end, [](uchar byte) { return byte < 0x80; }));
    std::optional<ZoneCursor> zone;
    if (!wall) zone.emplace(LocalZoneRules());
    qint64 value = 0;
    // Runs come in order and many share a day: its date is worked out once.
    qint64 day = 0;
    CivilDate date;
    bool haveDay = false;
    while (at < end) {
        const std::optional<quint64> number = Leb128::Read(&at, end);
        if (!number) return std::nullopt;
        value = qint64(quint64(value) + quint64(Unfold(*number)));
        if (value < FirstSecond || value > LastSecond) return std::nullopt;
        const qint64 shown = zone ? zone->WallAt(value) : value;
        const qint64 runDay = LocalDateTime::DayOf(shown);
        if (!haveDay || runDay != day) {
            day = runDay;
            date = CivilDate::FromJulianDay(day);
            haveDay = true;
            if (date.year < 1 || date.year > 30827) return std::nullopt; // what a SYSTEMTIME can hold
        }
        const qint64 second = shown - LocalDateTime::StartOfDay(day);
        // Julian day 0 is a Monday; the record counts its days of the week from Sunday.
        times.append(SYSTEMTIME{WORD(date.year), WORD(date.month), WORD((day + 1) % 7), WORD(date.day), WORD(second / 3600),
                                WORD(second / 60 % 60), WORD(second % 60), 0});
    }
    return times;
}

DATE RunTimesWire::LocalDate(qint64 msecs)
{
    constexpr qint64 MsPerSecond = 1000;
    // 1899-12-30, day 0 of a DATE.
    constexpr qint64 DateEpochDay = 2415019;
    const qint64 second = msecs / MsPerSecond - (msecs % MsPerSecond < 0 ? 1 : 0);
    // Beyond the years of a SYSTEMTIME the zone tables are not asked.
    if (second < FirstSecond || second > LastSecond) return OleDate::FromDateTime(QDateTime::fromMSecsSinceEpoch(msecs));
    const qint64 shown = ZoneCursor(LocalZoneRules()).WallAt(second);
    const qint64 day = LocalDateTime::DayOf(shown);
    const qint64 msOfDay = (shown - LocalDateTime::StartOfDay(day)) * MsPerSecond + (msecs - second * MsPerSecond);
    return double(day - DateEpochDay) + double(msOfDay) / (double(LocalDateTime::SecondsPerDay) * MsPerSecond);
}
