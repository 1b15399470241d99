#include "SshCommand.h"

#include <QProcess>
#include <QRegularExpression>
#include <unistd.h>

bool SshCommand::IsValidHost(const QString& host)
{
    static const QRegularExpression pattern(QStringLiteral("^(?:[A-Za-z0-9._][A-Za-z0-9._-]*@)?[A-Za-z0-9._:%\\[\\]][A-Za-z0-9._:%\\[\\]-]*$"));
    return pattern.match(host).hasMatch();
}

bool SshCommand::IsValidUser(const QString& user)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9._][A-Za-z0-9._-]*$"));
    return pattern.match(user).hasMatch();
}

QStringList SshCommand::For(const QString& host, const QString& user)
{
    QStringList command = QProcess::splitCommand(qEnvironmentVariable(ProgramVariable().toLatin1().constData()));
    if (command.isEmpty()) command << QStringLiteral("ssh");
    const QString config = qEnvironmentVariable(ConfigVariable().toLatin1().constData());
    if (!config.isEmpty()) command << QStringLiteral("-F") << config;
    // No terminal, no forwardings a user's configuration may ask for, and only errors on
    // standard error: what ssh says there is what the user is told when it fails.
    command << QStringLiteral("-T") << QStringLiteral("-x") << QStringLiteral("-a")
            << QStringLiteral("-o") << QStringLiteral("BatchMode=yes")
            << QStringLiteral("-o") << QStringLiteral("ConnectTimeout=%1").arg(ConnectTimeoutSeconds)
            << QStringLiteral("-o") << QStringLiteral("ServerAliveInterval=%1").arg(AliveIntervalSeconds)
            << QStringLiteral("-o") << QStringLiteral("ServerAliveCountMax=%1").arg(AliveCountMax)
            << QStringLiteral("-o") << QStringLiteral("ClearAllForwardings=yes")
            << QStringLiteral("-o") << QStringLiteral("LogLevel=ERROR");
    if (!user.isEmpty()) command << QStringLiteral("-l") << user;
    command << QStringLiteral("--") << host << RemoteCommand();
    return command;
}

void SshCommand::Prepare(QProcess& process, const QString& host, const QString& user)
{
    const QStringList command = For(host, user);
    process.setProgram(command.first());
    process.setArguments(command.mid(1));
    process.setChildProcessModifier([] { ::setsid(); });
}
