#pragma once
// The system account a task's programs run as, and the environment they get.

#include "ComBase.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <sys/types.h>

struct RunAccount {
    QString name;
    uid_t uid = 0;
    gid_t gid = 0;
    QString home;
    QString shell;

    /// The account a task runs as: `account` as stored ("System" and its aliases are root; empty
    /// is the daemon's own account); for a group task (`group` not empty) the daemon's own
    /// account with that group. A daemon that does not run as root runs tasks as its own
    /// account only. Nothing, with `code` and `error` filled, when the account does not exist or
    /// may not be used.
    static std::optional<RunAccount> Resolve(const QString& account, const QString& group, HRESULT* code, QString* error);

    /// The programs' whole environment: for the daemon's own account the daemon's own
    /// environment, for another one a fresh login-like environment (HOME, USER, LOGNAME, SHELL,
    /// PATH, the daemon's locale and time zone); in both the root's TASKSCHEDULER_HOME, so that a
    /// program that is a client of the service itself reaches this same service.
    QStringList Environment(const QString& rootPath) const;
    /// The groups a login of `name` with `gid` as its group is a member of, `gid` among them,
    /// from the system's group database; nothing when they cannot be read.
    std::optional<QList<gid_t>> Groups() const;
};
