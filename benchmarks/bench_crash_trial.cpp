// Kills a real taskschedd many times at random moments while a client changes tasks, and
// reports what the kills left: acknowledged changes lost, stored files damaged.
// Usage:
//   bench_crash_trial [trials] [seed] [max-delay-ms]
// Defaults: 300 trials, seed 20261209, kills up to 150 ms after the daemon answered. The
// root is a fresh temporary one, removed afterwards.

#include "CrashTrial.h"
#include "ObjectRuntime.h"
#include "TemporaryServiceRoot.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int trials = args.size() > 1 ? args[1].toInt() : 300;
    const quint32 seed = args.size() > 2 ? args[2].toUInt() : 20261209u;
    const int maxDelayMs = args.size() > 3 ? args[3].toInt() : 150;
    qunsetenv("TASKSCHEDULER_TRANSPORT");
    CoInitialize(nullptr);
    TemporaryServiceRoot root;
    QElapsedTimer timer;
    timer.start();
    const CrashTrial::Result result = CrashTrial::Run(root.Path(), trials, seed, maxDelayMs);
    const qint64 ms = timer.elapsed();
    CoUninitialize();

    std::printf("kills:                   %d (seed %u, up to %d ms after start)\n", result.trials, seed, maxDelayMs);
    std::printf("acknowledged changes:    %d\n", result.acknowledged);
    std::printf("cut off by a kill:       %d\n", result.unanswered);
    std::printf("acknowledged and lost:   %d\n", result.lost);
    std::printf("damaged files:           %d\n", result.damaged);
    std::printf("time:                    %.1f s (%.0f ms a kill)\n", ms / 1000.0, result.trials ? double(ms) / result.trials : 0.0);
    for (const QString& problem : result.problems) std::printf("  %s\n", qPrintable(problem));
    return result.problems.isEmpty() && result.trials == trials ? 0 : 1;
}
