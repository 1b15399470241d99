#pragma once

#include <QElapsedTimer>

#include <algorithm>
#include <functional>

/// How many times Best() times its work.
constexpr int TimingRepeats = 5;

/// The best of a few timings of `work`, in seconds: the one least disturbed by other work on
/// the machine.
inline double Best(const std::function<void()>& work)
{
    double best = 1e300;
    for (int i = 0; i < TimingRepeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, double(timer.nsecsElapsed()) / 1e9);
    }
    return best;
}
