#pragma once
// Starting the daemon of a root on behalf of a client.

#include <QString>

/// Finds the taskschedd program and starts it, detached, for one root.
class DaemonLauncher {
public:
    /// The program's file name.
    static QString ProgramName();
    /// The taskschedd beside the calling program, else the one installed with this code (the
    /// configured install prefix's bin directory), else the one on PATH; empty when there is none.
    static QString FindProgram();
    /// Starts the daemon of `rootPath` detached from the caller and returns at once; the daemon
    /// may still be starting. Its own messages go to the root's daemon log. False, with `error`
    /// filled, when there is no program or it cannot be started.
    static bool Launch(const QString& rootPath, QString* error = nullptr);
    /// The daemon's own log in a root.
    static QString LogFile(const QString& rootPath);
};
