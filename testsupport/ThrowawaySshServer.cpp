#include "ThrowawaySshServer.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString Sshd()
{
    return QStandardPaths::findExecutable(QStringLiteral("sshd"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"),
                                                                   QStringLiteral("/sbin")});
}

quint16 FreePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
    return probe.serverPort();
}

bool WriteFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

bool MakeKey(const QString& path, QString* error)
{
    QProcess keygen;
    keygen.start(QStringLiteral("ssh-keygen"), {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                                                 QStringLiteral("-N"), QString(), QStringLiteral("-f"), path});
    if (keygen.waitForFinished(20000) && keygen.exitStatus() == QProcess::NormalExit && keygen.exitCode() == 0) return true;
    *error = QStringLiteral("ssh-keygen failed: %1").arg(QString::fromLocal8Bit(keygen.readAllStandardError()));
    return false;
}

pid_t ParentOf(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 1 ? pid_t(fields.at(1).toLongLong()) : 0;
}

bool IsLive(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return !(close >= 0 && line.size() > close + 2 && line.at(close + 2) == 'Z');
}

// Every live process below `root`, however deep.
QList<pid_t> Descendants(pid_t root)
{
    QHash<pid_t, pid_t> parents;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toLongLong(&number));
        if (number) parents.insert(pid, ParentOf(pid));
    }
    QList<pid_t> found{root};
    for (qsizetype i = 0; i < found.size(); ++i) {
        for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
            if (it.value() == found.at(i) && !found.contains(it.key())) found.append(it.key());
        }
    }
    found.removeFirst();
    QList<pid_t> live;
    for (pid_t pid : std::as_const(found)) {
        if (IsLive(pid)) live.append(pid);
    }
    return live;
}

} // namespace

QString ThrowawaySshServer::Unavailable()
{
    if (Sshd().isEmpty()) return QStringLiteral("sshd is not installed (package openssh-server)");
    if (QStandardPaths::findExecutable(QStringLiteral("ssh-keygen")).isEmpty() || QStandardPaths::findExecutable(QStringLiteral("ssh")).isEmpty())
        return QStringLiteral("the OpenSSH client is not installed (package openssh-client)");
    if (::geteuid() != 0) return QStringLiteral("sshd can serve logins only when the test runs as root");
    return {};
}

ThrowawaySshServer::ThrowawaySshServer(QString remoteRoot, QString programDir)
    : m_remoteRoot(std::move(remoteRoot)), m_programDir(std::move(programDir))
{
}

ThrowawaySshServer::~ThrowawaySshServer()
{
    Stop();
}

