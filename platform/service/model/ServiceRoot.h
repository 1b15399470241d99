#pragma once
// Where one service instance keeps everything: its store, its state, its socket and lock.

#include <QString>

class ServiceRoot {
public:
    /// The root of the current user's service: $TASKSCHEDULER_HOME when set, else
    /// ${XDG_DATA_HOME:-~/.local/share}/taskscheduler, or /var/lib/taskscheduler for root.
    static QString DefaultPath();

    explicit ServiceRoot(QString path);

    QString Path() const { return m_path; }
    /// Generation 2.0 definitions: a tree of folders, one document per task.
    QString TasksDir() const;
    /// Generation 2.0 runtime state (last run, result, history), kept apart from definitions.
    QString StateDir() const;
    /// Generation 1.0 ".job" files, a flat directory.
    QString JobsDir() const;
    /// Per-task output logs of the programs the service runs.
    QString LogsDir() const;
    /// Per-task run histories.
    QString HistoryDir() const;
    /// The daemon's local socket.
    QString SocketPath() const;
    /// The inter-process lock that lets one writer change the store at a time.
    QString StoreLockPath() const;
    /// The lock held by the one daemon of this root.
    QString DaemonLockPath() const;

    /// Creates the directories of the root (owner-only access). False with `error` filled on failure.
    bool Ensure(QString* error = nullptr) const;

private:
    QString m_path;
};
