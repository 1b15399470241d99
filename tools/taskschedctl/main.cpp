// taskschedctl: the scheduling service's tasks from the command line, for scripts and servers.

#include "CtlCommandRunner.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QTextStream in(stdin);
    QStringList arguments = app.arguments();
    arguments.removeFirst();
    return RunTaskSchedCtl(arguments, out, err, in);
}
