// How fast the schedule engine answers, and how that compares with systemd's calendar
// (`systemd-analyze calendar`) for the same schedules. Prints its figures; asserts nothing.
//
//   bench_engine            all figures, systemd included when installed
//   bench_engine --quick    the engine's figures only

#include "BestTiming.h"
#include "ScheduleEngine.h"
#include "SystemdCalendar.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <cstdio>
#include <functional>

namespace {

constexpr qint64 Minute = 60, Hour = 3600, Day = 86400;

// One run of systemd-analyze over `expressions` (split into calls small enough for the
// command line), in seconds, or a negative value when it fails.
double TimeSystemd(const QTimeZone& zone, qint64 afterUtc, int iterations, const QStringList& expressions)
{
    constexpr qsizetype PerCall = 4000;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TZ"), QString::fromLatin1(zone.id()));
    QElapsedTimer timer;
    timer.start();
    for (qsizetype at = 0; at < expressions.size(); at += PerCall) {
        QProcess tool;
        tool.setProcessEnvironment(environment);
        tool.setStandardOutputFile(QProcess::nullDevice());
        tool.start(SystemdCalendar::Program(),
                   QStringList{QStringLiteral("calendar"), QStringLiteral("--iterations=%1").arg(iterations),
                               QStringLiteral("--base-time=@%1").arg(afterUtc)} +
                       expressions.mid(at, PerCall));
        if (!tool.waitForFinished(600000) || tool.exitCode() != 0) {
            std::fprintf(stderr, "systemd-analyze failed: %s\n", tool.readAllStandardError().constData());
            return -1;
        }
    }
    return double(timer.nsecsElapsed()) / 1e9;
}

void PrintRatio(const char* what, double engine, double systemd)
{
    if (systemd < 0) {
        std::printf("  %-44s systemd-analyze not available\n", what);
        return;
    }
    std::printf("  %-44s systemd-analyze %.3f s, engine %.4f s: engine %.0fx faster\n", what, systemd, engine,
                systemd / engine);
}

// Random triggers of the calendar kinds, some repeating; each has a calendar-expression form.
TriggerSchedule RandomTrigger(QRandomGenerator& random, QDate around)
{
    auto below = [&random](int n) { return int(random.bounded(n)); };
    const LocalDateTime start(around.addDays(-below(700)), QTime(below(24) == 2 ? 3 : below(24), below(4) * 15));
    TriggerSchedule t;
    switch (below(5)) {
    case 0: t = TriggerSchedule::Once(LocalDateTime(around.addDays(below(60)), start.Time())); return t;
    case 1: t = TriggerSchedule::Daily(start, 1 + below(3)); break;
    case 2: t = TriggerSchedule::Weekly(start, 1 + below(2), quint8(1 + below(127))); break;
    case 3: t = TriggerSchedule::MonthlyDate(start, (1u << below(31)) | (1u << below(28)), quint16(1 + below(0xFFF)), below(4) == 0); break;
    default: t = TriggerSchedule::MonthlyDow(start, quint8(1 + below(31)), quint8(1 + below(127)), quint16(1 + below(0xFFF))); break;
    }
    if (below(4) == 0 && start.Time().minute() == 0 && start.Time().hour() < 20) t = t.Repeating(15 * Minute, 4 * Hour);
    return t;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    const bool haveSystemd = !quick && !SystemdCalendar::Program().isEmpty();

    const QTimeZone utc = QTimeZone::utc(), berlin("Europe/Berlin");
    std::printf("Schedule engine benchmark (best of %d)\n\n", TimingRepeats);

    // 0. A process's first answer: the engine is made and its zone table built on first use.
    {
        const TriggerSchedule daily = TriggerSchedule::Daily(LocalDateTime(QDate(2020, 1, 1), QTime(8, 0)));
        const QDateTime now(QDate(2025, 6, 15), QTime(10, 30), berlin);
        const double made = Best([&] { const ScheduleEngine engine(berlin); });
        const double first = Best([&] {
            const ScheduleEngine engine(berlin);
            if (!engine.NextRunAfter(daily, now)) std::abort();
        });
        std::printf("A new engine for Europe/Berlin: %.1f us; with its first answer (zone table built): %.1f us\n\n",
                    made * 1e6, first * 1e6);
    }

    // 1. Every minute for a year.
    {
        const ScheduleEngine engine(utc);
        const TriggerSchedule trigger = TriggerSchedule::Daily(LocalDateTime(QDate(2025, 1, 1), QTime(0, 0))).Repeating(Minute, Day);
        const QDateTime begin(QDate(2025, 1, 1), QTime(0, 0), utc), end(QDate(2025, 12, 31), QTime(23, 59, 59), utc);
        qsizetype count = 0;
        const double seconds = Best([&] { count = engine.RunTimes(trigger, begin, end, 1000000).size(); });
        std::printf("Run times of a trigger repeating every minute for 2025 (UTC): %lld times in %.4f s (%.1f ns each)\n",
                    static_cast<long long>(count), seconds, seconds * 1e9 / double(count));
        const ScheduleEngine local(berlin);
        const QDateTime localBegin(QDate(2025, 1, 1), QTime(0, 0), berlin), localEnd(QDate(2025, 12, 31), QTime(23, 59, 59), berlin);
        const double localSeconds = Best([&] { count = local.RunTimes(trigger, localBegin, localEnd, 1000000).size(); });
        std::printf("  the same in Europe/Berlin: %lld times in %.4f s\n", static_cast<long long>(count), localSeconds);
        if (haveSystemd) {
            const double systemd = TimeSystemd(utc, begin.toSecsSinceEpoch() - 1, 525600, {QStringLiteral("*-*-* *:*:00")});
            PrintRatio("525,600 elapses of \"*-*-* *:*:00\":", seconds, systemd);
        }
    }

    // 2. The next run of 100,000 tasks.
    {
        const ScheduleEngine engine(berlin);
        QRandomGenerator random(20250101);
        const QDate today(2025, 6, 15);
        const QDateTime now(today, QTime(10, 30), berlin);
        QList<Schedule> tasks(100000);
        qsizetype triggers = 0;
        for (Schedule& task : tasks) {
            for (int n = 1 + int(random.bounded(3)); n > 0; --n) task.triggers << RandomTrigger(random, today);
            triggers += task.triggers.size();
        }
        qsizetype found = 0;
        const double seconds = Best([&] {
            found = 0;
            for (const Schedule& task : tasks) found += engine.NextRunAfter(task, now).has_value();
        });
        std::printf("\nNext run time of 100,000 tasks (%lld triggers, Europe/Berlin): %.4f s (%.0f ns per task), %lld have one\n",
                    static_cast<long long>(triggers), seconds, seconds * 1e9 / double(tasks.size()),
                    static_cast<long long>(found));
        if (haveSystemd) {
            QStringList expressions;
            for (const Schedule& task : tasks) {
                for (const TriggerSchedule& t : task.triggers) expressions += SystemdCalendar::Expressions(t).value();
            }
            const double systemd = TimeSystemd(berlin, now.toSecsSinceEpoch(), 1, expressions);
            const QString what = QStringLiteral("next elapse of their %1 expressions:").arg(expressions.size());
            PrintRatio(qPrintable(what), seconds, systemd);
        }
    }

    // 3. The cost of "next run" against the distance to it.
    {
        const ScheduleEngine engine(berlin);
        const QDateTime now(QDate(2025, 6, 15), QTime(10, 30), berlin);
        struct Distance {
            const char* what;
            TriggerSchedule trigger;
        };
        auto at = [](int year, int month, int day) { return LocalDateTime(QDate(year, month, day), QTime(8, 0)); };
        const QList<Distance> distances{
            {"daily, next run tomorrow", TriggerSchedule::Daily(at(2020, 1, 1))},
            {"daily, first run in 10 years", TriggerSchedule::Daily(at(2035, 6, 15))},
            {"daily, first run in 1,000 years", TriggerSchedule::Daily(at(3025, 6, 15))},
            {"daily, first run in 7,000 years", TriggerSchedule::Daily(at(9025, 6, 15))},
            {"weekly every 3 weeks, began 100 years ago", TriggerSchedule::Weekly(at(1925, 1, 1), 3, 0x22)},
            {"last Friday of December, next in 6 months", TriggerSchedule::MonthlyDow(at(2020, 1, 1), 0x10, 0x20, 0x800)},
            {"29 February, next in 2028", TriggerSchedule::MonthlyDate(at(2020, 1, 1), 1u << 28, 0x2)},
            {"29 February from 2097, next in 2104", TriggerSchedule::MonthlyDate(at(2097, 3, 1), 1u << 28, 0x2)},
            {"31 February: never", TriggerSchedule::MonthlyDate(at(2020, 1, 1), 1u << 30, 0x2)},
            {"every 7 minutes since 1990, indefinitely", TriggerSchedule::Once(at(1990, 1, 1)).Repeating(7 * Minute)},
        };
        std::printf("\nNext run against the distance to it (Europe/Berlin):\n");
        constexpr int Calls = 20000;
        for (const Distance& d : distances) {
            std::optional<RunTime> next;
            const double seconds = Best([&] {
                for (int i = 0; i < Calls; ++i) next = engine.NextRunAfter(d.trigger, now);
            });
            std::printf("  %-44s %7.0f ns per call -> %s\n", d.what, seconds * 1e9 / Calls,
                        next ? qPrintable(next->ToDateTime(berlin).toString(Qt::ISODate)) : "never");
        }
    }
    return 0;
}
