#pragma once
// One client served on standard input and output: the remote end of a connection from
// another computer (taskschedd --stdio, started there by ssh).

#include "FrameReader.h"

#include <QObject>
#include <QString>
#include <memory>

class QLocalSocket;
class QSocketNotifier;

/// Hands the frames read from `inputFd` to the daemon of a root over its local socket and
/// writes the daemon's frames to `outputFd`, unchanged in meaning: replies and anything else
/// the daemon sends. The daemon is started when it does not run, as a local client would
/// start it, and is connected to again when it went away between requests. It sees this
/// process, which runs as the user who logged in, as its client: its access rules apply as
/// they do on its own computer. A request the daemon cannot take is answered here with a
/// failure reply that says why. A subscription to the daemon's notices starts no daemon,
/// and a connection that subscribed ends when its daemon goes away.
class StdioBridge : public QObject {
    Q_OBJECT
public:
    /// How long a daemon that was just started may take to listen.
    static constexpr int StartWaitMs = 5000;

    StdioBridge(QString rootPath, int inputFd, int outputFd, QObject* parent = nullptr);
    ~StdioBridge() override;

    /// Starts reading the input.
    void Start();

signals:
    /// The input ended (and every request read was answered), or the output broke; `status`
    /// is the exit status the program should end with.
    void Finished(int status);

private:
    void OnInput();
    void OnDaemonData();
    void OnDaemonGone();
    void Forward(const QCborMap& request);
    bool ConnectDaemon(QString* error);
    bool TryConnect(int waitMs);
    void Answer(const QCborMap& message);
    void Finish(int status);

    QString m_rootPath;
    int m_inputFd;
    int m_outputFd;
    std::unique_ptr<QSocketNotifier> m_inputNotifier;
    std::unique_ptr<QLocalSocket> m_daemon;
    FrameReader m_fromClient;
    FrameReader m_fromDaemon;
    int m_outstanding = 0;
    /// Counts the connections made to the daemon; the last one's number is m_daemon's.
    quint64 m_connections = 0;
    bool m_inputEnded = false;
    bool m_finished = false;
    /// The client asked for the daemon's notices on this connection.
    bool m_subscribed = false;
};
