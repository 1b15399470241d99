#pragma once
// What a daemon running as root believes of the files under its root. Whoever can write a
// store's files could otherwise run programs as any account, so, as cron does with its spool,
// such a daemon serves only a root that root alone can change, and runs a stored task as the
// account it names only when root wrote it.

#include <QString>

struct RunnableTask;
struct StoredFile;
#include <sys/types.h>

class StoreTrust {
public:
    /// The checks for a daemon whose effective user is `daemonUid`. A daemon that is not root
    /// trusts its files: only its own user, or root, can write them anyway.
    explicit StoreTrust(uid_t daemonUid);
    /// The checks for this process.
    static StoreTrust OfThisProcess();

    /// Whether the checks apply at all (the daemon runs as root).
    bool Enforced() const { return m_enforced; }

    /// Why `rootPath` must not be served: it, or a directory anywhere below it, is a symbolic
    /// link, is owned by another user than root, or may be written by its group or others.
    /// Empty when it may be served (always, when the checks do not apply).
    QString RootRefusal(const QString& rootPath) const;

    /// What may be run of one stored definition file.
    struct Verdict {
        /// Why the file is not run at all; empty when it may run.
        QString refusal;
        /// When the file belongs to an ordinary user: that user's name, the only account its
        /// task may run as, whatever the file says. Empty for root's files.
        QString ownerAccount;
    };
    /// Checks the definition file `file`: it must be a regular file, not a symbolic link, that
    /// its group and others cannot write, owned by root or by a user the system knows.
    Verdict CheckFile(const QString& file) const;
    /// The same for a file whose facts a read just found; `file` is examined only when they
    /// are not known.
    Verdict CheckFile(const QString& file, const StoredFile& facts) const;
    /// Applies the verdict on `file` to the task loaded from it: false, with `refusal` filled,
    /// when it may not run; a user's task is set to run as that user alone.
    bool Admit(const QString& file, RunnableTask* task, QString* refusal) const;
    bool Admit(const QString& file, const StoredFile& facts, RunnableTask* task, QString* refusal) const;

private:
    bool m_enforced;
};
