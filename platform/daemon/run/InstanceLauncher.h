#pragma once
// Turns a task into an instance: the programs to run, as whom, with what, and starts the
// instance's supervisor.

#include "run/InstanceDescription.h"
#include "catalog/RunnableTask.h"
#include "ServiceRoot.h"

#include <QString>
#include <optional>
#include <sys/types.h>

class InstanceLauncher {
public:
    explicit InstanceLauncher(ServiceRoot root);

    /// The directory of instance files.
    QString InstancesDir() const;
    /// Where the programs of a task write their output.
    QString LogFile(const TaskKey& key) const;
    /// The supervisor program of this daemon (see the overload).
    static QString SupervisorProgram();
    /// The supervisor program of a daemon whose program is in `programDir`: beside it (the
    /// build tree), else in the libexec directory of the tree it is installed in, else the one
    /// on PATH. Empty when there is none.
    static QString SupervisorProgram(const QString& programDir);

    /// The instance of `task` that starts at `start`: its account, programs and environment.
    /// The actions run in order up to the first one this service cannot carry out. Nothing,
    /// with `code` and `error` filled, when the task cannot run at all (an unknown or
    /// forbidden account).
    std::optional<InstanceDescription> Prepare(const RunnableTask& task, const QString& cause, int attempt, const QDateTime& start,
                                        HRESULT* code, QString* error) const;
    /// Writes the instance's file durably, then starts its supervisor. Returns the supervisor's
    /// process id, or 0 with `error` filled.
    pid_t Spawn(const InstanceDescription& description, QString* error) const;

    /// `text` with %NAME%, $NAME and ${NAME} replaced from `environment` ("NAME=value" entries)
    /// and a leading "~" by `home`; unknown names are left as they are.
    static QString Expand(const QString& text, const QStringList& environment, const QString& home);

private:
    ServiceRoot m_root;
};
