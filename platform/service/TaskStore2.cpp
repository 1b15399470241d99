#include "TaskStore2.h"

#include "AtomicFile.h"
#include "ServiceError.h"
#include "TaskDocumentCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QtDebug>
#include <algorithm>

namespace {

const QString kFolderSuffix = QStringLiteral(".folder");
const QString kTaskSuffix = QStringLiteral(".task");
const QString kStateSuffix = QStringLiteral(".state");

ServiceError NotFound(const TaskPath& path)
{
    return ServiceError(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
                        QStringLiteral("The system cannot find the file specified. (\"%1\")").arg(path.ToString()));
}

ServiceError FolderNotFound(const TaskPath& path)
{
    return ServiceError(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
                        QStringLiteral("The system cannot find the path specified. (\"%1\")").arg(path.ToString()));
}

bool IsDir(const QString& path) { return QFileInfo(path).isDir(); }

} // namespace

class TaskStore2::WriteLock {
public:
    WriteLock(const ServiceRoot& root, int waitMs) : m_lock(root.StoreLockPath())
    {
        if (!m_lock.tryLock(waitMs))
            throw ServiceError(SCHED_E_SERVICE_TOO_BUSY,
                               QStringLiteral("The store of \"%1\" is locked by another writer.").arg(root.Path()));
    }

private:
    QLockFile m_lock;
};

TaskStore2::TaskStore2(ServiceRoot root, int lockWaitMs) : m_root(std::move(root)), m_lockWaitMs(lockWaitMs) {}

QString TaskStore2::FolderDir(const QString& base, const TaskPath& folder) const
{
    QString dir = base;
    for (const QString& name : folder.Names()) dir += QLatin1Char('/') + name + kFolderSuffix;
    return dir;
}

QString TaskStore2::TaskFile(const TaskPath& task) const
{
    return FolderDir(m_root.TasksDir(), task.Parent()) + QLatin1Char('/') + task.Name() + kTaskSuffix;
}

QString TaskStore2::StateFile(const TaskPath& task) const
{
    return FolderDir(m_root.StateDir(), task.Parent()) + QLatin1Char('/') + task.Name() + kStateSuffix;
}

bool TaskStore2::FolderExists(const TaskPath& folder) const
{
    return IsDir(FolderDir(m_root.TasksDir(), folder));
}

QStringList TaskStore2::FolderNames(const TaskPath& folder) const
{
    const QString dir = FolderDir(m_root.TasksDir(), folder);
    if (!IsDir(dir)) throw FolderNotFound(folder);
    QStringList names;
    for (const QString& entry : QDir(dir).entryList({QLatin1Char('*') + kFolderSuffix}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString name = entry.chopped(kFolderSuffix.size());
        if (TaskPath::NameProblem(name).isEmpty()) names.append(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void TaskStore2::EnsureFolders(const QString& base, const TaskPath& folder)
{
    QString dir = base;
    for (const QString& name : folder.Names()) {
        dir += QLatin1Char('/') + name + kFolderSuffix;
        if (!IsDir(dir)) AtomicFile::MakeDirectory(dir);
    }
}

void TaskStore2::CreateFolder(const TaskPath& folder)
{
    WriteLock lock(m_root, m_lockWaitMs);
    if (folder.IsRoot() || FolderExists(folder))
        throw ServiceError(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
                           QStringLiteral("Cannot create a file when that file already exists. (\"%1\")").arg(folder.ToString()));
    EnsureFolders(m_root.TasksDir(), folder);
}

void TaskStore2::DeleteFolder(const TaskPath& folder)
{
    if (folder.IsRoot()) throw ServiceError(E_INVALIDARG, QStringLiteral("The root folder cannot be deleted."));
    WriteLock lock(m_root, m_lockWaitMs);
    const QString dir = FolderDir(m_root.TasksDir(), folder);
    if (!IsDir(dir)) throw NotFound(folder);
    if (!QDir(dir).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        throw ServiceError(HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY),
                           QStringLiteral("The directory is not empty. (\"%1\" still holds tasks or folders.)").arg(folder.ToString()));
    AtomicFile::RemoveDirectory(dir);
    const QString stateDir = FolderDir(m_root.StateDir(), folder);
    if (IsDir(stateDir)) QDir(stateDir).removeRecursively();
}

StoredTask TaskStore2::Read(const TaskPath& task, const QString& file) const
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        if (!f.exists()) throw NotFound(task);
        throw ServiceError(HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT),
                           QStringLiteral("The task \"%1\" cannot be read: %2").arg(task.ToString(), f.errorString()));
    }
    if (f.size() > TaskDocumentCodec::MaxDocumentBytes)
        throw ServiceError(HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT),
                           QStringLiteral("The task \"%1\" is damaged: its file is too large.").arg(task.ToString()));
    StoredTask stored{task, f.readAll(), {}};
    ValueProblem problem;
    auto doc = TaskDocumentCodec::Load(stored.xml, &problem);
    if (!doc)
        throw ServiceError(HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT),
                           QStringLiteral("The task \"%1\" is damaged (%2): %3").arg(task.ToString(), file, problem.message));
    stored.doc = std::move(*doc);
    return stored;
}

