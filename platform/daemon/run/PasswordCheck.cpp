#include "run/PasswordCheck.h"

#include <security/pam_appl.h>

#include <QByteArray>
#include <cstdlib>
#include <cstring>

namespace {

struct Credentials {
    QByteArray user;
    QByteArray password;
};

int Converse(int count, const pam_message** messages, pam_response** responses, void* data)
{
    if (count <= 0 || count > PAM_MAX_NUM_MSG) return PAM_CONV_ERR;
    const auto* credentials = static_cast<const Credentials*>(data);
    auto* replies = static_cast<pam_response*>(std::calloc(size_t(count), sizeof(pam_response)));
    if (!replies) return PAM_BUF_ERR;
    for (int i = 0; i < count; ++i) {
        const char* answer = nullptr;
        switch (messages[i]->msg_style) {
        case PAM_PROMPT_ECHO_OFF: answer = credentials->password.constData(); break;
        case PAM_PROMPT_ECHO_ON: answer = credentials->user.constData(); break;
        default: break;   // information and error texts need no answer
        }
        if (answer && !(replies[i].resp = ::strdup(answer))) {
            for (int j = 0; j < i; ++j) std::free(replies[j].resp);
            std::free(replies);
            return PAM_BUF_ERR;
        }
    }
    *responses = replies;
    return PAM_SUCCESS;
}

} // namespace

bool PasswordCheck::Verify(const QString& user, const QString& password, QString* error)
{
    Credentials credentials{user.toLocal8Bit(), password.toUtf8()};
    auto wipe = [&] { credentials.password.fill('\0'); };
    pam_conv conversation{Converse, &credentials};
    pam_handle_t* handle = nullptr;
    int rc = pam_start(ServiceName().toLatin1().constData(), credentials.user.constData(), &conversation, &handle);
    if (rc != PAM_SUCCESS) {
        if (error) *error = QStringLiteral("The system's authentication cannot be used.");
        wipe();
        return false;
    }
    rc = pam_authenticate(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    if (rc == PAM_SUCCESS) rc = pam_acct_mgmt(handle, PAM_SILENT);
    if (rc != PAM_SUCCESS && error) *error = QString::fromLocal8Bit(pam_strerror(handle, rc));
    pam_end(handle, rc);
    wipe();
    return rc == PAM_SUCCESS;
}
