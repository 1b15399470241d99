#include "RunTimesWire.h"

#include "CivilDate.h"
#include "OleDate.h"

#include <QtEndian>

namespace {
constexpr qsizetype RunSize = 16;
}

QByteArray RunTimesWire::Pack(const QList<RunTime>& runs)
{
    QByteArray bytes(runs.size() * RunSize, Qt::Uninitialized);
    char* at = bytes.data();
    for (const RunTime& run : runs) {
        qToLittleEndian<qint64>(run.utc, at);
        qToLittleEndian<qint64>(run.local.Seconds(), at + 8);
        at += RunSize;
    }
    return bytes;
}

std::optional<QList<SYSTEMTIME>> RunTimesWire::Unpack(const QByteArray& bytes, bool wallIsLocal)
{
    if (bytes.size() % RunSize != 0) return std::nullopt;
    QList<SYSTEMTIME> times;
    times.reserve(bytes.size() / RunSize);
    for (const char* at = bytes.constData(); at < bytes.constData() + bytes.size(); at += RunSize) {
        if (!wallIsLocal) {
            times.append(OleDate::ToSystemTime(QDateTime::fromSecsSinceEpoch(qFromLittleEndian<qint64>(at))));
            continue;
        }
        const qint64 wall = qFromLittleEndian<qint64>(at + 8);
        const qint64 day = LocalDateTime::DayOf(wall);
        const qint64 second = wall - LocalDateTime::StartOfDay(day);
        const CivilDate date = CivilDate::FromJulianDay(day);
        if (date.year < 1 || date.year > 30827) return std::nullopt; // what a SYSTEMTIME can hold
        // Julian day 0 is a Monday; the record counts its days of the week from Sunday.
        times.append(SYSTEMTIME{WORD(date.year), WORD(date.month), WORD((day + 1) % 7), WORD(date.day), WORD(second / 3600),
                                WORD(second / 60 % 60), WORD(second % 60), 0});
    }
    return times;
}
