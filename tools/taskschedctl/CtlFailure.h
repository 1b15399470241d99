#pragma once
// A command that cannot be carried out, with the exit code that tells a script why.

#include <QString>

/// Exit codes scripts can test.
enum CtlExitCode : int {
    ctlDone = 0,      ///< the command did what it was asked
    ctlRefused = 1,   ///< the service (or the library in its name) refused it
    ctlUsage = 2,     ///< the command line is wrong
    ctlNotFound = 3,  ///< the task or folder named does not exist
};

/// Raised by the commands; main() prints the message on standard error and exits with the code.
class CtlFailure {
public:
    CtlFailure(CtlExitCode code, QString message) : m_code(code), m_message(std::move(message)) {}
    CtlExitCode Code() const { return m_code; }
    const QString& Message() const { return m_message; }

private:
    CtlExitCode m_code;
    QString m_message;
};
