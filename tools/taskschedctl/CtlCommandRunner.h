#pragma once
// Carries out one parsed command line against the service and prints its result.

#include "CtlFailure.h"

#include <QTextStream>

class CtlInvocation;

class CtlCommandRunner {
public:
    /// `out` takes results, `in` is read by the commands that take a document or a password
    /// from standard input.
    CtlCommandRunner(QTextStream& out, QTextStream& in) : m_out(out), m_in(in) {}

    /// Runs the command; failures raise CtlFailure or the library's exceptions.
    CtlExitCode Run(const CtlInvocation& invocation);

private:
    QTextStream& m_out;
    QTextStream& m_in;
};

/// Runs a whole command line: parses it, runs it, prints failures on `err`, and answers the
/// exit code. This is the program's main, kept apart so that tests can call it.
int RunTaskSchedCtl(const QStringList& arguments, QTextStream& out, QTextStream& err, QTextStream& in);
