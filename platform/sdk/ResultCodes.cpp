#include "ResultCodes.h"

#include "ErrorInfo.h"

#include <QHash>

namespace {

const QHash<HRESULT, QString>& Texts()
{
    static const QHash<HRESULT, QString> texts{
        {S_OK, QStringLiteral("The operation completed successfully.")},
        {S_FALSE, QStringLiteral("The operation completed, with nothing left to do.")},
        {E_NOTIMPL, QStringLiteral("Not implemented.")},
        {E_NOINTERFACE, QStringLiteral("No such interface supported.")},
        {E_POINTER, QStringLiteral("Invalid pointer.")},
        {E_ABORT, QStringLiteral("Operation aborted.")},
        {E_FAIL, QStringLiteral("Unspecified error.")},
        {E_UNEXPECTED, QStringLiteral("Catastrophic failure.")},
        {E_ACCESSDENIED, QStringLiteral("Access is denied.")},
        {E_HANDLE, QStringLiteral("The handle is invalid.")},
        {E_OUTOFMEMORY, QStringLiteral("Not enough memory resources are available to complete this operation.")},
        {E_INVALIDARG, QStringLiteral("The parameter is incorrect.")},
        {REGDB_E_CLASSNOTREG, QStringLiteral("Class not registered.")},
        {CO_E_NOTINITIALIZED, QStringLiteral("CoInitialize has not been called.")},
        {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), QStringLiteral("The system cannot find the file specified.")},
        {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), QStringLiteral("The system cannot find the path specified.")},
        {HRESULT_FROM_WIN32(ERROR_INVALID_DATA), QStringLiteral("The data is invalid.")},
        {HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), QStringLiteral("The request is not supported.")},
        {HRESULT_FROM_WIN32(ERROR_FILE_EXISTS), QStringLiteral("The file exists.")},
        {HRESULT_FROM_WIN32(ERROR_BAD_NETPATH), QStringLiteral("The network path was not found.")},
        {HRESULT_FROM_WIN32(ERROR_NETNAME_DELETED), QStringLiteral("The specified network name is no longer available.")},
        {HRESULT_FROM_WIN32(ERROR_DISK_FULL), QStringLiteral("There is not enough space on the disk.")},
        {HRESULT_FROM_WIN32(ERROR_DISK_QUOTA_EXCEEDED), QStringLiteral("The requested file operation failed because the storage quota was exceeded.")},
        {HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), QStringLiteral("The data area passed to a system call is too small.")},
        {HRESULT_FROM_WIN32(ERROR_INVALID_NAME), QStringLiteral("The filename, directory name, or volume label syntax is incorrect.")},
        {HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY), QStringLiteral("The directory is not empty.")},
        {HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME), QStringLiteral("The specified path is invalid.")},
        {HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), QStringLiteral("Cannot create a file when that file already exists.")},
        {HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT), QStringLiteral("The program is not a valid application.")},
        {HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE), QStringLiteral("The service has not been started.")},
        {HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED), QStringLiteral("This operation is supported only when you are connected to the server.")},
        {HRESULT_FROM_WIN32(ERROR_LOGON_FAILURE), QStringLiteral("The user name or password is incorrect.")},
        {HRESULT_FROM_WIN32(ERROR_NONE_MAPPED), QStringLiteral("No mapping between account names and security IDs was done.")},
        {HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), QStringLiteral("The file or directory is corrupted and unreadable.")},
        {HRESULT_FROM_WIN32(ERROR_TIMEOUT), QStringLiteral("This operation returned because the timeout period expired.")},
        {SCHED_S_TASK_READY, QStringLiteral("The task is ready to run at its next scheduled time.")},
        {SCHED_S_TASK_RUNNING, QStringLiteral("The task is currently running.")},
        {SCHED_S_TASK_DISABLED, QStringLiteral("The task will not run at the scheduled times because it has been disabled.")},
        {SCHED_S_TASK_HAS_NOT_RUN, QStringLiteral("The task has not yet run.")},
        {SCHED_S_TASK_NO_MORE_RUNS, QStringLiteral("There are no more runs scheduled for this task.")},
        {SCHED_S_TASK_NOT_SCHEDULED, QStringLiteral("One or more of the properties that are needed to run this task on a schedule have not been set.")},
        {SCHED_S_TASK_TERMINATED, QStringLiteral("The last run of the task was terminated by the user.")},
        {SCHED_S_TASK_NO_VALID_TRIGGERS, QStringLiteral("Either the task has no triggers or the existing triggers are disabled or not set.")},
        {SCHED_S_EVENT_TRIGGER, QStringLiteral("Event triggers do not have set run times.")},
        {SCHED_E_TRIGGER_NOT_FOUND, QStringLiteral("Trigger not found.")},
        {SCHED_E_TASK_NOT_READY, QStringLiteral("One or more of the properties that are needed to run this task have not been set.")},
        {SCHED_E_TASK_NOT_RUNNING, QStringLiteral("There is no running instance of the task.")},
        {SCHED_E_SERVICE_NOT_INSTALLED, QStringLiteral("The Task Scheduler service is not installed on this computer.")},
        {SCHED_E_CANNOT_OPEN_TASK, QStringLiteral("The task object could not be opened.")},
        {SCHED_E_INVALID_TASK, QStringLiteral("The object is either an invalid task object or is not a task object.")},
        {SCHED_E_ACCOUNT_INFORMATION_NOT_SET, QStringLiteral("No account information could be found in the Task Scheduler security database for the task indicated.")},
        {SCHED_E_ACCOUNT_NAME_NOT_FOUND, QStringLiteral("Unable to establish existence of the account specified.")},
        {SCHED_E_ACCOUNT_DBASE_CORRUPT, QStringLiteral("Corruption was detected in the Task Scheduler security database; the database has been reset.")},
        {SCHED_E_NO_SECURITY_SERVICES, QStringLiteral("Task Scheduler security services are available only on this kind of system.")},
        {SCHED_E_UNKNOWN_OBJECT_VERSION, QStringLiteral("The task object version is either unsupported or invalid.")},
        {SCHED_E_UNSUPPORTED_ACCOUNT_OPTION, QStringLiteral("The task has been configured with an unsupported combination of account settings and run time options.")},
        {SCHED_E_SERVICE_NOT_RUNNING, QStringLiteral("The Task Scheduler Service is not running.")},
        {SCHED_E_UNEXPECTEDNODE, QStringLiteral("The task XML contains an unexpected node.")},
        {SCHED_E_NAMESPACE, QStringLiteral("The task XML contains an element or attribute from an unexpected namespace.")},
        {SCHED_E_INVALIDVALUE, QStringLiteral("The task XML contains a value which is incorrectly formatted or out of range.")},
        {SCHED_E_MISSINGNODE, QStringLiteral("The task XML is missing a required element or attribute.")},
        {SCHED_E_MALFORMEDXML, QStringLiteral("The task XML is malformed.")},
        {SCHED_S_SOME_TRIGGERS_FAILED, QStringLiteral("The task is registered, but not all specified triggers will start the task.")},
        {SCHED_S_BATCH_LOGON_PROBLEM, QStringLiteral("The task is registered, but may fail to start. Batch logon privilege needs to be enabled for the task principal.")},
        {SCHED_E_TOO_MANY_NODES, QStringLiteral("The task XML contains too many nodes of the same type.")},
        {SCHED_E_PAST_END_BOUNDARY, QStringLiteral("The task cannot be started after the trigger end boundary.")},
        {SCHED_E_ALREADY_RUNNING, QStringLiteral("An instance of this task is already running.")},
        {SCHED_E_USER_NOT_LOGGED_ON, QStringLiteral("The task will not run because the user is not logged on.")},
        {SCHED_E_INVALID_TASK_HASH, QStringLiteral("The task image is corrupt or has been tampered with.")},
        {SCHED_E_SERVICE_NOT_AVAILABLE, QStringLiteral("The Task Scheduler service is not available.")},
        {SCHED_E_SERVICE_TOO_BUSY, QStringLiteral("The Task Scheduler service is too busy to handle your request. Please try again later.")},
        {SCHED_E_TASK_ATTEMPTED, QStringLiteral("The Task Scheduler service attempted to run the task, but the task did not run due to one of the constraints in the task definition.")},
        {SCHED_S_TASK_QUEUED, QStringLiteral("The Task Scheduler service has asked the task to run.")},
        {SCHED_E_TASK_DISABLED, QStringLiteral("The task is disabled.")},
        {SCHED_E_TASK_NOT_V1_COMPAT, QStringLiteral("The task has properties that are not compatible with earlier versions of the service.")},
        {SCHED_E_START_ON_DEMAND, QStringLiteral("The task settings do not allow the task to start on demand.")},
    };
    return texts;
}

} // namespace

QString ResultText(HRESULT hr)
{
    const auto& texts = Texts();
    const auto it = texts.constFind(hr);
    if (it != texts.constEnd()) return it.value();
    return QStringLiteral("Unknown error 0x%1.").arg(static_cast<std::uint32_t>(hr), 8, 16, QLatin1Char('0'));
}

void SetErrorDescription(HRESULT hr, const QString& description, const IID& source)
{
    ComPtr<ICreateErrorInfo> created;
    if (FAILED(CreateErrorInfo(created.Put()))) return;
    created->SetGUID(source);
    created->SetSource(QStringLiteral("Schedule"));
    created->SetDescription(description.isEmpty() ? ResultText(hr) : description);
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(created.As(info))) SetErrorInfo(0, info.Get());
}

QString ErrorDescription(HRESULT hr)
{
    ComPtr<IErrorInfo> info;
    QString description;
    if (FAILED(hr) && GetErrorInfo(0, info.Put()) == S_OK && info && SUCCEEDED(info->GetDescription(&description))
        && !description.isEmpty())
        return description;
    return ResultText(hr);
}
