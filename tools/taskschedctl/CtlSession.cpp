#include "CtlSession.h"

#include "CtlFailure.h"
#include "Exceptions.h"
#include "TaskService2.h"
#include "kvTask.h"

CtlSession::CtlSession(bool v1, const QString& computer) : m_scheduler(std::make_unique<TTaskScheduler>())
{
    m_scheduler->SetUseTaskScheduler1Only(v1);
    if (!computer.isEmpty()) m_scheduler->SetTargetComputer(computer);
    m_scheduler->SetActive(true);
}

CtlSession::~CtlSession() = default;

bool CtlSession::IsGen2() const { return m_scheduler->RunningVistaOrLater(); }

void CtlSession::RequireGen2(const QString& what) const
{
    if (!IsGen2()) throw CtlFailure(ctlUsage, QStringLiteral("%1 needs Task Service 2.0; drop --v1.").arg(what));
}

QString CtlSession::ParseFolderPath(const QString& text) const
{
    QString path = text;
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    while (path.size() > 1 && path.endsWith(QLatin1Char('\\'))) path.chop(1);
    if (!path.startsWith(QLatin1Char('\\'))) path.prepend(QLatin1Char('\\'));
    if (path.contains(QLatin1String("\\\\"))) throw CtlFailure(ctlUsage, QStringLiteral("The path \"%1\" has an empty folder name.").arg(text));
    return path;
}

CtlTaskPath CtlSession::ParseTaskPath(const QString& text) const
{
    if (text.isEmpty()) throw CtlFailure(ctlUsage, QStringLiteral("A task needs a name."));
    if (!IsGen2()) {
        if (text.contains(QLatin1Char('\\')) || text.contains(QLatin1Char('/')))
            throw CtlFailure(ctlUsage, QStringLiteral("Task Scheduler 1.0 has no folders: \"%1\" is not a task name.").arg(text));
        return CtlTaskPath{QString(), text, text};
    }
    const QString path = ParseFolderPath(text);
    if (path == QLatin1String("\\")) throw CtlFailure(ctlUsage, QStringLiteral("A task needs a name."));
    const qsizetype slash = path.lastIndexOf(QLatin1Char('\\'));
    return CtlTaskPath{slash == 0 ? QStringLiteral("\\") : path.left(slash), path.mid(slash + 1), path};
}

ComPtr<ITaskFolder> CtlSession::Folder(const QString& path)
{
    RequireGen2(QStringLiteral("A folder"));
    if (path != QLatin1String("\\") && !m_scheduler->FolderExists(path))
        throw CtlFailure(ctlNotFound, QStringLiteral("No folder \"%1\".").arg(path));
    ComPtr<ITaskFolder> folder;
    OleCheck(m_scheduler->VistaRootFolder()->GetFolder(path, folder.Put()));
    return folder;
}

void CtlSession::SelectFolder(const QString& path)
{
    if (!IsGen2()) return;
    Folder(path);
    m_scheduler->CurrentFolderPath = path;
}

TTaskItem* CtlSession::Task(const CtlTaskPath& path)
{
    SelectFolder(path.folder);
    TTaskItem* task = m_scheduler->ActivateTask(path.name);
    if (!task) throw CtlFailure(ctlNotFound, QStringLiteral("No task \"%1\".").arg(path.path));
    task->Activate();
    return task;
}
