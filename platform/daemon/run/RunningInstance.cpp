#include "run/RunningInstance.h"

#include "run/ProcessFd.h"

#include <QDateTime>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcInstance, "taskschedd.instance")

RunningInstance::RunningInstance(InstanceDescription description, pid_t pid, bool ownChild, qint64 limitMs, bool allowHardTerminate, QObject* parent)
    : QObject(parent), m_description(std::move(description)), m_pid(pid), m_ownChild(ownChild), m_allowHardTerminate(allowHardTerminate)
{
    if (!TryWatch()) {
        const int why = errno;
        if (m_gone) return;
        // Out of descriptors, say: the supervisor goes on all the same, so it is looked at again
        // until it can be watched or is gone, rather than its run recorded as lost while it runs.
        qCWarning(lcInstance) << m_description.task << "instance" << m_description.id << "supervisor" << pid
                              << "cannot be watched yet:" << std::strerror(why) << "- trying again";
        m_watchRetry.setInterval(WatchRetryMs);
        connect(&m_watchRetry, &QTimer::timeout, this, [this] {
            if (TryWatch()) m_watchRetry.stop();
            else if (m_gone) OnExited();
        });
        m_watchRetry.start();
    }

    m_killTimer.setSingleShot(true);
    connect(&m_killTimer, &QTimer::timeout, this, &RunningInstance::KillHard);
    if (limitMs > 0) StopAt(m_limitTimer, m_description.start.addMSecs(limitMs), StopReason::TimeLimit);
    if (m_description.stopAt.isValid()) StopAt(m_repetitionTimer, m_description.stopAt, StopReason::RepetitionEnd);
}

bool RunningInstance::TryWatch()
{
    m_fd = OpenProcessFd(m_pid);
    if (m_fd < 0) {
        m_gone = errno == ESRCH;
        return false;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &RunningInstance::OnExited);
    return true;
}

void RunningInstance::StopAt(QTimer& timer, const QDateTime& deadline, StopReason reason)
{
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    // QTimer takes an int, so a deadline beyond 24 days is reached in several turns.
    auto arm = [&timer, deadline] {
        const qint64 left = QDateTime::currentDateTime().msecsTo(deadline);
        if (left <= 0) return false;
        timer.start(int(std::min<qint64>(left, std::numeric_limits<int>::max())));
        return true;
    };
    connect(&timer, &QTimer::timeout, this, [this, arm, reason] {
        if (arm()) return;
        qCInfo(lcInstance) << m_description.task << "instance" << m_description.id
                           << (reason == StopReason::TimeLimit ? "reached its time limit" : "reached the end of its trigger's repetition");
        Stop(reason);
    });
    if (!arm()) timer.start(0);
}

RunningInstance::~RunningInstance()
{
    delete m_notifier;
    if (m_fd >= 0) ::close(m_fd);
}

void RunningInstance::Stop(StopReason reason)
{
    if (m_ended) return;
    if (m_reason == StopReason::None) m_reason = reason;
    m_limitTimer.stop();
    m_repetitionTimer.stop();
    ::kill(m_pid, SIGTERM);
    if (m_allowHardTerminate && !m_killTimer.isActive()) m_killTimer.start(StopGraceMs);
}

void RunningInstance::KillHard()
{
    if (m_ended) return;
    qCInfo(lcInstance) << m_description.task << "instance" << m_description.id << "did not end in time; killed";
    ::kill(m_pid, SIGUSR1);
}

void RunningInstance::OnExited()
{
    if (m_ended) return;
    m_ended = true;
    if (m_notifier) m_notifier->setEnabled(false);
    m_watchRetry.stop();
    m_limitTimer.stop();
    m_repetitionTimer.stop();
    m_killTimer.stop();
    if (m_ownChild) {
        siginfo_t info{};
        ::waitid(P_PID, id_t(m_pid), &info, WEXITED | WNOHANG);
    }
    emit Ended(this);
}
