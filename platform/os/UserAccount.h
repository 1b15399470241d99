#pragma once
// The account the program runs under.

#include <QString>

class UserAccount {
public:
    /// The logon name of the effective user, as the account database knows it; empty when the
    /// user id has no entry there (a bare id in a container, say).
    static QString CurrentLogonName();
};
