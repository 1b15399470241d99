#include "schedule/WallClockTimer.h"

#include <QLoggingCategory>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <sys/timerfd.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcTimer, "taskschedd.timer")

WallClockTimer::WallClockTimer(Kind kind, QObject* parent) : WakeTimer(parent)
{
    m_fd = ::timerfd_create(kind == WakesSystem ? CLOCK_REALTIME_ALARM : CLOCK_REALTIME, TFD_CLOEXEC | TFD_NONBLOCK);
    if (m_fd < 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        // The owner of a timer that wakes the system says what that means for it.
        if (kind == Plain) qCCritical(lcTimer) << "no wall-clock timer:" << m_error;
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &WallClockTimer::OnReadable);
}

WallClockTimer::~WallClockTimer()
{
    delete m_notifier;
    if (m_fd >= 0) ::close(m_fd);
}

void WallClockTimer::ArmAt(const QDateTime& when)
{
    if (m_fd < 0) return;
    qint64 ms = when.toMSecsSinceEpoch();
    if (ms <= 0) ms = 1;   // an all-zero value would disarm
    itimerspec expiry{};
    expiry.it_value.tv_sec = time_t(ms / 1000);
    expiry.it_value.tv_nsec = long(ms % 1000) * 1000000L;
    // A time already past expires at once, so the owner is woken from the event loop.
    if (::timerfd_settime(m_fd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &expiry, nullptr) != 0)
        qCWarning(lcTimer) << "cannot arm the timer:" << std::strerror(errno);
}

void WallClockTimer::Disarm()
{
    if (m_fd < 0) return;
    const itimerspec expiry{};
    ::timerfd_settime(m_fd, 0, &expiry, nullptr);
}

void WallClockTimer::OnReadable()
{
    quint64 expirations = 0;
    const ssize_t n = ::read(m_fd, &expirations, sizeof(expirations));
    if (n < 0 && errno == EAGAIN) return;
    // ECANCELED: the clock was set. The timer stays disarmed until the owner arms it again.
    emit Woken();
}
