#include "SystemdCalendar.h"

#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>
#include <limits>

namespace {

QString Two(int value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); }

QString List(quint32 mask, int count, int firstValue)
{
    QStringList values;
    for (int i = 0; i < count; ++i) {
        if (mask & (1u << i)) values << Two(i + firstValue);
    }
    return values.join(QLatin1Char(','));
}

QString Weekdays(quint8 mask)
{
    static const char* const names[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    QStringList days;
    for (int i = 0; i < 7; ++i) {
        if (mask & (1u << i)) days << QLatin1String(names[i]);
    }
    return days.join(QLatin1Char(','));
}

// The time part: one start, or the repetition as hour range and minute step.
std::optional<QString> TimeOfDay(const TriggerSchedule& t)
{
    const QTime start = t.start.Time();
    if (t.repetitionInterval == 0) return Two(start.hour()) + u':' + Two(start.minute()) + u':' + Two(start.second());
    const qint64 interval = t.repetitionInterval, duration = t.repetitionDuration;
    if (interval % 60 != 0 || 3600 % interval != 0 || start.minute() * 60 + start.second() >= interval) return std::nullopt;
    if (duration <= 0 || duration % 3600 != 0 || start.hour() + duration / 3600 > 24) return std::nullopt;
    const int lastHour = start.hour() + int(duration / 3600) - 1;
    const QString hours = lastHour == start.hour() ? Two(start.hour()) : Two(start.hour()) + QStringLiteral("..") + Two(lastHour);
    return hours + u':' + Two(start.minute()) + u'/' + QString::number(interval / 60) + u':' + Two(start.second());
}

LocalDateTime WallAt(qint64 utc, const QTimeZone& zone)
{
    const QDateTime moment = QDateTime::fromSecsSinceEpoch(utc, zone);
    return LocalDateTime(moment.date(), moment.time());
}

QDate SundayOf(QDate date) { return date.addDays(-(date.dayOfWeek() % 7)); }

} // namespace

QString SystemdCalendar::Program() { return QStandardPaths::findExecutable(QStringLiteral("systemd-analyze")); }

std::optional<QStringList> SystemdCalendar::Expressions(const TriggerSchedule& t)
{
    if (!t.start.IsValid()) return std::nullopt;
    const std::optional<QString> time = TimeOfDay(t);
    if (!time) return std::nullopt;
    const QString months = List(t.monthsOfYear, 12, 1);
    switch (t.kind) {
    case TriggerKind::Once:
        if (t.repetitionInterval != 0) return std::nullopt;
        return QStringList{t.start.Date().toString(QStringLiteral("yyyy-MM-dd")) + u' ' + *time};
    case TriggerKind::Daily:
        if (t.daysInterval < 1) return std::nullopt;
        return QStringList{QStringLiteral("*-*-* ") + *time};
    case TriggerKind::Weekly:
        if (!t.daysOfWeek || t.weeksInterval < 1) return std::nullopt;
        return QStringList{Weekdays(t.daysOfWeek) + QStringLiteral(" *-*-* ") + *time};
    case TriggerKind::MonthlyDate: {
        if (months.isEmpty()) return std::nullopt;
        QStringList expressions;
        const QString days = List(t.daysOfMonth, 31, 1);
        if (!days.isEmpty()) expressions << QStringLiteral("*-%1-%2 %3").arg(months, days, *time);
        if (t.runOnLastDayOfMonth) expressions << QStringLiteral("*-%1~01 %2").arg(months, *time);
        if (expressions.isEmpty()) return std::nullopt;
        return expressions;
    }
    case TriggerKind::MonthlyDow: {
        if (months.isEmpty() || !t.daysOfWeek) return std::nullopt;
        QStringList expressions, weeks;
        for (int n = 0; n < 4; ++n) {
            if (t.weeksOfMonth & (1u << n)) weeks << Two(7 * n + 1) + QStringLiteral("..") + Two(7 * n + 7);
        }
        const QString days = Weekdays(t.daysOfWeek);
        if (!weeks.isEmpty()) expressions << QStringLiteral("%1 *-%2-%3 %4").arg(days, months, weeks.join(u','), *time);
        if (t.weeksOfMonth & 0x10) expressions << QStringLiteral("%1 *-%2~01..07 %3").arg(days, months, *time);
        if (expressions.isEmpty()) return std::nullopt;
        return expressions;
    }
    case TriggerKind::Event: return std::nullopt;
    }
    return std::nullopt;
}

