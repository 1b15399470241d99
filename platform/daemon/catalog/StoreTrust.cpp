#include "catalog/StoreTrust.h"

#include "AccountPolicy.h"
#include "catalog/RunnableTask.h"
#include "gen2/TaskStore.h"

#include <QFile>
#include <QStringList>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
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

namespace {

// The refusal for the first directory below `dir` that is not root's alone, or for a link
// there that leads to anything but a plain file (a directory, or nowhere). Read with
// readdir's entry types, so that the files, a store's bulk, cost no examination.
QString RefusalBelow(const QString& dir)
{
    DIR* handle = ::opendir(QFile::encodeName(dir).constData());
    if (!handle) return {};
    QStringList subdirectories;
    QString refusal;
    while (const dirent* entry = ::readdir(handle)) {
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(::dirfd(handle), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        }
        if (type == DT_LNK) {
            struct stat target {};
            if (::fstatat(::dirfd(handle), entry->d_name, &target, 0) == 0 && S_ISREG(target.st_mode)) continue;
        } else if (type != DT_DIR) {
            continue;
        }
        const QString path = dir + QLatin1Char('/') + QFile::decodeName(entry->d_name);
        refusal = DirectoryRefusal(path);
        if (!refusal.isEmpty()) break;
        subdirectories.append(path);
    }
    ::closedir(handle);
    for (qsizetype i = 0; refusal.isEmpty() && i < subdirectories.size(); ++i) refusal = RefusalBelow(subdirectories[i]);
    return refusal;
}

} // namespace

QString StoreTrust::RootRefusal(const QString& rootPath) const
{
    if (!m_enforced) return {};
    if (QString refusal = DirectoryRefusal(rootPath); !refusal.isEmpty()) return refusal;
    // Symbolic links are looked at but not followed: a link to a directory is itself refused.
    return RefusalBelow(rootPath);
}

StoreTrust::Verdict StoreTrust::CheckFile(const QString& file) const
{
    if (!m_enforced) return {};
    struct stat st {};
    if (::lstat(QFile::encodeName(file).constData(), &st) != 0) return {QStringLiteral("it cannot be examined"), {}};
    return CheckFile(file, StoredFile{true, S_ISLNK(st.st_mode), S_ISREG(st.st_mode), st.st_uid, st.st_mode});
}

StoreTrust::Verdict StoreTrust::CheckFile(const QString& file, const StoredFile& facts) const
{
    if (!m_enforced) return {};
    if (!facts.known) return CheckFile(file);
    if (facts.link) return {QStringLiteral("it is a symbolic link"), {}};
    if (!facts.regular) return {QStringLiteral("it is not a regular file"), {}};
    if (facts.mode & kWritableByOthers) return {QStringLiteral("its group or others may write it"), {}};
    if (facts.owner == 0) return {};
    const QString owner = AccountPolicy::UserName(facts.owner);
    // A file of a user the system does not know could run as no one it could be held to.
    if (owner.isEmpty()) return {QStringLiteral("it belongs to user %1, whom the system does not know").arg(facts.owner), {}};
    return {{}, owner};
}

bool StoreTrust::Admit(const QString& file, RunnableTask* task, QString* refusal) const
{
    return Admit(file, StoredFile{}, task, refusal);
}

bool StoreTrust::Admit(const QString& file, const StoredFile& facts, RunnableTask* task, QString* refusal) const
{
    const Verdict verdict = CheckFile(file, facts);
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
