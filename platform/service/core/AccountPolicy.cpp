#include "AccountPolicy.h"

#include <QSysInfo>
#include <grp.h>
#include <pwd.h>
#include <vector>

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

std::optional<uid_t> LookUpUser(const QString& name)
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwnam_r(name.toLocal8Bit().constData(), &entry, buffer.data(), buffer.size(), &result) != 0 || !result)
        return std::nullopt;
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
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result) != 0 || !result) return {};
    return QString::fromLocal8Bit(result->pw_name);
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
    const QString name = LocalName(group);
    std::vector<char> buffer(65536);
    ::group entry{};
    ::group* result = nullptr;
    if (name.isEmpty() || getgrnam_r(name.toLocal8Bit().constData(), &entry, buffer.data(), buffer.size(), &result) != 0 || !result)
        return Unknown(group);
    if (m_serviceUid != 0 && m_peer.uid != m_serviceUid) return Denied(group);
    if (m_peer.uid == 0 || result->gr_gid == m_peer.gid) return {};
    const QByteArray peer = PeerName().toLocal8Bit();
    for (char** member = result->gr_mem; member && *member; ++member) {
        if (peer == *member) return {};
    }
    return Denied(group);
}
