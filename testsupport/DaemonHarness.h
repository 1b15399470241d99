#pragma once
// A real taskschedd on a test's temporary root, started the way clients start it, and
// always ended by the test that started it.

#include <QCborMap>
#include <QString>
#include <sys/types.h>

class DaemonHarness {
public:
    explicit DaemonHarness(QString rootPath);
    /// Ends the daemon (and waits for it) if it still runs.
    ~DaemonHarness();
    DaemonHarness(const DaemonHarness&) = delete;
    DaemonHarness& operator=(const DaemonHarness&) = delete;

    /// Launches the daemon detached and waits until it answers a ping. False on failure.
    bool Start();
    /// The daemon's process id, 0 when it is not running.
    pid_t Pid() const { return m_pid; }
    /// SIGTERM, then waits for the end; SIGKILL when it does not end in time.
    void Stop();
    /// SIGKILL, then waits for the end: the daemon dies without cleaning up.
    void Kill();
    /// The daemon was ended by something else (and has been seen to end): nothing to end.
    void Forget() { m_pid = 0; }
    /// One request over a fresh transport.
    QCborMap Call(const QCborMap& request) const;

    /// Waits up to `timeoutMs` for process `pid` (not necessarily a child) to end.
    static bool WaitForExit(pid_t pid, int timeoutMs);
    /// The program beside the test, in build/bin.
    static QString Program();

private:
    void End(int signal);

    QString m_root;
    pid_t m_pid = 0;
};
