#pragma once
// The command line that reaches the service of another computer through OpenSSH.

#include <QString>
#include <QStringList>

class QProcess;

/// `ssh [options] host taskschedd --stdio`, run with the user's own OpenSSH client, its
/// configuration and its keys. It never asks for a password or a passphrase (BatchMode) and
/// gives up on an unreachable computer after ConnectTimeoutSeconds.
class SshCommand {
public:
    /// How long ssh tries to reach a computer.
    static constexpr int ConnectTimeoutSeconds = 5;
    /// How often ssh asks a quiet computer whether it is still there, and how many unanswered
    /// questions end the connection.
    static constexpr int AliveIntervalSeconds = 10;
    static constexpr int AliveCountMax = 3;

    /// The variable that replaces the ssh program: its value is split into words as a shell
    /// would, so that it may carry options of its own.
    static QString ProgramVariable() { return QStringLiteral("TASKSCHEDULER_SSH"); }
    /// The variable naming the configuration file ssh reads instead of ~/.ssh/config (-F).
    static QString ConfigVariable() { return QStringLiteral("TASKSCHEDULER_SSH_CONFIG"); }
    /// The program started on the other computer, and its argument.
    static QStringList RemoteCommand() { return {QStringLiteral("taskschedd"), QStringLiteral("--stdio")}; }

    /// Whether `host` (a name or "user@name") can be handed to ssh as a computer: letters,
    /// digits and ". _ - : % [ ]", at most one "@", nothing that ssh would read as an option.
    static bool IsValidHost(const QString& host);
    /// Whether `user` can be handed to ssh as a login name.
    static bool IsValidUser(const QString& user);

    /// The program and arguments that reach `host` as `user` (empty: ssh's own choice). Both
    /// must be valid.
    static QStringList For(const QString& host, const QString& user = {});
    /// Sets `process` up to run `For(host, user)` in a session of its own: without a
    /// controlling terminal ssh has nothing to ask on, whatever its options say.
    static void Prepare(QProcess& process, const QString& host, const QString& user = {});
};