void TaskStore2::ListTasks(const TaskPath& folder, QList<StoredTask>* tasks, QList<DamagedTask>* damaged) const
{
    const QString dir = FolderDir(m_root.TasksDir(), folder);
    if (!IsDir(dir)) throw FolderNotFound(folder);
    QStringList entries = QDir(dir).entryList({QLatin1Char('*') + kTaskSuffix}, QDir::Files | QDir::Hidden);
    std::sort(entries.begin(), entries.end());
    for (const QString& entry : entries) {
        const QString name = entry.chopped(kTaskSuffix.size());
        if (!TaskPath::NameProblem(name).isEmpty()) continue;
        const TaskPath path = *folder.Join(*TaskPath::Parse(name));
        try {
            tasks->append(Read(path, dir + QLatin1Char('/') + entry));
        } catch (const ServiceError& e) {
            qWarning().noquote() << e.Message();
            if (damaged) damaged->append(DamagedTask{path, e.Message()});
        }
    }
}

StoredTask TaskStore2::LoadTask(const TaskPath& task) const
{
    if (task.IsRoot()) throw NotFound(task);
    return Read(task, TaskFile(task));
}

void TaskStore2::Write(const TaskPath& task, const TaskDocument& doc, StoredTask* stored)
{
    EnsureFolders(m_root.TasksDir(), task.Parent());
    stored->path = task;
    stored->doc = doc;
    stored->xml = TaskDocumentCodec::Encode(doc);
    AtomicFile::Write(TaskFile(task), stored->xml);
}

StoredTask TaskStore2::StoreTask(const TaskPath& task, const TaskDocument& doc, Mode mode)
{
    if (task.IsRoot()) throw ServiceError(E_INVALIDARG, QStringLiteral("A task needs a name."));
    WriteLock lock(m_root, m_lockWaitMs);
    if (IsDir(FolderDir(m_root.TasksDir(), task)))
        throw ServiceError(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
                           QStringLiteral("\"%1\" is a folder.").arg(task.ToString()));
    const bool exists = QFileInfo::exists(TaskFile(task));
    if (exists && mode == Mode::Create)
        throw ServiceError(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
                           QStringLiteral("Cannot create a file when that file already exists. (\"%1\")").arg(task.ToString()));
    if (!exists && mode == Mode::Update) throw NotFound(task);
    if (exists) LoadTask(task);   // throws for a damaged document, which is kept as it is
    StoredTask stored;
    Write(task, doc, &stored);
    return stored;
}

StoredTask TaskStore2::ChangeTask(const TaskPath& task, const std::function<void(TaskDocument&)>& change)
{
    WriteLock lock(m_root, m_lockWaitMs);
    StoredTask stored = LoadTask(task);
    change(stored.doc);
    Write(task, stored.doc, &stored);
    return stored;
}

void TaskStore2::DeleteTask(const TaskPath& task)
{
    if (task.IsRoot()) throw NotFound(task);
    WriteLock lock(m_root, m_lockWaitMs);
    const QString file = TaskFile(task);
    if (!QFileInfo(file).isFile()) throw NotFound(task);
    AtomicFile::Remove(file);
    if (QFileInfo::exists(StateFile(task))) AtomicFile::Remove(StateFile(task));
}

std::optional<TaskRuntimeState> TaskStore2::ReadState(const TaskPath& task, QString* error) const
{
    QFile f(StateFile(task));
    if (!f.exists()) return TaskRuntimeState{};
    if (!f.open(QIODevice::ReadOnly)) {
        if (error) *error = f.errorString();
        return std::nullopt;
    }
    return TaskStateFile::Decode(f.read(64 * 1024), error);
}

void TaskStore2::WriteState(const TaskPath& task, const TaskRuntimeState& state)
{
    WriteLock lock(m_root, m_lockWaitMs);
    if (!QFileInfo(TaskFile(task)).isFile()) throw NotFound(task);
    EnsureFolders(m_root.StateDir(), task.Parent());
    AtomicFile::Write(StateFile(task), TaskStateFile::Encode(state));
}
