#pragma once
// Keeps a flood of the same complaint from flooding the log.

#include <QtGlobal>

/// Lets at most `burst` messages through in each window of `windowMs`; the rest are counted,
/// and the first message let through after them says how many were left out.
class LogRateLimit {
public:
    LogRateLimit(int burst, qint64 windowMs) : m_burst(burst), m_windowMs(windowMs) {}

    /// Whether a message may be logged at `nowMs`. When it may, `suppressed` is set to the
    /// number of messages left out since the last one logged.
    bool Allow(qint64 nowMs, qint64* suppressed);
    /// The same, now on the monotonic clock.
    bool Allow(qint64* suppressed);

private:
    int m_burst;
    qint64 m_windowMs;
    qint64 m_windowStart = 0;
    int m_inWindow = 0;
    qint64 m_suppressed = 0;
    bool m_started = false;
};
