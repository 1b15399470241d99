#pragma once
// One instance of a task while it runs: its supervisor process, its time limit and its stop.

#include "run/InstanceDescription.h"
#include "run/RunResults.h"

#include <QObject>
#include <QTimer>
#include <sys/types.h>

class QSocketNotifier;

class RunningInstance : public QObject {
    Q_OBJECT
public:
    /// How long a stopped instance has to end before it is killed.
    static constexpr int StopGraceMs = 5000;
    /// How often a supervisor that could not be watched (no descriptor left) is tried again.
    static constexpr int WatchRetryMs = 500;

    /// Watches supervisor `pid`. `ownChild`: the daemon started it and must reap it; otherwise it
    /// was taken over from an earlier daemon. `limitMs` > 0 stops the instance that long after
    /// its start, and the description's stopAt stops it then, even when that time passed while
    /// no daemon ran. False from IsValid() when the process is gone already. One that cannot be
    /// watched for another reason (the daemon is out of descriptors) is tried again until it can.
    RunningInstance(InstanceDescription description, pid_t pid, bool ownChild, qint64 limitMs, bool allowHardTerminate, QObject* parent = nullptr);
    ~RunningInstance() override;

    bool IsValid() const { return !m_gone; }
    const InstanceDescription& Description() const { return m_description; }
    pid_t Pid() const { return m_pid; }
    StopReason Reason() const { return m_reason; }
    bool HasEnded() const { return m_ended; }

    /// Asks the instance to stop (SIGTERM to its program) and kills it after the grace period,
    /// unless the task forbids a hard end. The first reason given is the one recorded.
    void Stop(StopReason reason);

signals:
    /// The supervisor has ended; its outcome file says how the instance went.
    void Ended(RunningInstance* instance);

private:
    /// Opens the process descriptor and watches it; false, with errno kept and m_gone telling
    /// whether the process has ended, when it cannot be opened.
    bool TryWatch();
    void OnExited();
    void KillHard();
    /// Stops the instance for `reason` at `deadline` (at once when it has passed).
    void StopAt(QTimer& timer, const QDateTime& deadline, StopReason reason);

    InstanceDescription m_description;
    pid_t m_pid;
    bool m_ownChild;
    bool m_allowHardTerminate;
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QTimer m_limitTimer;
    QTimer m_repetitionTimer;
    QTimer m_killTimer;
    QTimer m_watchRetry;
    bool m_gone = false;
    StopReason m_reason = StopReason::None;
    bool m_ended = false;
};
