#include "LocalDateTime.h"

LocalDateTime::LocalDateTime(QDate date, QTime time)
{
    if (!date.isValid() || !time.isValid()) return;
    m_valid = true;
    m_seconds = StartOfDay(date.toJulianDay()) + time.msecsSinceStartOfDay() / 1000;
}

LocalDateTime LocalDateTime::FromSeconds(qint64 seconds)
{
    LocalDateTime value;
    value.m_valid = true;
    value.m_seconds = seconds;
    return value;
}

QDate LocalDateTime::Date() const
{
    return m_valid ? QDate::fromJulianDay(Day()) : QDate();
}

QTime LocalDateTime::Time() const
{
    return m_valid ? QTime::fromMSecsSinceStartOfDay(SecondOfDay() * 1000) : QTime();
}

QString LocalDateTime::ToString() const
{
    if (!m_valid) return {};
    return Date().toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char('T') + Time().toString(QStringLiteral("HH:mm:ss"));
}
