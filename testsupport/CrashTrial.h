#pragma once
// Kills a real daemon at random moments while a client changes tasks through it, and checks
// what each kill left: every change the daemon acknowledged is there, and every file loads.

#include <QString>
#include <QStringList>

class CrashTrial {
public:
    struct Result {
        int trials = 0;
        int acknowledged = 0;   ///< changes the daemon answered with success
        int lost = 0;           ///< acknowledged changes missing after a kill
        int damaged = 0;        ///< stored tasks that no longer load
        int unanswered = 0;     ///< changes cut off by a kill (either outcome is right)
        QStringList problems;   ///< what was lost or damaged, in words
    };

    /// Runs `trials` kills of a daemon serving `rootPath`, with random moments drawn from
    /// `seed`, each up to `maxDelayMs` after the daemon answered. The caller's process must
    /// have the object runtime initialised and reach the daemon over its socket.
    static Result Run(const QString& rootPath, int trials, quint32 seed, int maxDelayMs = 150);
};
