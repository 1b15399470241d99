// taskschedd: the scheduling service of one root.

#include "Daemon.h"
#include "DaemonLauncher.h"
#include "SignalWatcher.h"
#include "server/StdioBridge.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

const char* const HelpText = R"(Runs the scheduling service of one root directory in the foreground: it keeps the
root's tasks, starts each at its time and serves the clients of that root over the
local socket <root>/taskschedd.socket.

The root is --root when given, else $TASKSCHEDULER_HOME, else
${XDG_DATA_HOME:-~/.local/share}/taskscheduler (run by an ordinary user: that user's
tasks only), or /var/lib/taskscheduler when run by root (tasks of every account, each
run as its own account; "System" is root).

One daemon serves a root at a time. A second one started for the same root says so
and ends at once with exit status 0. Programs that use the service start the daemon
themselves when it is not running, so running it by hand is optional:

  By hand:          taskschedd                      (the current user's root)
                    taskschedd --root /srv/tasks    (another root)
  systemd, user:    systemctl --user daemon-reload
                    systemctl --user enable --now taskschedd
  systemd, system:  systemctl daemon-reload
                    systemctl enable --now taskschedd
  ("cmake --install" and the Debian package put both units under <prefix>/lib/systemd/,
  with ExecStart naming the installed program; the task supervisor taskschedd-exec is
  beside the program in a build tree and in <prefix>/libexec when installed.)

With --stdio the program serves one client on its standard input and output instead,
through the root's daemon, which it starts when it does not run. That is how a client on
another computer reaches this one: "ssh host taskschedd --stdio", with the user's own
OpenSSH keys; the daemon sees the user who logged in as its client.

The daemon ends cleanly on SIGTERM, SIGINT or SIGHUP. Task programs that are running
then keep running; the next daemon of the root takes them over and records how they
ended. Programs' output goes to <root>/logs/, the daemon's own messages to standard
error (the journal under systemd).

Exit status: 0 after a clean end, or when another daemon already serves the root;
1 when the root or its socket cannot be used; 2 for a bad command line.)";

void LogLine(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    static const char* const levels[] = {"debug", "warning", "critical", "fatal", "info"};
    // Asked of the system once, not for every line: the daemon's process id does not change.
    static const qint64 pid = QCoreApplication::applicationPid();
    const QByteArray line = QStringLiteral("%1 taskschedd[%2] %3: %4\n")
                                .arg(QDateTime::currentDateTime().toString(Qt::ISODateWithMs))
                                .arg(pid)
                                .arg(QLatin1String(levels[type]), message)
                                .toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

// Whatever started the daemon may have left descriptors open across its exec (a client's pipes,
// its sockets). The daemon outlives that process by months: holding them would keep the other
// ends from ever seeing their end, and would hand them on to every task program.
void CloseInheritedDescriptors()
{
    if (::close_range(3, ~0U, 0) == 0) return;
    const long max = ::sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (max > 0 ? max : 1024); ++fd) ::close(fd);
}

// The remote end of a connection from another computer: frames on standard input and output,
// handed to the root's daemon. A client that went away shows as the end of the input (or a
// broken output), and ends the program.
int ServeStandardStreams(QCoreApplication& app, SignalWatcher& terminationSignals, const QString& root)
{
    std::signal(SIGPIPE, SIG_IGN);
    StdioBridge bridge(root, STDIN_FILENO, STDOUT_FILENO);
    QObject::connect(&bridge, &StdioBridge::Finished, &app, [&](int status) { app.exit(status); });
    QObject::connect(&terminationSignals, &SignalWatcher::Terminate, &app, [&] { app.exit(0); });
    bridge.Start();
    return app.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    CloseInheritedDescriptors();
    SignalWatcher::BlockTerminationSignals();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(DaemonLauncher::ProgramName());
    qInstallMessageHandler(LogLine);

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(HelpText));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption rootOption(QStringLiteral("root"), QStringLiteral("Serve the root <directory>."), QStringLiteral("directory"));
    parser.addOption(rootOption);
    const QCommandLineOption stdioOption(QStringLiteral("stdio"),
                                         QStringLiteral("Serve one client on standard input and output, through the root's daemon."));
    parser.addOption(stdioOption);
    if (!parser.parse(app.arguments())) {
        std::fprintf(stderr, "taskschedd: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "taskschedd: unexpected argument \"%s\"\n", qPrintable(parser.positionalArguments().first()));
        return 2;
    }

    // Absolute, whatever was given: the socket cannot be named relatively, and the task programs,
    // which run in directories of their own, must find the same root.
    const QString root = QDir(parser.isSet(rootOption) ? parser.value(rootOption) : ServiceRoot::DefaultPath()).absolutePath();
    // Task programs that are clients of the service themselves must reach this same root.
    qputenv("TASKSCHEDULER_HOME", root.toLocal8Bit());

    SignalWatcher terminationSignals;
    if (parser.isSet(stdioOption)) return ServeStandardStreams(app, terminationSignals, root);
    Daemon daemon{ServiceRoot(root)};
    QObject::connect(&terminationSignals, &SignalWatcher::Terminate, &app, [&](int signal) {
        qInfo("signal %d: ending", signal);
        daemon.Stop();
        app.quit();
    });

    bool rootLost = false;
    QObject::connect(&daemon, &Daemon::RootLost, &app, [&] {
        rootLost = true;
        app.exit(0);
    });

    QString message;
    switch (daemon.Start(&message)) {
    case Daemon::Started:
        break;
    case Daemon::AlreadyRunning:
        qInfo("%s", qPrintable(message));
        return 0;
    case Daemon::Failed:
        qCritical("%s", qPrintable(message));
        return 1;
    }
    const int status = app.exec();
    // The lock file at the root's path is no longer this daemon's (the path may name another
    // root by now), so the lock is not released on the way out.
    if (rootLost) {
        std::fflush(stderr);
        ::_exit(status);
    }
    return status;
}
