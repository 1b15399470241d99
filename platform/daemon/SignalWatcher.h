#pragma once
// Turns the termination signals into an ordinary event of the daemon's loop.

#include <QObject>

class QSocketNotifier;

/// Receives SIGTERM, SIGINT and SIGHUP through a signalfd, so that the daemon ends cleanly
/// from its event loop instead of inside a signal handler.
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    /// Blocks the termination signals in the calling thread; call first thing in main(), before
    /// any thread exists, so every thread inherits the mask. Also ignores SIGPIPE, since a
    /// client that goes away must not end the daemon.
    static void BlockTerminationSignals();
    /// The signals BlockTerminationSignals() blocks, as the mask children must undo.
    static void UnblockAllSignals();

    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;
    bool IsValid() const { return m_fd >= 0; }

signals:
    /// A termination signal arrived; `signal` is its number.
    void Terminate(int signal);

private:
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
};
