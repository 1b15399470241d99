#include "gen1/JobStore.h"

#include "AtomicFile.h"
#include "gen1/JobFile.h"
#include "ResultCodes.h"
#include "StoreLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kLockWaitMs = 10000;
const QString kExtension = QStringLiteral(".job");

JobResult Failure(HRESULT hr, const QString& text)
{
    return JobResult{hr, text};
}

// A rename is durable only once the directory that holds it is on disk.
bool FlushDirectory(const QString& dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool IsSymLink(const QString& path)
{
    return QFileInfo(path).isSymLink();
}

} // namespace

JobStore::JobStore(ServiceRoot root) : m_root(std::move(root)) {}

QString JobStore::WithJobExtension(const QString& name)
{
    return name.endsWith(kExtension, Qt::CaseInsensitive) ? name : name + kExtension;
}

JobResult JobStore::ValidateName(const QString& name)
{
    auto refuse = [&](const QString& why) {
        return Failure(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), QStringLiteral("The task name \"%1\" %2").arg(name, why));
    };
    if (!name.endsWith(kExtension, Qt::CaseInsensitive)) return refuse(QStringLiteral("does not end in \".job\"."));
    if (name.size() == kExtension.size()) return refuse(QStringLiteral("has nothing before \".job\"."));
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return refuse(QStringLiteral("contains a path separator."));
    if (name.contains(QStringLiteral(".."))) return refuse(QStringLiteral("contains \"..\"."));
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || (c.unicode() >= 0x80 && c.unicode() < 0xA0))
            return refuse(QStringLiteral("contains a control character."));
        if (c.isHighSurrogate() && (i + 1 >= name.size() || !name.at(i + 1).isLowSurrogate()))
            return refuse(QStringLiteral("contains a character that is not valid text."));
        if (c.isLowSurrogate() && (i == 0 || !name.at(i - 1).isHighSurrogate()))
            return refuse(QStringLiteral("contains a character that is not valid text."));
    }
    if (QFile::encodeName(name).size() > 255) return refuse(QStringLiteral("is too long."));
    return {};
}

QStringList JobStore::List() const
{
    QDir dir(m_root.JobsDir());
    dir.setNameFilters({QStringLiteral("*.job")});
    dir.setFilter(QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    QStringList names;
    for (const QString& name : dir.entryList(dir.filter(), QDir::Name)) {
        if (ValidateName(name).Ok()) names.append(name);
    }
    return names;
}

QString JobStore::StoredName(const QString& name) const
{
    const QString path = PathOf(name);
    if (QFileInfo::exists(path) || IsSymLink(path)) return name;
    QDir dir(m_root.JobsDir());
    const QStringList entries = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0 && ValidateName(entry).Ok()) return entry;
    }
    return name;
}

bool JobStore::Exists(const QString& name) const
{
    return ValidateName(name).Ok() && QFileInfo::exists(PathOf(StoredName(name)));
}

JobResult JobStore::Load(const QString& asked, JobDefinition* definition, JobRuntime* runtime) const
{
    if (JobResult r = ValidateName(asked); !r.Ok()) return r;
    const QString name = StoredName(asked);
    const QString path = PathOf(name);
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return Failure(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), QStringLiteral("The task \"%1\" does not exist.").arg(name));
    if (info.isSymLink() || !info.isFile())
        return Failure(SCHED_E_INVALID_TASK, QStringLiteral("\"%1\" is not a task file.").arg(name));
    if (info.size() > JobFile::kMaxFileSize)
        return Failure(HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT),
                       QStringLiteral("The task file \"%1\" is damaged: it is larger than any task file.").arg(name));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Failure(E_ACCESSDENIED, QStringLiteral("The task file \"%1\" cannot be read: %2").arg(name, file.errorString()));
    const QByteArray bytes = file.read(JobFile::kMaxFileSize + 1);
    QString why;
    const HRESULT hr = JobFile::Decode(bytes, definition, runtime, &why);
    if (FAILED(hr)) return Failure(hr, QStringLiteral("\"%1\": %2").arg(name, why));
    return {};
}

JobResult JobStore::Save(const QString& asked, const JobDefinition& definition, SaveMode mode)
{
    if (JobResult r = ValidateName(asked); !r.Ok()) return r;
    StoreLock lock(m_root.StoreLockPath());
    if (JobResult busy; !lock.Acquire(kLockWaitMs, &busy.hr, &busy.error)) return busy;

    // A file of that name in any letter case is the one replaced (or refused).
    const QString name = StoredName(asked);
    const QString path = PathOf(name);
    JobRuntime runtime;
    if (QFileInfo(path).exists() || IsSymLink(path)) {
        if (mode == SaveMode::CreateNew)
            return Failure(HRESULT_FROM_WIN32(ERROR_FILE_EXISTS), QStringLiteral("The task \"%1\" already exists.").arg(name));
        JobDefinition old;
        JobRuntime oldRuntime;
        // A damaged file has no run facts worth keeping; the client's definition replaces it.
        if (Load(name, &old, &oldRuntime).Ok()) runtime = oldRuntime;
    }
    return Write(name, definition, runtime);
}

JobResult JobStore::SaveRuntime(const QString& asked, const JobRuntime& runtime)
{
    if (JobResult r = ValidateName(asked); !r.Ok()) return r;
    StoreLock lock(m_root.StoreLockPath());
    if (JobResult busy; !lock.Acquire(kLockWaitMs, &busy.hr, &busy.error)) return busy;
    const QString name = StoredName(asked);
    JobDefinition definition;
    JobRuntime old;
    if (JobResult r = Load(name, &definition, &old); !r.Ok()) return r;
    return Write(name, definition, runtime);
}

JobResult JobStore::Remove(const QString& asked)
{
    if (JobResult r = ValidateName(asked); !r.Ok()) return r;
    StoreLock lock(m_root.StoreLockPath());
    if (JobResult busy; !lock.Acquire(kLockWaitMs, &busy.hr, &busy.error)) return busy;
    const QString name = StoredName(asked);
    const QString path = PathOf(name);
    if (!QFileInfo(path).exists() && !IsSymLink(path))
        return Failure(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), QStringLiteral("The task \"%1\" does not exist.").arg(name));
    if (!QFile::remove(path))
        return Failure(E_ACCESSDENIED, QStringLiteral("The task file \"%1\" cannot be deleted.").arg(name));
    FlushDirectory(m_root.JobsDir());
    return {};
}

JobResult JobStore::Write(const QString& name, const JobDefinition& definition, const JobRuntime& runtime)
{
    const QString path = PathOf(name);
    if (IsSymLink(path))
        return Failure(E_ACCESSDENIED, QStringLiteral("\"%1\" is a link, not a task file; it is left as it is.").arg(name));
    QString why;
    const QByteArray bytes = JobFile::Encode(definition, runtime, &why);
    if (bytes.isEmpty()) return Failure(E_INVALIDARG, why);
    if (QString error; !m_root.Ensure(&error)) return Failure(E_ACCESSDENIED, error);

    try {
        AtomicFile::Write(path, bytes);
    } catch (const ServiceError& e) {
        return Failure(e.Code(), e.Message());
    }
    return {};
}
