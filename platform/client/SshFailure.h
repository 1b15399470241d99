#pragma once
// Why a connection through ssh failed, in words for the user.

#include "ResultCodes.h"

#include <QString>

/// What became of one ssh process that gave no reply.
struct SshOutcome {
    bool started = true;      ///< the ssh program could be started at all
    QString startError;       ///< why not, when it could not
    bool timedOut = false;    ///< it was still running when the wait ended
    int timeoutSeconds = 0;   ///< the wait that ended
    bool crashed = false;     ///< it ended by a signal (exitCode means nothing then)
    int exitCode = 0;         ///< ssh's exit status: 255 for its own failures, else the remote program's
    bool answered = false;    ///< the service had answered on this connection before
    QString standardError;    ///< what ssh (and the remote program) wrote on standard error
};

/// The failure that a failed ssh connection stands for: its result code and a message that
/// names the computer and carries ssh's own words.
struct SshFailure {
    HRESULT code = E_FAIL;
    QString message;

    /// The failure of reaching `host` that `outcome` describes: a computer that cannot be
    /// reached, a refused login, an unknown or changed host key, a computer without the
    /// service program, a connection lost, an answer that did not come in time.
    static SshFailure Describe(const QString& host, const SshOutcome& outcome);
    /// The lines of ssh's standard error worth showing, joined into one text.
    static QString Words(const QString& standardError);
};
