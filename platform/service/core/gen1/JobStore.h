#pragma once
// The generation 1.0 store: a flat directory of ".job" files in the service's root.

#include "gen1/JobDefinition.h"
#include "ServiceRoot.h"

#include <QString>
#include <QStringList>

/// The outcome of a store operation: a result code and, on failure, the service's own text.
struct JobResult {
    HRESULT hr = 0;
    QString error;
    bool Ok() const { return hr >= 0; }
};

/// Reads and writes the ".job" files of one root. Writes are crash-safe (a complete new file
/// replaces the old one, then the directory is flushed) and serialised between processes by
/// the root's store lock; reads need no lock, since a file is only ever replaced whole.
/// A name keeps the spelling it was first saved with but is unique ignoring case; every
/// operation addresses the file of that spelling, the exact one first.
class JobStore {
public:
    enum class SaveMode {
        /// The name must be free: a new work item, or a copy under another name.
        CreateNew,
        /// Replace the file of that name (or write it when it is gone), keeping its run facts.
        Replace,
    };

    explicit JobStore(ServiceRoot root);

    /// The directory of the ".job" files.
    QString Directory() const { return m_root.JobsDir(); }

    /// `name` with ".job" appended unless it already ends in ".job" (in any letter case).
    static QString WithJobExtension(const QString& name);
    /// Checks a work-item name ("Name.job"): not empty before the extension, no path
    /// separators, no "..", no control characters, at most 255 bytes as a file name.
    static JobResult ValidateName(const QString& name);

    /// The name of the stored file that `name` addresses: `name` itself when such a file
    /// exists, else the first file whose name equals it ignoring case, else `name`.
    QString StoredName(const QString& name) const;

    /// The names of the ".job" files, sorted; files whose names the store cannot address are left out.
    QStringList List() const;
    /// Whether a file of that name exists (damaged or not).
    bool Exists(const QString& name) const;
    /// Reads and decodes one file; a missing file gives the file-not-found code, a damaged
    /// one the codec's code and a text naming the file.
    JobResult Load(const QString& name, JobDefinition* definition, JobRuntime* runtime) const;
    /// Writes the definition. A file it replaces keeps its run facts; a new file starts with none.
    JobResult Save(const QString& name, const JobDefinition& definition, SaveMode mode);
    /// Replaces the run facts of an existing, readable file; its definition is kept.
    JobResult SaveRuntime(const QString& name, const JobRuntime& runtime);
    /// Deletes the file of that name.
    JobResult Remove(const QString& name);

    /// The file of the work item `name`, spelt exactly as given.
    QString PathOf(const QString& name) const { return m_root.JobsDir() + QLatin1Char('/') + name; }

private:
    JobResult Write(const QString& name, const JobDefinition& definition, const JobRuntime& runtime);

    ServiceRoot m_root;
};
