#include "server/LogRateLimit.h"

#include <QDeadlineTimer>

bool LogRateLimit::Allow(qint64* suppressed) { return Allow(QDeadlineTimer::current().deadline(), suppressed); }

bool LogRateLimit::Allow(qint64 nowMs, qint64* suppressed)
{
    if (!m_started || nowMs - m_windowStart >= m_windowMs || nowMs < m_windowStart) {
        m_started = true;
        m_windowStart = nowMs;
        m_inWindow = 0;
    }
    if (m_inWindow >= m_burst) {
        ++m_suppressed;
        return false;
    }
    ++m_inWindow;
    if (suppressed) *suppressed = m_suppressed;
    m_suppressed = 0;
    return true;
}
