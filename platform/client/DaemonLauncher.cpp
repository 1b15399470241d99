#include "DaemonLauncher.h"

#include "ServiceRoot.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

QString DaemonLauncher::ProgramName() { return QStringLiteral("taskschedd"); }

QString DaemonLauncher::FindProgram()
{
    // A program and its service are built and installed together, so the one beside the
    // program wins; a program of someone else's, linked against the installed library, gets
    // the service that was installed with the library, wherever its prefix is; PATH comes last.
    const QString self = QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                                      : QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    for (const QString& dir : {QFileInfo(self).absolutePath(), QStringLiteral(TS_INSTALLED_BINDIR)}) {
        const QFileInfo candidate(dir + QLatin1Char('/') + ProgramName());
        if (candidate.isFile() && candidate.isExecutable()) return candidate.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(ProgramName());
}

QString DaemonLauncher::LogFile(const QString& rootPath)
{
    return ServiceRoot(rootPath).LogsDir() + QStringLiteral("/taskschedd.log");
}

bool DaemonLauncher::Launch(const QString& rootPath, QString* error)
{
    const QString program = FindProgram();
    if (program.isEmpty()) {
        if (error) *error = QStringLiteral("The service program \"%1\" was found neither beside this program, nor in %2, nor on PATH.")
                                 .arg(ProgramName(), QStringLiteral(TS_INSTALLED_BINDIR));
        return false;
    }
    const ServiceRoot root(rootPath);
    QString ensureError;
    if (!root.Ensure(&ensureError)) {
        if (error) *error = ensureError;
        return false;
    }
    QProcess process;
    process.setProgram(program);
    process.setArguments({QStringLiteral("--root"), root.Path()});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TASKSCHEDULER_HOME"), root.Path());
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(root.Path());
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(LogFile(root.Path()), QIODevice::Append);
    process.setStandardErrorFile(LogFile(root.Path()), QIODevice::Append);
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        if (error) *error = QStringLiteral("The service program \"%1\" could not be started: %2").arg(program, process.errorString());
        return false;
    }
    return true;
}
