#pragma once
// What taskschedctl offers: its commands, their arguments and options, and their help texts.
// The help printed by --help, the man page and the bash completion are all made from this.

#include <QList>
#include <QString>
#include <QStringList>

/// One option: its names ("v1" for --v1, "o" for -o), the name of its value (empty for a
/// switch) and what it does.
struct CtlOptionSpec {
    QStringList names;
    QString valueName;
    QString description;
};

/// One command of the tool.
struct CtlCommandSpec {
    QString name;
    /// The positional arguments as the usage line shows them, e.g. "TASK [FILE]".
    QString arguments;
    int minArguments = 0;
    int maxArguments = 0;
    /// One line for the overview.
    QString summary;
    /// The paragraphs of the command's own help, including the shape of its --json output.
    QString description;
    QList<CtlOptionSpec> options;
};

/// The options every command accepts.
const QList<CtlOptionSpec>& CtlGlobalOptions();
/// Every command, in the order the overview lists them.
const QList<CtlCommandSpec>& CtlCommands();
/// The command named `name`, or null.
const CtlCommandSpec* FindCtlCommand(const QString& name);

/// The overview printed by "taskschedctl --help".
QString CtlOverviewHelp();
/// The help of one command, printed by "taskschedctl COMMAND --help".
QString CtlCommandHelp(const CtlCommandSpec& command);
/// The manual page in roff (man(7)) format.
QString CtlManPage();
/// A bash completion script for the tool.
QString CtlBashCompletion();
