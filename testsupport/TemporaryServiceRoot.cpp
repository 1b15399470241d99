#include "TemporaryServiceRoot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QThread>
#include <QtGlobal>
#include <csignal>
#include <sys/wait.h>

namespace {

// The program and arguments of a process, empty when it is gone.
QList<QByteArray> CommandLine(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) return {};
    QList<QByteArray> args = file.readAll().split('\0');
    while (!args.isEmpty() && args.last().isEmpty()) args.removeLast();
    return args;
}

QByteArray ProgramName(const QList<QByteArray>& args)
{
    if (args.isEmpty()) return {};
    const QByteArray& program = args.first();
    return program.mid(program.lastIndexOf('/') + 1);
}

bool IsGone(pid_t pid)
{
    // A child of the test itself is reaped here; any other process ends as its parent reaps it.
    ::waitpid(pid, nullptr, WNOHANG);
    QFile status(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return true;
    const QByteArray line = status.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close >= 0 && line.size() > close + 2 && line.at(close + 2) == 'Z';
}

// Waits (bounded) until every process of `pids` is gone; true when they all are.
bool WaitGone(const QList<pid_t>& pids, int rounds)
{
    for (int i = 0; i < rounds; ++i) {
        bool all = true;
        for (pid_t pid : pids) all = all && IsGone(pid);
        if (all) return true;
        QThread::msleep(20);
    }
    return false;
}

} // namespace

TemporaryServiceRoot::TemporaryServiceRoot()
    : m_previous(qgetenv("TASKSCHEDULER_HOME")), m_hadPrevious(qEnvironmentVariableIsSet("TASKSCHEDULER_HOME"))
{
    qputenv("TASKSCHEDULER_HOME", m_dir.path().toLocal8Bit());
}

TemporaryServiceRoot::~TemporaryServiceRoot()
{
    if (!StopServiceProcesses(m_dir.path()))
        qWarning("a service process of %s could not be ended", qPrintable(m_dir.path()));
    if (m_hadPrevious)
        qputenv("TASKSCHEDULER_HOME", m_previous);
    else
        qunsetenv("TASKSCHEDULER_HOME");
}

QList<pid_t> TemporaryServiceRoot::ServiceProcesses(const QString& rootPath)
{
    const QString root = QDir(rootPath).absolutePath();
    const QByteArray below = QFile::encodeName(root + QLatin1Char('/'));
    QList<pid_t> pids;
    qint64 lockPid = 0;
    QString host, app;
    QLockFile lock(root + QStringLiteral("/taskschedd.lock"));
    if (QFileInfo::exists(root + QStringLiteral("/taskschedd.lock")) && lock.getLockInfo(&lockPid, &host, &app)
        && lockPid > 0 && ProgramName(CommandLine(pid_t(lockPid))) == "taskschedd" && !IsGone(pid_t(lockPid)))
        pids.append(pid_t(lockPid));
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toLongLong(&number));
        if (!number || pids.contains(pid)) continue;
        const QList<QByteArray> args = CommandLine(pid);
        const QByteArray program = ProgramName(args);
        if (program != "taskschedd" && program != "taskschedd-exec") continue;
        bool ofRoot = false;
        for (qsizetype i = 1; i < args.size(); ++i) ofRoot = ofRoot || args.at(i).startsWith(below) || args.at(i) == QFile::encodeName(root);
        if (ofRoot && !IsGone(pid)) pids.append(pid);
    }
    return pids;
}

bool TemporaryServiceRoot::StopServiceProcesses(const QString& rootPath)
{
    QList<pid_t> pids = ServiceProcesses(rootPath);
    if (pids.isEmpty()) return true;
    // The daemon first, so that it starts nothing new; then the supervisors, which end their programs.
    for (pid_t pid : pids) ::kill(pid, SIGTERM);
    if (WaitGone(pids, 250)) {
        pids = ServiceProcesses(rootPath);
        if (pids.isEmpty()) return true;
        for (pid_t pid : pids) ::kill(pid, SIGTERM);
        if (WaitGone(pids, 250)) return true;
    }
    for (pid_t pid : pids) ::kill(pid, SIGKILL);
    return WaitGone(pids, 250);
}
