#include "SshTransport.h"

#include "DaemonProtocol.h"
#include "FrameReader.h"
#include "ResultCodes.h"
#include "SshCommand.h"
#include "SshFailure.h"

#include <QDeadlineTimer>
#include <QProcess>

namespace {

constexpr int StartTimeoutMs = 5000;
constexpr int EndWaitMs = 2000;

} // namespace

SshTransport::SshTransport(QString host, QString user) : m_host(std::move(host)), m_user(std::move(user)) {}

SshTransport::~SshTransport()
{
    Stop();
}

void SshTransport::Stop()
{
    if (!m_process) return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->closeWriteChannel();
        if (!m_process->waitForFinished(EndWaitMs)) {
            m_process->kill();
            m_process->waitForFinished(EndWaitMs);
        }
    }
    m_process.reset();
}

bool SshTransport::IsConnected()
{
    if (!m_process) return false;
    // Notices an ssh that ended since the last call.
    if (m_process->state() == QProcess::Running) m_process->waitForFinished(0);
    return m_process->state() == QProcess::Running;
}

QCborMap SshTransport::Fail(HRESULT hr, const QString& message)
{
    SetErrorDescription(hr, message);
    return DaemonProtocol::ErrorReply(hr, message);
}

QCborMap SshTransport::Call(const QCborMap& request)
{
    if (IsConnected()) return Exchange(request, ReplyTimeoutMs);
    Stop();
    if (!SshCommand::IsValidHost(m_host))
        return Fail(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), QStringLiteral("\"%1\" is not the name of a computer.").arg(m_host));
    if (!m_user.isEmpty() && !SshCommand::IsValidUser(m_user))
        return Fail(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), QStringLiteral("\"%1\" is not the name of a user.").arg(m_user));
    const QCborMap failure = Start();
    if (!failure.isEmpty()) return failure;
    return Exchange(request, HandshakeTimeoutMs);
}

QCborMap SshTransport::Start()
{
    m_process = std::make_unique<QProcess>();
    SshCommand::Prepare(*m_process, m_host, m_user);
    m_answered = false;
    m_process->start();
    if (m_process->waitForStarted(StartTimeoutMs)) return {};
    SshOutcome outcome;
    outcome.started = false;
    outcome.startError = QStringLiteral("\"%1\": %2").arg(m_process->program(), m_process->errorString());
    m_process.reset();
    const SshFailure failure = SshFailure::Describe(m_host, outcome);
    return Fail(failure.code, failure.message);
}

QCborMap SshTransport::Ended(bool timedOut, int timeoutMs)
{
    SshOutcome outcome;
    outcome.answered = m_answered;
    if (timedOut) {
        outcome.timedOut = true;
        outcome.timeoutSeconds = (timeoutMs + 999) / 1000;
        m_process->kill();
    }
    m_process->closeWriteChannel();
    m_process->waitForFinished(EndWaitMs);
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(EndWaitMs);
    }
    outcome.crashed = !timedOut && m_process->exitStatus() == QProcess::CrashExit;
    outcome.exitCode = m_process->exitCode();
    outcome.standardError = QString::fromLocal8Bit(m_process->readAllStandardError());
    m_process.reset();
    const SshFailure failure = SshFailure::Describe(m_host, outcome);
    return Fail(failure.code, failure.message);
}

QCborMap SshTransport::Exchange(const QCborMap& request, int timeoutMs)
{
    const QByteArray frame = DaemonProtocol::EncodeFrame(request);
    if (frame.size() - DaemonProtocol::HeaderSize > DaemonProtocol::MaxRequestSize)
        return DaemonProtocol::ErrorReply(E_INVALIDARG, QStringLiteral("The request is too large for the service."));

    const QDeadlineTimer deadline(timeoutMs);
    auto remaining = [&] { return int(std::max<qint64>(deadline.remainingTime(), 0)); };
    m_process->write(frame);
    while (m_process->bytesToWrite() > 0) {
        if (!m_process->waitForBytesWritten(remaining()))
            return Ended(m_process->state() == QProcess::Running && deadline.hasExpired(), timeoutMs);
    }

    FrameReader reader(DaemonProtocol::MaxReplySize);
    for (;;) {
        reader.Append(m_process->readAllStandardOutput());
        QCborMap reply;
        QString error;
        switch (reader.Next(&reply, &error)) {
        case FrameReader::Message:
            // Reports of changes may come between the replies; they are not this call's answer.
            if (DaemonProtocol::IsNotice(reply)) continue;
            if (!reply.value(DaemonProtocol::Key::Hr).isInteger()) {
                Stop();
                return Fail(HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
                            QStringLiteral("The answer of the computer \"%1\" carries no result code.").arg(m_host));
            }
            m_answered = true;
            return reply;
        case FrameReader::BadPayload:
        case FrameReader::BadStream:
            Stop();
            return Fail(HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
                        QStringLiteral("The answer of the computer \"%1\" is unreadable: %2").arg(m_host, error));
        case FrameReader::NeedMore:
            break;
        }
        if (m_process->state() != QProcess::Running) return Ended(false, timeoutMs);
        if (!m_process->waitForReadyRead(remaining())) {
            if (m_process->state() == QProcess::Running && deadline.hasExpired()) return Ended(true, timeoutMs);
            // Its output ended: ssh is ending, or has.
            if (m_process->bytesAvailable() == 0) return Ended(false, timeoutMs);
        }
    }
}
