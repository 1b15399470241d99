#include "RunningInstance.h"

#include "ProcessFd.h"

#include <QDateTime>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcInstance, "taskschedd.instance")

RunningInstance::RunningInstance(InstanceDescription description, pid_t pid, bool ownChild, qint64 limitMs, bool allowHardTerminate, QObject* parent)
    : QObject(parent), m_description(std::move(description)), m_pid(pid), m_ownChild(ownChild), m_allowHardTerminate(allowHardTerminate)
{
    m_fd = OpenProcessFd(pid);
    if (m_fd < 0) return;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &RunningInstance::OnExited);

    m_killTimer.setSingleShot(true);
    connect(&m_killTimer, &QTimer::timeout, this, &RunningInstance::KillHard);
    if (limitMs > 0) {
        m_limitTimer.setSingleShot(true);
        m_limitTimer.setTimerType(Qt::PreciseTimer);
        // QTimer takes an int, so a limit beyond 24 days is reached in several turns.
        auto arm = [this, limitMs] {
            const qint64 left = limitMs - m_description.start.msecsTo(QDateTime::currentDateTime());
            if (left <= 0) return false;
            m_limitTimer.start(int(std::min<qint64>(left, std::numeric_limits<int>::max())));
            return true;
        };
        connect(&m_limitTimer, &QTimer::timeout, this, [this, arm] {
            if (arm()) return;
            qCInfo(lcInstance) << m_description.task << "instance" << m_description.id << "reached its time limit";
            Stop(StopReason::TimeLimit);
        });
        if (!arm()) m_limitTimer.start(0);
    }
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
    m_notifier->setEnabled(false);
    m_limitTimer.stop();
    m_killTimer.stop();
    if (m_ownChild) {
        siginfo_t info{};
        ::waitid(P_PID, id_t(m_pid), &info, WEXITED | WNOHANG);
    }
    emit Ended(this);
}