bool ThrowawaySshServer::Start(QString* error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no temporary directory");
        return false;
    }
    const auto path = [this](const char* name) { return m_dir.filePath(QLatin1String(name)); };
    for (const char* key : {"host_key", "user_key", "noservice_key", "stranger_key"}) {
        if (!MakeKey(path(key), error)) return false;
    }
    // sshd insists on its privilege separation directory.
    if (!QDir(QStringLiteral("/run/sshd")).exists() && !QDir().mkpath(QStringLiteral("/run/sshd"))) {
        *error = QStringLiteral("/run/sshd cannot be made");
        return false;
    }
    const quint16 port = FreePort();
    const quint16 closedPort = FreePort();
    if (port == 0 || closedPort == 0 || port == closedPort) {
        *error = QStringLiteral("no free port on 127.0.0.1");
        return false;
    }
    const QByteArray authorized = ReadFile(path("user_key.pub")) + "\ncommand=\"exec taskschedd-missing --stdio\" "
                                  + ReadFile(path("noservice_key.pub")) + "\n";
    const QByteArray serverConfig = QStringLiteral("ListenAddress 127.0.0.1:%1\n"
                                                   "HostKey %2\n"
                                                   "PidFile none\n"
                                                   "PermitRootLogin prohibit-password\n"
                                                   "AuthorizedKeysFile %3\n"
                                                   "StrictModes no\n"
                                                   "UsePAM no\n"
                                                   "PasswordAuthentication no\n"
                                                   "KbdInteractiveAuthentication no\n"
                                                   "SetEnv TASKSCHEDULER_HOME=%4 PATH=%5:/usr/local/bin:/usr/bin:/bin\n"
                                                   "LogLevel ERROR\n")
                                        .arg(port)
                                        .arg(path("host_key"), path("authorized_keys"), m_remoteRoot, m_programDir)
                                        .toLocal8Bit();
    const QString common = QStringLiteral("  HostName 127.0.0.1\n"
                                          "  User root\n"
                                          "  IdentitiesOnly yes\n"
                                          "  IdentityAgent none\n"
                                          "  ControlMaster no\n"
                                          "  ControlPath none\n"
                                          "  UserKnownHostsFile %1\n"
                                          "  GlobalKnownHostsFile /dev/null\n"
                                          "  StrictHostKeyChecking yes\n")
                               .arg(path("known_hosts"));
    const QByteArray clientConfig = QStringLiteral("Host %1\n  IdentityFile %2\n  Port %3\n%4"
                                                   "Host %5\n  IdentityFile %6\n  Port %3\n%4"
                                                   "Host %7\n  IdentityFile %8\n  Port %3\n%4"
                                                   "Host %9\n  IdentityFile %2\n  Port %10\n%4")
                                        .arg(RemoteHost(), path("user_key"))
                                        .arg(port)
                                        .arg(common, NoServiceHost(), path("noservice_key"), RefusedHost(), path("stranger_key"), ClosedHost())
                                        .arg(closedPort)
                                        .toLocal8Bit();
    const QByteArray knownHosts = "[127.0.0.1]:" + QByteArray::number(port) + ' ' + ReadFile(path("host_key.pub")) + '\n';
    if (!WriteFile(path("authorized_keys"), authorized) || !WriteFile(path("sshd_config"), serverConfig)
        || !WriteFile(ConfigFile(), clientConfig) || !WriteFile(path("known_hosts"), knownHosts)) {
        *error = QStringLiteral("the configuration cannot be written");
        return false;
    }

    m_server.setProgram(Sshd());
    m_server.setArguments({QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), path("sshd_config")});
    m_server.setStandardInputFile(QProcess::nullDevice());
    m_server.start();
    if (!m_server.waitForStarted(10000)) {
        *error = QStringLiteral("sshd cannot be started: %1").arg(m_server.errorString());
        return false;
    }
    for (int attempt = 0; attempt < 500; ++attempt) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(200)) return true;
        if (m_server.state() != QProcess::Running) break;
        QThread::msleep(20);
    }
    *error = QStringLiteral("sshd does not listen: %1").arg(Log());
    Stop();
    return false;
}

void ThrowawaySshServer::DropSessions()
{
    if (m_server.state() != QProcess::Running) return;
    for (int round = 0; round < 250; ++round) {
        const QList<pid_t> sessions = Descendants(pid_t(m_server.processId()));
        if (sessions.isEmpty()) return;
        for (pid_t pid : sessions) ::kill(pid, SIGKILL);
        QThread::msleep(20);
    }
    qWarning("sessions of the ssh server stay alive");
}

void ThrowawaySshServer::Stop()
{
    if (m_server.state() == QProcess::NotRunning) return;
    // A client may be connecting while the sessions are ended. A listener ended after them
    // would have forked its session first, and a session outlives its listener; a stopped
    // listener forks none, and connections waiting for it are refused when it is killed.
    ::kill(pid_t(m_server.processId()), SIGSTOP);
    DropSessions();
    m_server.kill();
    m_server.waitForFinished(5000);
}

QString ThrowawaySshServer::Log()
{
    m_log += m_server.readAllStandardError();
    return QString::fromLocal8Bit(m_log);
}
