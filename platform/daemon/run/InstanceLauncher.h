#pragma once
// Turns a task into an instance: the programs to run, as whom, with what, and starts the
// instance's supervisor.

#include "run/InstanceDescription.h"
#include "catalog/RunnableTask.h"
#include "ServiceRoot.h"

struct RunAccount;

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <sys/types.h>

class InstanceLauncher {
public:
    explicit InstanceLauncher(ServiceRoot root);
    /// Ends the launcher of supervisors, if one runs; running supervisors go on.
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
    /// Writes the instance's file, then hands it to the launcher, whose supervisor waiting
    /// for it runs it, or starts a supervisor for it when there is no launcher. Returns the
    /// supervisor's process id, or 0 with `error` filled; `ownChild` tells whether it is a
    /// child of this process (the launcher's are not). `meanwhile`, when given, runs once the
    /// file is written and the instance is on its way to a supervisor, before its answer.
    pid_t Spawn(const InstanceDescription& description, QString* error, bool* ownChild = nullptr,
                const std::function<void()>& meanwhile = {});
    /// Starts the launcher of supervisors unless it runs: a start then neither loads a
    /// program nor waits for a fork (taskschedd-exec --launcher).
    void KeepLauncher();
    /// The launcher's process id; 0 when none runs.
    pid_t LauncherPid() const { return m_launcher.pid; }

    /// `text` with %NAME%, $NAME and ${NAME} replaced from `environment` ("NAME=value" entries)
    /// and a leading "~" by `home`; unknown names are left as they are.
    static QString Expand(const QString& text, const QStringList& environment, const QString& home);

private:
    struct Launcher {
        pid_t pid = 0;
        int socket = -1;   ///< our end of its standard input
    };
    /// A supervisor of the launcher takes `descriptionFile`: its process id, or 0 when there
    /// is no launcher or none took it.
    pid_t HandOver(const QByteArray& descriptionFile, const std::function<void()>& meanwhile);
    /// Ends the launcher that no longer answers as it should.
    void DropLauncher();
    /// Starts the supervisor with `argv`, its standard input `input` (/dev/null when negative).
    static pid_t StartSupervisor(const QByteArray& program, char* const argv[], int input, QString* error);

    /// The programs' environment for `account`, made when it first runs something.
    const QStringList& EnvironmentOf(const RunAccount& account) const;

    struct Environment {
        QString name, home, shell;
        bool runtimeDir = false;
        QStringList environment;
    };
    ServiceRoot m_root;
    Launcher m_launcher;
    mutable QHash<uid_t, Environment> m_environments;
};
