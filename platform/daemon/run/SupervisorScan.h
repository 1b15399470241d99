#pragma once
// Finding the supervisors (taskschedd-exec) that run now, from the process table, so that a
// daemon can take over the instances an earlier daemon left running.

#include <QHash>
#include <QString>
#include <sys/types.h>

/// Reads the process table under a /proc directory.
class SupervisorScan {
public:
    /// The process table to read: "/proc", or a tree of the same shape.
    explicit SupervisorScan(QString procDir = QStringLiteral("/proc"));

    /// The supervisors that run now, by the instance file each was given. A supervisor is
    /// known by its command line, "…/taskschedd-exec INSTANCE-FILE", which names its own
    /// instance file, so a reused process id cannot fool the scan. A program the supervisor
    /// has just forked shows the same command line until its exec; it is the one whose parent
    /// is the other, and is left out. Zombies (no command line) are left out.
    QHash<QString, pid_t> Running() const;

    /// The parent of process `pid`, 0 when it cannot be read.
    pid_t ParentOf(pid_t pid) const;

private:
    QString m_procDir;
};
