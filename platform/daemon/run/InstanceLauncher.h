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
    /// Ends the supervisor waiting in reserve, if any.
    ~InstanceLauncher();
    InstanceLauncher(const InstanceLauncher&) = delete;
    InstanceLauncher& operator=(const InstanceLauncher&) = delete;

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
    /// Writes the instance's file, then hands it to the supervisor waiting in reserve, or
    /// starts a supervisor for it when none waits. Returns the supervisor's process id, or 0
    /// with `error` filled.
    pid_t Spawn(const InstanceDescription& description, QString* error);
    /// Starts a supervisor that waits in reserve for the next instance, unless one waits
    /// already: the next start then does not wait for a program to be loaded.
    void KeepReserve();
    /// The supervisor waiting in reserve; 0 when none does.
    pid_t ReservePid() const { return m_reserve.pid; }

    /// `text` with %NAME%, $NAME and ${NAME} replaced from `environment` ("NAME=value" entries)
    /// and a leading "~" by `home`; unknown names are left as they are.
    static QString Expand(const QString& text, const QStringList& environment, const QString& home);

private:
    struct Reserve {
        pid_t pid = 0;
        int socket = -1;   ///< our end of its standard input
    };
    /// The supervisor in reserve takes `descriptionFile`: its process id, or 0 when there was
    /// none or it did not take it.
    pid_t HandOver(const QByteArray& descriptionFile);
    /// Starts the supervisor with `argv`, its standard input `input` (/dev/null when negative).
    static pid_t StartSupervisor(const QByteArray& program, char* const argv[], int input, QString* error);

    ServiceRoot m_root;
    Reserve m_reserve;
};
