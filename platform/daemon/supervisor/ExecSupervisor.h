#pragma once
// The process that watches over one task instance: it starts the instance's programs one
// after the other as the task's account, waits for each, and writes how the instance ended.
// It is a process of its own (taskschedd-exec) so that an instance outlives a daemon that
// dies or is restarted, and the next daemon can still learn its result. It uses the standard
// library and POSIX only: it starts before every program, so its own start-up is latency.

#include "supervisor/InstanceRecord.h"

#include <string>

/// Runs the instance described by one description file. Signals: SIGTERM asks it to stop the
/// instance (the running program's process group receives SIGTERM and no further program
/// starts); SIGUSR1 ends it hard (SIGKILL to the program's process group).
class ExecSupervisor {
public:
    /// `startedFd`, when given, is closed once the first program has started (or none will,
    /// or everything is ready and the program only waits for its time):
    /// the launcher waits for that before it forks the next supervisor, so that the fork
    /// does not compete with this start.
    explicit ExecSupervisor(std::string descriptionFile, int startedFd = -1);
    /// Runs the instance and writes its outcome file. The process's exit status: 0 when the
    /// outcome was written, 1 when even that failed.
    int Run();

    /// Started as "taskschedd-exec --launcher PLACEHOLDER", it is the daemon's launcher: it
    /// reads instance files from its standard input, a socket, one a line, and for each forks
    /// a supervisor, which writes the file over the placeholder in its command line and
    /// answers its process id on a line ("0" when none took it). The placeholder must be
    /// longer than any instance file's path.
    static constexpr const char* LauncherArgument = "--launcher";

    /// The largest log file kept as it is; a larger one is moved to "<log>.1" before a run.
    static constexpr off_t LogRotateBytes = 4 * 1024 * 1024;

    /// The longest the first program waits for its instance's "not before" time. The daemon
    /// hands a scheduled start over a few tens of milliseconds ahead (ScheduleLoop::StartLeadMs);
    /// this leaves room for a hand-over slowed by load, while a wall clock set during the wait,
    /// or a time far off in a damaged file, holds no program back for longer than this.
    static constexpr int64_t MaxStartWaitMs = 250;

private:
    /// Runs step `index`; its program starts at `startMs` on the wall clock (-1: at once), and
    /// not at all when a stop comes first.
    void RunStep(const InstanceRecord& description, int index, int logFd, OutcomeRecord* outcome, int64_t startMs);
    bool WriteOutcome(const OutcomeRecord& outcome);

    std::string m_descriptionFile;
    std::string m_outcomeFile; // empty when the description file's name names no instance
    int m_startedFd = -1;

    void Started();
};
