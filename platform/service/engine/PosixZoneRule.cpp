#include "PosixZoneRule.h"

#include "CivilDate.h"
#include "LocalDateTime.h"

#include <cctype>

// A cursor over the TZ text; every read returns false on text it cannot take.
class PosixZoneRule::Reader {
public:
    explicit Reader(const QByteArray& text) : m_text(text) {}

    bool AtEnd() const { return m_at >= m_text.size(); }
    bool Take(char c)
    {
        if (AtEnd() || m_text[m_at] != c) return false;
        ++m_at;
        return true;
    }
    char Peek() const { return AtEnd() ? '\0' : m_text[m_at]; }

    // "CET", or a quoted "<+0330>".
    bool Name()
    {
        if (Take('<')) {
            const qsizetype close = m_text.indexOf('>', m_at);
            if (close < 0 || close == m_at) return false;
            m_at = close + 1;
            return true;
        }
        const qsizetype begin = m_at;
        while (!AtEnd() && std::isalpha(static_cast<unsigned char>(m_text[m_at]))) ++m_at;
        return m_at - begin >= 3;
    }

    bool Number(int* value, int max)
    {
        if (AtEnd() || !std::isdigit(static_cast<unsigned char>(Peek()))) return false;
        int n = 0;
        while (!AtEnd() && std::isdigit(static_cast<unsigned char>(Peek()))) {
            n = n * 10 + (m_text[m_at++] - '0');
            if (n > max) return false;
        }
        *value = n;
        return true;
    }

    // [+-]hh[:mm[:ss]] in seconds.
    bool Time(int* seconds, int maxHours)
    {
        const int sign = Take('-') ? -1 : (Take('+'), 1);
        int hours = 0, minutes = 0, secs = 0;
        if (!Number(&hours, maxHours)) return false;
        if (Take(':')) {
            if (!Number(&minutes, 59)) return false;
            if (Take(':') && !Number(&secs, 59)) return false;
        }
        *seconds = sign * (hours * 3600 + minutes * 60 + secs);
        return true;
    }

    bool RuleDate(Date* date)
    {
        if (Take('M')) {
            date->form = Date::MonthWeekDay;
            if (!Number(&date->month, 12) || date->month < 1 || !Take('.') || !Number(&date->week, 5) || date->week < 1 ||
                !Take('.') || !Number(&date->day, 6))
                return false;
        } else if (Take('J')) {
            date->form = Date::JulianNoLeap;
            if (!Number(&date->day, 365) || date->day < 1) return false;
        } else {
            date->form = Date::ZeroBased;
            if (!Number(&date->day, 365)) return false;
        }
        date->seconds = 7200;
        return !Take('/') || Time(&date->seconds, 167);
    }

private:
    const QByteArray& m_text;
    qsizetype m_at = 0;
};

std::optional<PosixZoneRule> PosixZoneRule::Parse(const QByteArray& text)
{
    Reader reader(text);
    PosixZoneRule rule;
    int west = 0;
    if (!reader.Name() || !reader.Time(&west, 24)) return std::nullopt;
    rule.m_standard = -west;
    if (reader.AtEnd()) return rule;
    if (!reader.Name()) return std::nullopt;
    rule.m_hasDst = true;
    rule.m_dst = rule.m_standard + 3600;
    if (reader.Peek() != ',' && !reader.AtEnd()) {
        if (!reader.Time(&west, 24)) return std::nullopt;
        rule.m_dst = -west;
    }
    if (reader.AtEnd()) {
        // No dates: the United States' rule, as the C library assumes.
        rule.m_start = Date{Date::MonthWeekDay, 0, 3, 2, 7200};
        rule.m_end = Date{Date::MonthWeekDay, 0, 11, 1, 7200};
        return rule;
    }
    if (!reader.Take(',') || !reader.RuleDate(&rule.m_start) || !reader.Take(',') || !reader.RuleDate(&rule.m_end) ||
        !reader.AtEnd())
        return std::nullopt;
    return rule;
}

qint64 PosixZoneRule::Date::JulianDayIn(int year) const
{
    const qint64 newYear = CivilDate::NewYear(year);
    switch (form) {
    case JulianNoLeap: return newYear + day - 1 + (CivilDate::IsLeapYear(year) && day >= 60 ? 1 : 0);
    case ZeroBased: return newYear + day;
    case MonthWeekDay: break;
    }
    const qint64 first = CivilDate::JulianDay(year, month, 1);
    // Julian day 0 is a Monday: (jd + 1) % 7 is the weekday with Sunday 0.
    qint64 jd = first + (day - (first + 1) % 7 + 7) % 7 + 7 * (week - 1);
    const qint64 last = first + CivilDate::DaysInMonth(year, month) - 1;
    while (jd > last) jd -= 7;
    return jd;
}

QVarLengthArray<PosixZoneRule::Change, 2> PosixZoneRule::ChangesOf(int year) const
{
    QVarLengthArray<Change, 2> changes;
    if (!m_hasDst) return changes;
    const auto wall = [](const Date& d, int year) { return LocalDateTime::StartOfDay(d.JulianDayIn(year)) + d.seconds; };
    const Change begins{wall(m_start, year) - m_standard, m_dst};
    const Change ends{wall(m_end, year) - m_dst, m_standard};
    if (begins.atUtc <= ends.atUtc) changes << begins << ends;
    else changes << ends << begins;
    return changes;
}
