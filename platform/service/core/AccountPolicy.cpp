#include "AccountPolicy.h"

#include <QSysInfo>
#include <cerrno>
#include <grp.h>
#include <memory>
#include <pwd.h>

namespace {

ValueProblem Denied(const QString& account)
{
    return ValueProblem{E_ACCESSDENIED, QStringLiteral("Access is denied. (The task cannot be registered for \"%1\".)").arg(account)};
}

ValueProblem Unknown(const QString& account)
{
    return ValueProblem{HRESULT_FROM_WIN32(ERROR_NONE_MAPPED),
                        QStringLiteral("No mapping between account names and security IDs was done. (\"%1\")").arg(account)};
}

// Calls a reentrant account lookup with a buffer that grows while the entry does not fit
// (a group of many members). The buffer is not cleared first: the lookup writes what it gives.
template <typename Entry, typename Lookup>
Entry* LookUp(Entry* entry, std::unique_ptr<char[]>* buffer, size_t size, Lookup lookup)
{
    for (; size <= (size_t(1) << 24); size *= 2) {
        buffer->reset(new char[size]);
        Entry* result = nullptr;
        const int rc = lookup(entry, buffer->get(), size, &result);
        if (rc == ERANGE) continue;
        return rc == 0 ? result : nullptr;
    }
    return nullptr;
}

std::optional<uid_t> LookUpUser(const QString& name)
{
    const QByteArray local = name.toLocal8Bit();
    passwd entry{};
    std::unique_ptr<char[]> buffer;
    const passwd* result = LookUp(&entry, &buffer, 4096, [&](passwd* e, char* b, size_t n, passwd** r) {
        return getpwnam_r(local.constData(), e, b, n, r);
    });
    if (!result) return std::nullopt;
    return result->pw_uid;
}

} // namespace

bool AccountPolicy::IsSystemAccount(const QString& account)
{
    for (const char* name : {"system", "localsystem", "nt authority\\system", "s-1-5-18"}) {
        if (account.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) return true;
    }
    return false;
}

QString AccountPolicy::UserName(uid_t uid)
{
    passwd entry{};
    std::unique_ptr<char[]> buffer;
    const passwd* result =
        LookUp(&entry, &buffer, 4096, [&](passwd* e, char* b, size_t n, passwd** r) { return getpwuid_r(uid, e, b, n, r); });
    return result ? QString::fromLocal8Bit(result->pw_name) : QString();
}

QString AccountPolicy::LocalName(const QString& account)
{
    const qsizetype slash = account.indexOf(QLatin1Char('\\'));
    if (slash < 0) return account;
    const QString domain = account.left(slash);
    if (domain == QLatin1String(".") || domain.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0)
        return account.mid(slash + 1);
    return {};
}

ValueProblem AccountPolicy::CheckUser(const QString& account) const
{
    std::optional<uid_t> uid;
    if (IsSystemAccount(account)) {
        uid = 0;
    } else {
        const QString name = LocalName(account);
        if (!name.isEmpty()) uid = LookUpUser(name);
    }
    if (!uid) return Unknown(account);
    const bool clientMay = m_peer.uid == 0 || *uid == m_peer.uid;
    const bool serviceCan = m_serviceUid == 0 || *uid == m_serviceUid;
    return clientMay && serviceCan ? ValueProblem{} : Denied(account);
}

ValueProblem AccountPolicy::CheckGroup(const QString& group) const
{
    const QByteArray name = LocalName(group).toLocal8Bit();
    ::group entry{};
    std::unique_ptr<char[]> buffer;
    const ::group* result = name.isEmpty() ? nullptr : LookUp(&entry, &buffer, 16384, [&](::group* e, char* b, size_t n, ::group** r) {
        return getgrnam_r(name.constData(), e, b, n, r);
    });
    if (!result) return Unknown(group);
    if (m_serviceUid != 0 && m_peer.uid != m_serviceUid) return Denied(group);
    if (m_peer.uid == 0 || result->gr_gid == m_peer.gid) return {};
    const QByteArray peer = PeerName().toLocal8Bit();
    for (char** member = result->gr_mem; member && *member; ++member) {
        if (peer == *member) return {};
    }
    return Denied(group);
}
