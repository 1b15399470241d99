#include "OleDate.h"

#include <cmath>

namespace {
const QDate kEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;
}

DATE OleDate::FromDateTime(const QDateTime& dt)
{
    if (!dt.isValid()) return 0;
    const QDateTime local = dt.toLocalTime();
    const double days = double(kEpoch.daysTo(local.date()));
    return days + local.time().msecsSinceStartOfDay() / kMsPerDay;
}

QDateTime OleDate::ToDateTime(DATE date)
{
    if (date == 0 || !std::isfinite(date)) return {};
    const double whole = std::floor(date);
    const qint64 ms = qint64(std::llround((date - whole) * kMsPerDay));
    return QDateTime(kEpoch.addDays(qint64(whole)), QTime(0, 0)).addMSecs(ms);
}

SYSTEMTIME OleDate::ToSystemTime(const QDateTime& dt)
{
    const QDateTime local = dt.toLocalTime();
    const QDate d = local.date();
    const QTime t = local.time();
    return SYSTEMTIME{WORD(d.year()), WORD(d.month()), WORD(d.dayOfWeek() % 7), WORD(d.day()),
                      WORD(t.hour()), WORD(t.minute()), WORD(t.second()), WORD(t.msec())};
}

QDateTime OleDate::FromSystemTime(const SYSTEMTIME& st)
{
    const QDate d(st.wYear, st.wMonth, st.wDay);
    const QTime t(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    if (!d.isValid() || !t.isValid()) return {};
    return QDateTime(d, t);
}
