#include "catalog/StoreTrust.h"

#include "AccountPolicy.h"
#include "catalog/RunnableTask.h"

#include <QDirIterator>
#include <QFile>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;

/// Why the directory `path` is not root's alone; empty when it is.
QString DirectoryRefusal(const QString& path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("\"%1\" cannot be examined").arg(path);
    if (S_ISLNK(st.st_mode)) return QStringLiteral("\"%1\" is a symbolic link").arg(path);
    if (!S_ISDIR(st.st_mode)) return {};
    if (st.st_uid != 0) {
        const QString owner = AccountPolicy::UserName(st.st_uid);
        return QStringLiteral("\"%1\" belongs to %2, not to root")
            .arg(path, owner.isEmpty() ? QStringLiteral("user %1").arg(st.st_uid) : owner);
    }
    if (st.st_mode & kWritableByOthers) return QStringLiteral("\"%1\" may be written by its group or others").arg(path);
    return {};
}

} // namespace

StoreTrust::StoreTrust(uid_t daemonUid) : m_enforced(daemonUid == 0) {}

StoreTrust StoreTrust::OfThisProcess() { return StoreTrust(::geteuid()); }

QString StoreTrust::RootRefusal(const QString& rootPath) const
{
    if (!m_enforced) return {};
    if (QString refusal = DirectoryRefusal(rootPath); !refusal.isEmpty()) return refusal;
    // Symbolic links are listed but not followed: a link to a directory is itself refused.
    QDirIterator dirs(rootPath, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                      QDirIterator::Subdirectories);
    while (dirs.hasNext()) {
        if (QString refusal = DirectoryRefusal(dirs.next()); !refusal.isEmpty()) return refusal;
    }
    return {};
}

StoreTrust::Verdict StoreTrust::CheckFile(const QString& file) const
{
    if (!m_enforced) return {};
    struct stat st {};
    if (::lstat(QFile::encodeName(file).constData(), &st) != 0) return {QStringLiteral("it cannot be examined"), {}};
    if (S_ISLNK(st.st_mode)) return {QStringLiteral("it is a symbolic link"), {}};
    if (!S_ISREG(st.st_mode)) return {QStringLiteral("it is not a regular file"), {}};
    if (st.st_mode & kWritableByOthers) return {QStringLiteral("its group or others may write it"), {}};
    if (st.st_uid == 0) return {};
    const QString owner = AccountPolicy::UserName(st.st_uid);
    // A file of a user the system does not know could run as no one it could be held to.
    if (owner.isEmpty()) return {QStringLiteral("it belongs to user %1, whom the system does not know").arg(st.st_uid), {}};
    return {{}, owner};
}

bool StoreTrust::Admit(const QString& file, RunnableTask* task, QString* refusal) const
{
    const Verdict verdict = CheckFile(file);
    if (!verdict.refusal.isEmpty()) {
        if (refusal) *refusal = verdict.refusal;
        return false;
    }
    if (!verdict.ownerAccount.isEmpty()) {
        task->account = verdict.ownerAccount;
        task->group.clear();
    }
    return true;
}
