#pragma once
// The transport to the service of another computer, through the user's OpenSSH client.

#include "ComBase.h"
#include "ServiceTransport.h"

#include <QString>
#include <memory>

class QProcess;
struct SshOutcome;

/// Speaks the service's frames with `taskschedd --stdio` on another computer, over the
/// standard input and output of an ssh process (SshCommand). The remote program hands them
/// to that computer's service as the login user, so the same access rules apply as on its
/// own socket. Every wait is bounded and nothing ever prompts. A failure answers with a reply
/// whose "hr" and "error" say what happened in ssh's own words, and leaves that description
/// as the thread's error information too. A connection found lost is made again, once, by
/// the next call.
class SshTransport : public ServiceTransport {
public:
    /// How long the first answer on a new connection may take: reaching the computer, logging
    /// in, and starting its service when it does not run.
    static constexpr int HandshakeTimeoutMs = 15000;
    /// How long any later request may take to be answered.
    static constexpr int ReplyTimeoutMs = 60000;

    /// The channel to `host` as `user` (empty: whatever ssh chooses). Nothing is started yet.
    explicit SshTransport(QString host, QString user = {});
    /// Ends the ssh process: the remote program sees the end of its input and ends too.
    ~SshTransport() override;

    /// Sends a request and waits for its reply, connecting first when there is no connection.
    QCborMap Call(const QCborMap& request) override;
    /// Whether the ssh process runs.
    bool IsConnected();
    /// The computer as it was given.
    QString Host() const { return m_host; }

private:
    QCborMap Start();
    QCborMap Exchange(const QCborMap& request, int timeoutMs);
    QCborMap Ended(bool timedOut, int timeoutMs);
    QCborMap Fail(HRESULT hr, const QString& message);
    void Stop();

    QString m_host;
    QString m_user;
    std::unique_ptr<QProcess> m_process;
    bool m_answered = false;
};
