#include "TErrorReport.h"

#include "Exceptions.h"
#include "ResultCodes.h"
#include "TUserPrompts.h"
#include "kvErrors.h"
#include "kvTask.h"

#include <algorithm>

namespace {

// Result codes that say "not available" or "not allowed", not "something broke".
bool IsRefusalOrUnavailable(HRESULT code)
{
    static const HRESULT codes[] = {
        SCHED_E_SERVICE_NOT_RUNNING, SCHED_E_SERVICE_NOT_AVAILABLE, SCHED_E_SERVICE_TOO_BUSY, SCHED_E_SERVICE_NOT_INSTALLED,
        SCHED_E_ALREADY_RUNNING, SCHED_E_TASK_DISABLED, SCHED_E_START_ON_DEMAND, SCHED_E_TASK_NOT_RUNNING,
        SCHED_E_TASK_NOT_READY, SCHED_E_TASK_NOT_V1_COMPAT, SCHED_E_PAST_END_BOUNDARY, SCHED_E_USER_NOT_LOGGED_ON,
        SCHED_E_UNSUPPORTED_ACCOUNT_OPTION, SCHED_E_ACCOUNT_NAME_NOT_FOUND, SCHED_E_ACCOUNT_INFORMATION_NOT_SET,
        SCHED_E_INVALIDVALUE, SCHED_E_TRIGGER_NOT_FOUND,
        E_ACCESSDENIED, E_NOTIMPL, E_NOINTERFACE, E_INVALIDARG,
        HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED),
        HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
        HRESULT_FROM_WIN32(ERROR_FILE_EXISTS), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
        HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY), HRESULT_FROM_WIN32(ERROR_INVALID_NAME),
        HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME), HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER),
        HRESULT_FROM_WIN32(ERROR_BAD_NETPATH), HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE),
        HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED), HRESULT_FROM_WIN32(ERROR_LOGON_FAILURE),
        HRESULT_FROM_WIN32(ERROR_NONE_MAPPED),
    };
    return std::find(std::begin(codes), std::end(codes), code) != std::end(codes);
}

} // namespace

QMessageBox::Icon TErrorReport::Icon(const std::exception& AError)
{
    if (const auto* platform = dynamic_cast<const EPlatformError*>(&AError))
        return IsRefusalOrUnavailable(platform->Code()) ? QMessageBox::Warning : QMessageBox::Critical;
    if (dynamic_cast<const EIntfCastError*>(&AError) || dynamic_cast<const EConvertError*>(&AError))
        return QMessageBox::Warning;
    const auto* error = dynamic_cast<const Exception*>(&AError);
    if (!error) return QMessageBox::Critical;
    const QString& message = error->Message();
    // The service not running, whatever reason follows on the next line.
    if (message.startsWith(SServiceNotRunning)) return QMessageBox::Warning;
    if (dynamic_cast<const ETriggerError*>(&AError) || dynamic_cast<const ETaskError*>(&AError)) {
        // A name that is taken, a value too large, a kind that needs the 2.0 service: refused.
        // An item used out of turn is a fault of the program.
        const bool fault = message.contains(QLatin1String("out of bounds")) || message.endsWith(QLatin1String("\" is not activated."));
        return fault ? QMessageBox::Critical : QMessageBox::Warning;
    }
    return QMessageBox::Critical;
}

void TErrorReport::Show(TUserPrompts& APrompts, QWidget* AParent, const std::exception& AError)
{
    const auto* error = dynamic_cast<const Exception*>(&AError);
    APrompts.ShowException(AParent, error ? error->Message() : QString::fromUtf8(AError.what()), Icon(AError));
}
