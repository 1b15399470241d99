#include "CtlInvocation.h"

#include "CtlFailure.h"

namespace {

const CtlOptionSpec* FindOption(const QList<CtlOptionSpec>& options, const QString& name)
{
    for (const CtlOptionSpec& o : options)
        if (o.names.contains(name)) return &o;
    return nullptr;
}

[[noreturn]] void Usage(const QString& message)
{
    throw CtlFailure(ctlUsage, message + QStringLiteral("\nTry \"taskschedctl --help\"."));
}

} // namespace

CtlInvocation CtlInvocation::Parse(const QStringList& arguments)
{
    CtlInvocation result;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& word = arguments[i];
        if (optionsEnded || !word.startsWith(QLatin1Char('-')) || word == QLatin1String("-")) {
            if (!result.m_command) {
                result.m_command = FindCtlCommand(word);
                if (!result.m_command) Usage(QStringLiteral("Unknown command \"%1\".").arg(word));
            } else {
                result.m_arguments << word;
            }
            continue;
        }
        if (word == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = word.mid(word.startsWith(QLatin1String("--")) ? 2 : 1);
        QString value;
        bool hasValue = false;
        if (const qsizetype eq = name.indexOf(QLatin1Char('=')); eq >= 0) {
            value = name.mid(eq + 1);
            name.truncate(eq);
            hasValue = true;
        }
        const CtlOptionSpec* option = FindOption(CtlGlobalOptions(), name);
        if (!option && result.m_command) option = FindOption(result.m_command->options, name);
        if (!option) {
            Usage(result.m_command ? QStringLiteral("The command \"%1\" has no option \"%2\".").arg(result.m_command->name, word)
                                   : QStringLiteral("Unknown option \"%1\".").arg(word));
        }
        if (option->valueName.isEmpty()) {
            if (hasValue) Usage(QStringLiteral("The option \"--%1\" takes no value.").arg(name));
        } else if (!hasValue) {
            if (i + 1 >= arguments.size()) Usage(QStringLiteral("The option \"--%1\" needs a value (%2).").arg(name, option->valueName));
            value = arguments[++i];
        }
        result.m_values.insert(option->names.last(), value);
    }
    if (result.HelpRequested()) return result;
    if (!result.m_command) Usage(QStringLiteral("No command given."));
    const auto count = result.m_arguments.size();
    if (count < result.m_command->minArguments || count > result.m_command->maxArguments) {
        Usage(QStringLiteral("Usage: taskschedctl %1 %2").arg(result.m_command->name, result.m_command->arguments));
    }
    return result;
}
