#pragma once
// One command line of taskschedctl, parsed and checked against the command's options.

#include "CtlCommandSpecs.h"

#include <QHash>
#include <QString>
#include <QStringList>

/// The parsed command line. Global options may stand before or after the command.
class CtlInvocation {
public:
    /// Parses `arguments` (without the program name); raises CtlFailure(ctlUsage) for an
    /// unknown command or option, a missing value or the wrong number of arguments.
    static CtlInvocation Parse(const QStringList& arguments);

    /// The command's specification; null when only --help (or nothing) was given.
    const CtlCommandSpec* Command() const { return m_command; }
    /// Whether --help was asked for.
    bool HelpRequested() const { return IsSet(QStringLiteral("help")); }
    /// The positional arguments after the command.
    const QStringList& Arguments() const { return m_arguments; }
    /// Whether the option (by its long name) was given.
    bool IsSet(const QString& name) const { return m_values.contains(name); }
    /// The option's value; empty when it was not given.
    QString Value(const QString& name) const { return m_values.value(name); }

private:
    const CtlCommandSpec* m_command = nullptr;
    QStringList m_arguments;
    QHash<QString, QString> m_values;
};
