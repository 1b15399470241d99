#pragma once
// What the daemon tells the supervisor of one task instance, and what the supervisor leaves
// behind when the instance ends. Both are small JSON files in the root's instances
// directory, so that a daemon that starts after a crash can find out what became of the
// instances the previous one had started.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <sys/types.h>

/// One program to run.
struct ExecStep {
    QString program;          ///< a path, or a name searched on the PATH of `environment`
    QStringList arguments;
    QString workingDirectory;
    friend bool operator==(const ExecStep&, const ExecStep&) = default;
};

/// One run of a task: its programs, in order, as one account.
struct InstanceDescription {
    QString id;               ///< unique within the root; names the instance's files
    QString task;             ///< the task's key (TaskKey::ToString)
    QDateTime start;          ///< when the instance was started
    QString cause;            ///< why it was started (scheduled, demand, ...)
    qint32 attempt = 0;       ///< 0 for a first run, n for the n-th restart after a failure
    QList<ExecStep> steps;
    QString user;             ///< account name the programs run as
    uid_t uid = 0;
    gid_t gid = 0;
    /// The groups the programs are members of when the supervisor takes on `uid` and `gid`
    /// (`gid` among them), read by the daemon so that the supervisor needs no group database;
    /// nothing when the programs run as the daemon's own account and group.
    std::optional<QList<gid_t>> groups;
    QStringList environment;  ///< "NAME=value" entries, the programs' whole environment
    QString logFile;          ///< where the programs' output and errors are appended
    /// The kind of action after the last step that this service cannot carry out, or empty.
    QString unsupportedAction;
    /// The task's time limit when the instance started (0: none); -1 when an older daemon
    /// started it without saying.
    qint64 timeLimitMs = -1;
    /// When the instance is stopped because its trigger's repetition ends; invalid: never.
    QDateTime stopAt;
    /// A scheduled start handed over ahead of its time: the supervisor prepares everything and
    /// starts the first program at this moment, not before. Invalid (and absent from the file,
    /// as in files of earlier versions): at once.
    QDateTime notBefore;
    friend bool operator==(const InstanceDescription&, const InstanceDescription&) = default;
};

/// How an instance ended, as its supervisor saw it.
struct InstanceOutcome {
    QDateTime end;
    qint32 exitCode = 0;      ///< of the last program run, when it exited
    qint32 signal = 0;        ///< the signal that ended the last program, or 0
    enum StartStage { NoStartFailure = 0, AccountStage = 1, DirectoryStage = 2, ProgramStage = 3, DescriptionStage = 4 };
    qint32 startErrno = 0;    ///< why a program could not be started, or 0
    qint32 startStage = NoStartFailure; ///< what failed when a program could not be started
    qint32 failedStep = -1;   ///< the step that could not be started, or -1
    qint32 stepsRun = 0;      ///< programs that were started
    bool stopRequested = false; ///< the supervisor was asked to stop the instance
    friend bool operator==(const InstanceOutcome&, const InstanceOutcome&) = default;
};

class InstanceFiles {
public:
    static QByteArray EncodeDescription(const InstanceDescription& description);
    /// Nothing, with `error` filled, for a damaged or foreign file.
    static std::optional<InstanceDescription> DecodeDescription(const QByteArray& bytes, QString* error);
    static QByteArray EncodeOutcome(const InstanceOutcome& outcome);
    static std::optional<InstanceOutcome> DecodeOutcome(const QByteArray& bytes, QString* error);
    /// The outcome file `path` read and decoded; nothing, with `error` filled, when it is
    /// missing, unreadable or damaged.
    static std::optional<InstanceOutcome> ReadOutcome(const QString& path, QString* error);

    /// The files of instance `id` in the instances directory `dir`.
    static QString DescriptionFile(const QString& dir, const QString& id) { return dir + QLatin1Char('/') + id + QStringLiteral(".instance"); }
    static QString OutcomeFile(const QString& dir, const QString& id) { return dir + QLatin1Char('/') + id + QStringLiteral(".outcome"); }
    /// The instance id of a description file name, or empty for another file.
    static QString IdOfDescriptionFile(const QString& fileName);
};
