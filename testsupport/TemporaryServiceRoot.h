#pragma once
// A fresh, private service root for one test: TASKSCHEDULER_HOME points at a temporary
// directory while the object lives, so no test can reach a real user's service. Every
// service process that the test caused for the root is stopped when the object goes.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <sys/types.h>

class TemporaryServiceRoot {
public:
    TemporaryServiceRoot();
    /// Stops the root's daemon and task supervisors, then removes the directory.
    ~TemporaryServiceRoot();
    TemporaryServiceRoot(const TemporaryServiceRoot&) = delete;
    TemporaryServiceRoot& operator=(const TemporaryServiceRoot&) = delete;

    /// The root directory (also the value of TASKSCHEDULER_HOME).
    QString Path() const { return m_dir.path(); }
    bool IsValid() const { return m_dir.isValid(); }

    /// The live service processes of the root at `rootPath`: the daemon named in its lock
    /// file and every task supervisor whose instance lives below it.
    static QList<pid_t> ServiceProcesses(const QString& rootPath);
    /// Ends those processes (a termination request, then a kill for what stays) and waits
    /// until they are gone. False when one of them could not be ended.
    static bool StopServiceProcesses(const QString& rootPath);

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious = false;
};
