#include "UserAccount.h"

#include <cerrno>
#include <pwd.h>
#include <unistd.h>
#include <vector>

QString UserAccount::CurrentLogonName()
{
    // The effective user, not the session's login name: under su or sudo the program acts as
    // the account it switched to, and tasks it creates belong to that account.
    const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
    passwd entry{};
    passwd* found = nullptr;
    int rc = 0;
    while ((rc = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE
           && buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (rc != 0 || !found || !found->pw_name) return {};
    return QString::fromLocal8Bit(found->pw_name);
}
