#include "run/RunAccount.h"

#include "AccountPolicy.h"
#include "ResultCodes.h"

#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace {

std::optional<RunAccount> FromPasswd(const passwd* pw)
{
    if (!pw) return std::nullopt;
    return RunAccount{QString::fromLocal8Bit(pw->pw_name), pw->pw_uid, pw->pw_gid, QString::fromLocal8Bit(pw->pw_dir),
                      QString::fromLocal8Bit(pw->pw_shell)};
}

std::optional<RunAccount> ByUid(uid_t uid)
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result) != 0) return std::nullopt;
    return FromPasswd(result);
}

std::optional<RunAccount> ByName(const QString& name)
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwnam_r(name.toLocal8Bit().constData(), &entry, buffer.data(), buffer.size(), &result) != 0) return std::nullopt;
    return FromPasswd(result);
}

} // namespace

std::optional<RunAccount> RunAccount::Resolve(const QString& account, const QString& group, HRESULT* code, QString* error)
{
    auto fail = [&](HRESULT hr, const QString& text) -> std::optional<RunAccount> {
        if (code) *code = hr;
        if (error) *error = text;
        return std::nullopt;
    };
    const uid_t self = geteuid();
    std::optional<RunAccount> run;
    if (!group.isEmpty() || account.isEmpty()) {
        run = ByUid(self);
    } else if (AccountPolicy::IsSystemAccount(account)) {
        if (self != 0) return fail(E_ACCESSDENIED, QStringLiteral("Access is denied. (Only the system's service runs tasks as \"%1\".)").arg(account));
        run = ByUid(0);
    } else {
        const QString name = AccountPolicy::LocalName(account);
        run = name.isEmpty() ? std::nullopt : ByName(name);
        if (!run)
            return fail(HRESULT_FROM_WIN32(ERROR_NONE_MAPPED),
                        QStringLiteral("No mapping between account names and security IDs was done. (\"%1\")").arg(account));
    }
    if (!run) return fail(HRESULT_FROM_WIN32(ERROR_NONE_MAPPED), QStringLiteral("The service's own account is unknown to the system."));
    if (self != 0 && run->uid != self)
        return fail(E_ACCESSDENIED, QStringLiteral("Access is denied. (This service runs tasks as \"%1\" only, not as \"%2\".)")
                                        .arg(ByUid(self) ? ByUid(self)->name : QString::number(self), account));
    if (!group.isEmpty() && self == 0) {
        // Only root can take on another group; an ordinary user's programs keep their groups,
        // which hold the task's group already (registration checked that).
        std::vector<char> buffer(65536);
        ::group entry{};
        ::group* result = nullptr;
        const QString name = AccountPolicy::LocalName(group);
        if (name.isEmpty() || getgrnam_r(name.toLocal8Bit().constData(), &entry, buffer.data(), buffer.size(), &result) != 0 || !result)
            return fail(HRESULT_FROM_WIN32(ERROR_NONE_MAPPED),
                        QStringLiteral("No mapping between account names and security IDs was done. (\"%1\")").arg(group));
        run->gid = result->gr_gid;
    }
    return run;
}

std::optional<QList<gid_t>> RunAccount::Groups() const
{
    const QByteArray user = name.toLocal8Bit();
    std::vector<gid_t> groups(64);
    for (int attempt = 0; attempt < 8; ++attempt) {
        int count = int(groups.size());
        if (::getgrouplist(user.constData(), gid, groups.data(), &count) >= 0)
            return QList<gid_t>(groups.cbegin(), groups.cbegin() + count);
        // Too small: the count it needs is in `count`, which a member added meanwhile may outgrow.
        if (count <= int(groups.size())) break;
        groups.resize(size_t(count));
    }
    return std::nullopt;
}

QStringList RunAccount::Environment(const QString& rootPath) const
{
    const QProcessEnvironment own = QProcessEnvironment::systemEnvironment();
    QProcessEnvironment env;
    if (uid == geteuid()) {
        env = own;
    } else {
        for (const QString& name : own.keys()) {
            if (name == QLatin1String("LANG") || name == QLatin1String("LANGUAGE") || name == QLatin1String("TZ")
                || name.startsWith(QLatin1String("LC_")))
                env.insert(name, own.value(name));
        }
        env.insert(QStringLiteral("PATH"), uid == 0 ? QStringLiteral("/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin")
                                                    : QStringLiteral("/usr/local/bin:/usr/bin:/bin"));
        const QString runtime = QStringLiteral("/run/user/%1").arg(uid);
        if (QFileInfo(runtime).isDir()) env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    }
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("USER"), name);
    env.insert(QStringLiteral("LOGNAME"), name);
    env.insert(QStringLiteral("SHELL"), shell.isEmpty() ? QStringLiteral("/bin/sh") : shell);
    env.insert(QStringLiteral("TASKSCHEDULER_HOME"), QDir::cleanPath(rootPath));
    // Programs are clients of the daemon, never hosts of a service core of their own.
    env.remove(QStringLiteral("TASKSCHEDULER_TRANSPORT"));
    if (!env.contains(QStringLiteral("PATH"))) env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/local/bin:/usr/bin:/bin"));
    return env.toStringList();
}
