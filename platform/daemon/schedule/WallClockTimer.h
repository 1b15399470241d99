#pragma once
// A timer on the wall clock itself, not on elapsed time.

#include "schedule/Clock.h"

class QSocketNotifier;

/// Fires at an absolute wall-clock time (timerfd on CLOCK_REALTIME): a start at 09:00 happens
/// at 09:00 even when the computer slept in between or the clock was set, and a clock that is
/// set wakes the timer at once so that its owner can look at its times again. Between times
/// it costs nothing: no polling, no wake-ups. A timer that wakes the system (CLOCK_REALTIME_ALARM)
/// also resumes a sleeping computer at its time; only a process with CAP_WAKE_ALARM may have one.
class WallClockTimer : public WakeTimer {
    Q_OBJECT
public:
    enum Kind { Plain, WakesSystem };
    explicit WallClockTimer(Kind kind = Plain, QObject* parent = nullptr);
    /// Why the timer could not be made; empty when it is valid.
    QString Error() const { return m_error; }
    ~WallClockTimer() override;

    bool IsValid() const { return m_fd >= 0; }
    void ArmAt(const QDateTime& when) override;
    void Disarm() override;

private:
    void OnReadable();

    int m_fd = -1;
    QString m_error;
    QSocketNotifier* m_notifier = nullptr;
};
