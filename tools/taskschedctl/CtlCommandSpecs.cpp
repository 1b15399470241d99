#include "CtlCommandSpecs.h"

#include <QTextStream>

namespace {

const QString kTaskArgument = QStringLiteral("TASK");

CtlOptionSpec Opt(QStringList names, QString valueName, QString description)
{
    return CtlOptionSpec{std::move(names), std::move(valueName), std::move(description)};
}

QList<CtlCommandSpec> MakeCommands()
{
    const QString taskPath = QStringLiteral(
        "TASK is the task's path: \"Backup\" or \"\\Reports\\Daily\" (forward slashes work too: "
        "\"Reports/Daily\"). With --v1 there are no folders and TASK is the task's name.");
    QList<CtlCommandSpec> commands;
    commands.append(CtlCommandSpec{
        QStringLiteral("list"), QStringLiteral("[FOLDER]"), 0, 1,
        QStringLiteral("List the folder tree with each task's schedule state and times."),
        QStringLiteral(
            "Lists the tasks of FOLDER (the root folder \"\\\" when none is given) and of every folder "
            "below it, with status, next run, last run and last result. With --v1 every task is listed.\n"
            "JSON: {\"computer\": text, \"generation\": \"1.0\"|\"2.0\", \"folders\": [{\"path\": text, "
            "\"tasks\": [task summary]}]} where a task summary is {\"name\", \"path\", \"status\", "
            "\"enabled\", \"nextRun\", \"lastRun\", \"lastResult\", \"schedule\", \"author\"}; times are "
            "ISO 8601 with the local offset, or null for never."),
        {Opt({QStringLiteral("no-recurse")}, {}, QStringLiteral("List FOLDER only, not the folders below it.")),
         Opt({QStringLiteral("hidden")}, {}, QStringLiteral("Also list hidden tasks."))}});
    commands.append(CtlCommandSpec{
        QStringLiteral("show"), kTaskArgument, 1, 1,
        QStringLiteral("Show a task's definition and run history."),
        taskPath + QStringLiteral(
            "\nJSON: the task summary of \"list\" plus \"program\", \"arguments\", \"workingDirectory\", "
            "\"comment\", \"account\", \"triggers\" (their texts), \"definition\" (the 2.0 task "
            "document, absent with --v1) and \"history\" (as \"history\" gives it; empty when the "
            "service keeps none)."),
        {}});
    commands.append(CtlCommandSpec{
        QStringLiteral("create"), kTaskArgument, 1, 1,
        QStringLiteral("Create a task from options, or from a definition document on standard input."),
        taskPath + QStringLiteral(
            "\nWith --program the task runs that program; --once, --daily, --weekly, --monthly or "
            "--monthly-dow gives it one time trigger starting at --at (\"YYYY-MM-DD HH:MM\", local time; "
            "now plus one minute when not given). Without --program the task's 2.0 definition document "
            "is read from standard input. A task of that name must not exist yet.\n"
            "JSON: the task summary of \"list\"."),
        {Opt({QStringLiteral("program")}, QStringLiteral("PROGRAM"), QStringLiteral("The program to run.")),
         Opt({QStringLiteral("arguments")}, QStringLiteral("TEXT"), QStringLiteral("Its arguments, as one text.")),
         Opt({QStringLiteral("working-directory")}, QStringLiteral("DIR"), QStringLiteral("Its working directory.")),
         Opt({QStringLiteral("comment")}, QStringLiteral("TEXT"), QStringLiteral("The task's comment.")),
         Opt({QStringLiteral("once")}, {}, QStringLiteral("Run once, at --at.")),
         Opt({QStringLiteral("daily")}, {}, QStringLiteral("Run every --every days.")),
         Opt({QStringLiteral("weekly")}, {}, QStringLiteral("Run every --every weeks on --days.")),
         Opt({QStringLiteral("monthly")}, {}, QStringLiteral("Run on day --day of --months.")),
         Opt({QStringLiteral("monthly-dow")}, {}, QStringLiteral("Run on --days of week --week of --months.")),
         Opt({QStringLiteral("at")}, QStringLiteral("WHEN"), QStringLiteral("First start, \"YYYY-MM-DD HH:MM\".")),
         Opt({QStringLiteral("every")}, QStringLiteral("N"), QStringLiteral("Days (daily) or weeks (weekly) between starts; 1 by default.")),
         Opt({QStringLiteral("days")}, QStringLiteral("DAYS"), QStringLiteral("Week days, e.g. \"mon,wed,fri\"; the day of --at by default.")),
         Opt({QStringLiteral("day")}, QStringLiteral("N"), QStringLiteral("Day of the month, 1 to 31; the day of --at by default.")),
         Opt({QStringLiteral("week")}, QStringLiteral("WEEK"), QStringLiteral("Week of the month: 1, 2, 3, 4 or last; 1 by default.")),
         Opt({QStringLiteral("months")}, QStringLiteral("MONTHS"), QStringLiteral("Months, e.g. \"jan,jul\"; every month by default.")),
         Opt({QStringLiteral("account")}, QStringLiteral("USER"), QStringLiteral("The account the task runs as; the current user by default.")),
         Opt({QStringLiteral("password-file")}, QStringLiteral("FILE"), QStringLiteral("Read the account's password from the first line of FILE (\"-\": standard input).")),
         Opt({QStringLiteral("disabled")}, {}, QStringLiteral("Create the task disabled."))}});
    commands.append(CtlCommandSpec{QStringLiteral("enable"), kTaskArgument, 1, 1, QStringLiteral("Enable a task."), taskPath, {}});
    commands.append(CtlCommandSpec{QStringLiteral("disable"), kTaskArgument, 1, 1, QStringLiteral("Disable a task."), taskPath, {}});
    commands.append(CtlCommandSpec{QStringLiteral("run"), kTaskArgument, 1, 1, QStringLiteral("Start a task now."), taskPath, {}});
    commands.append(CtlCommandSpec{QStringLiteral("stop"), kTaskArgument, 1, 1, QStringLiteral("Stop a task's running instances."), taskPath, {}});
    commands.append(CtlCommandSpec{QStringLiteral("delete"), kTaskArgument, 1, 1, QStringLiteral("Delete a task."), taskPath, {}});
    commands.append(CtlCommandSpec{
        QStringLiteral("history"), kTaskArgument, 1, 1, QStringLiteral("Show a task's run history."),
        taskPath + QStringLiteral(
            "\nThe runs the service recorded, oldest first. The history is kept by the service process "
            "(taskschedd).\nJSON: {\"task\": path, \"runs\": [{\"instance\", \"cause\", \"attempt\", "
            "\"start\", \"end\", \"result\"}]}; times as in \"list\", result a number."),
        {}});
    commands.append(CtlCommandSpec{
        QStringLiteral("export"), kTaskArgument, 1, 1, QStringLiteral("Write a task's definition document to standard output."),
        taskPath + QStringLiteral("\n2.0 only: 1.0 tasks have no definition document."), {}});
    commands.append(CtlCommandSpec{
        QStringLiteral("import"), QStringLiteral("TASK [FILE]"), 1, 2,
        QStringLiteral("Register a definition document as a task."),
        taskPath + QStringLiteral(
            "\nReads the document from FILE, or from standard input when FILE is \"-\" or not given. "
            "A task of that name is replaced only with --replace. 2.0 only."),
        {Opt({QStringLiteral("replace")}, {}, QStringLiteral("Replace a task of the same name.")),
         Opt({QStringLiteral("password-file")}, QStringLiteral("FILE"), QStringLiteral("Read the account's password from the first line of FILE."))}});
    commands.append(CtlCommandSpec{
        QStringLiteral("mkdir"), QStringLiteral("FOLDER"), 1, 1, QStringLiteral("Create a folder (and the folders above it)."),
        QStringLiteral("FOLDER is a path such as \"\\Reports\\Monthly\". 2.0 only."), {}});
    commands.append(CtlCommandSpec{
        QStringLiteral("rmdir"), QStringLiteral("FOLDER"), 1, 1, QStringLiteral("Delete an empty folder."),
        QStringLiteral("FOLDER is a path such as \"\\Reports\\Monthly\". 2.0 only."), {}});
    commands.append(CtlCommandSpec{
        QStringLiteral("completion"), QStringLiteral("SHELL"), 1, 1, QStringLiteral("Print a shell completion script."),
        QStringLiteral("SHELL is \"bash\". Use it as: source <(taskschedctl completion bash)"), {}});
    return commands;
}

QString OptionUsage(const CtlOptionSpec& option)
{
    QStringList names;
    for (const QString& n : option.names) names << (n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n;
    QString text = names.join(QStringLiteral(", "));
    if (!option.valueName.isEmpty()) text += QLatin1Char(' ') + option.valueName;
    return text;
}

void WriteOptions(QTextStream& out, const QList<CtlOptionSpec>& options)
{
    for (const CtlOptionSpec& o : options) out << "  " << OptionUsage(o).leftJustified(26) << ' ' << o.description << '\n';
}

// Roff treats a leading dot or apostrophe as a request and a backslash as an escape.
QString Roff(QString text)
{
    text.replace(QLatin1Char('\\'), QStringLiteral("\\e"));
    text.replace(QLatin1Char('-'), QStringLiteral("\\-"));
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        if (line.startsWith(QLatin1Char('.')) || line.startsWith(QLatin1Char('\''))) line.prepend(QStringLiteral("\\&"));
    return lines.join(QStringLiteral("\n.br\n"));
}

} // namespace

const QList<CtlOptionSpec>& CtlGlobalOptions()
{
    static const QList<CtlOptionSpec> options{
        Opt({QStringLiteral("v1")}, {}, QStringLiteral("Use the 1.0 generation of the service (flat task names, .job tasks).")),
        Opt({QStringLiteral("computer")}, QStringLiteral("NAME"), QStringLiteral("Manage the service of computer NAME instead of this one.")),
        Opt({QStringLiteral("json")}, {}, QStringLiteral("Print the result as JSON (shape given in each command's help).")),
        Opt({QStringLiteral("h"), QStringLiteral("help")}, {}, QStringLiteral("Show help and exit.")),
    };
    return options;
}

const QList<CtlCommandSpec>& CtlCommands()
{
    static const QList<CtlCommandSpec> commands = MakeCommands();
    return commands;
}

const CtlCommandSpec* FindCtlCommand(const QString& name)
{
    for (const CtlCommandSpec& c : CtlCommands())
        if (c.name == name) return &c;
    return nullptr;
}

QString CtlOverviewHelp()
{
    QString text;
    QTextStream out(&text);
    out << "Usage: taskschedctl [--v1] [--computer NAME] [--json] COMMAND [ARGUMENTS]\n"
        << "Manages the tasks of the scheduling service from the command line.\n\nCommands:\n";
    for (const CtlCommandSpec& c : CtlCommands()) out << "  " << c.name.leftJustified(12) << ' ' << c.summary << '\n';
    out << "\nOptions:\n";
    WriteOptions(out, CtlGlobalOptions());
    out << "\nExit codes: 0 done, 1 refused by the service, 2 bad usage, 3 task or folder not found.\n"
        << "\"taskschedctl COMMAND --help\" tells more of each command.\n";
    return text;
}

QString CtlCommandHelp(const CtlCommandSpec& command)
{
    QString text;
    QTextStream out(&text);
    out << "Usage: taskschedctl [OPTIONS] " << command.name;
    if (!command.options.isEmpty()) out << " [" << command.name << " OPTIONS]";
    if (!command.arguments.isEmpty()) out << ' ' << command.arguments;
    out << "\n" << command.summary << "\n\n" << command.description << '\n';
    if (!command.options.isEmpty()) {
        out << "\n" << command.name << " options:\n";
        WriteOptions(out, command.options);
    }
    out << "\nOptions:\n";
    WriteOptions(out, CtlGlobalOptions());
    return text;
}

QString CtlManPage()
{
    QString text;
    QTextStream out(&text);
    out << ".TH TASKSCHEDCTL 1\n.SH NAME\ntaskschedctl \\- manage the tasks of the scheduling service\n"
        << ".SH SYNOPSIS\n.B taskschedctl\n[\\-\\-v1] [\\-\\-computer NAME] [\\-\\-json] COMMAND [ARGUMENTS]\n"
        << ".SH DESCRIPTION\nLists, shows, creates, changes, runs, stops and deletes the tasks of the scheduling "
           "service (taskschedd), and manages its folders.\n.SH OPTIONS\n";
    for (const CtlOptionSpec& o : CtlGlobalOptions()) out << ".TP\n.B " << Roff(OptionUsage(o)) << '\n' << Roff(o.description) << '\n';
    out << ".SH COMMANDS\n";
    for (const CtlCommandSpec& c : CtlCommands()) {
        out << ".SS " << c.name << ' ' << Roff(c.arguments) << '\n' << Roff(c.summary) << "\n.PP\n" << Roff(c.description) << '\n';
        for (const CtlOptionSpec& o : c.options) out << ".TP\n.B " << Roff(OptionUsage(o)) << '\n' << Roff(o.description) << '\n';
    }
    out << ".SH EXIT STATUS\n0 done, 1 refused by the service, 2 bad usage, 3 task or folder not found.\n"
        << ".SH ENVIRONMENT\n.TP\n.B TASKSCHEDULER_HOME\nThe root directory of the service instance to use.\n";
    return text;
}

QString CtlBashCompletion()
{
    QString text;
    QTextStream out(&text);
    QStringList names;
    for (const CtlCommandSpec& c : CtlCommands()) names << c.name;
    QStringList globals;
    for (const CtlOptionSpec& o : CtlGlobalOptions()) globals << OptionUsage(o).section(QLatin1Char(' '), 0, 0).split(QStringLiteral(", ")).last();
    out << "# bash completion for taskschedctl\n_taskschedctl() {\n"
        << "    local cur=${COMP_WORDS[COMP_CWORD]} cmd= i\n"
        << "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
        << "        case ${COMP_WORDS[i]} in --computer) ((i++)) ;; -*) ;; *) cmd=${COMP_WORDS[i]}; break ;; esac\n"
        << "    done\n"
        << "    if [[ -z $cmd ]]; then\n"
        << "        COMPREPLY=($(compgen -W \"" << names.join(QLatin1Char(' ')) << ' ' << globals.join(QLatin1Char(' ')) << "\" -- \"$cur\"))\n"
        << "        return\n    fi\n    case $cmd in\n";
    for (const CtlCommandSpec& c : CtlCommands()) {
        QStringList words = globals;
        for (const CtlOptionSpec& o : c.options) words << QStringLiteral("--") + o.names.last();
        if (c.name == QLatin1String("completion")) words << QStringLiteral("bash");
        out << "        " << c.name << ") COMPREPLY=($(compgen -W \"" << words.join(QLatin1Char(' ')) << "\" -- \"$cur\")) ;;\n";
    }
    out << "    esac\n}\ncomplete -o default -F _taskschedctl taskschedctl\n";
    return text;
}