bool SystemdCalendar::Accepts(const TriggerSchedule& t, const LocalDateTime& wall)
{
    if (wall < t.start) return false;
    if (t.end && !(wall < *t.end)) return false;
    const QDate first = t.start.Date(), day = wall.Date();
    if (t.kind == TriggerKind::Daily) return first.daysTo(day) % t.daysInterval == 0;
    if (t.kind == TriggerKind::Weekly) return SundayOf(first).daysTo(SundayOf(day)) / 7 % t.weeksInterval == 0;
    return true;
}

std::optional<QList<SystemdCalendar::Elapses>> SystemdCalendar::Run(const QTimeZone& zone, qint64 afterUtc, int iterations,
                                                                    const QStringList& expressions, QString* error)
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TZ"), QString::fromLatin1(zone.id()));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    tool.setProcessEnvironment(environment);
    QStringList arguments{QStringLiteral("calendar"), QStringLiteral("--iterations=%1").arg(iterations),
                          QStringLiteral("--base-time=@%1").arg(afterUtc)};
    tool.start(Program(), arguments + expressions);
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        if (tool.state() != QProcess::NotRunning) {
            tool.kill();
            tool.waitForFinished();
        }
        *error = QStringLiteral("systemd-analyze failed: %1").arg(QString::fromLocal8Bit(tool.readAllStandardError()));
        return std::nullopt;
    }

    // Each expression gives a block: "Normalized form:", then "Next elapse:" and "Iter. #n:"
    // lines in local time, each followed by its "(in UTC):" line unless local time is UTC.
    static const QRegularExpression elapse(QStringLiteral(
        R"(^\s*(Next elapse|Iter\. #\d+|\(in UTC\)): \w{3} (\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}) (\S+)$)"));
    QList<Elapses> blocks;
    bool pendingUtc = false;
    const QStringList lines = QString::fromUtf8(tool.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("Normalized form:"))) {
            blocks.append(Elapses{});
            continue;
        }
        const QRegularExpressionMatch match = elapse.match(line);
        if (!match.hasMatch() || blocks.isEmpty()) continue;
        const bool utcLine = match.captured(1) == QLatin1String("(in UTC)");
        if (utcLine != pendingUtc) {
            *error = QStringLiteral("unexpected line: %1").arg(line);
            return std::nullopt;
        }
        QDateTime moment = QDateTime::fromString(match.captured(2), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        moment.setTimeZone(QTimeZone::utc());
        if (utcLine) {
            blocks.last().utc.last() = moment.toSecsSinceEpoch();
        } else {
            blocks.last().utc.append(moment.toSecsSinceEpoch());
        }
        pendingUtc = !utcLine && match.captured(3) != QLatin1String("UTC");
    }
    if (blocks.size() != expressions.size() || pendingUtc) {
        *error = QStringLiteral("%1 answers for %2 expressions").arg(blocks.size()).arg(expressions.size());
        return std::nullopt;
    }
    for (Elapses& block : blocks) block.truncated = block.utc.size() >= iterations;
    return blocks;
}

QList<qint64> SystemdCalendar::Runs(const TriggerSchedule& t, const QTimeZone& zone, const QList<Elapses>& elapses,
                                    bool* complete, qint64* until)
{
    *until = std::numeric_limits<qint64>::max();
    for (const Elapses& block : elapses) {
        if (block.truncated) *until = std::min(*until, block.utc.last());
    }
    *complete = *until == std::numeric_limits<qint64>::max();
    QList<qint64> merged;
    for (const Elapses& block : elapses) merged += block.utc;
    std::sort(merged.begin(), merged.end());
    merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
    QList<qint64> runs;
    for (qint64 utc : merged) {
        if (utc > *until) break;
        if (Accepts(t, WallAt(utc, zone))) runs.append(utc);
    }
    return runs;
}
