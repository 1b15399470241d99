#pragma once
// Checking an account's password with the system's own authentication (PAM).

#include <QString>

class PasswordCheck {
public:
    /// The PAM service the checks run under; /etc/pam.d/taskschedd when installed, else the
    /// system's "other" rules.
    static QString ServiceName() { return QStringLiteral("taskschedd"); }

    /// Whether `password` is the password of local account `user` and the account may be used
    /// now (not locked or expired). The password is handed to PAM only and wiped from memory
    /// afterwards. A daemon that does not run as root can check its own account's password only.
    static bool Verify(const QString& user, const QString& password, QString* error = nullptr);
};
