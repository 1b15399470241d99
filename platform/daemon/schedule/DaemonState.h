#pragma once
// What a daemon leaves for the next daemon of its root: the boot it last ran in, how far
// it had handled the schedule, and which tasks of an unfinished catch-up it had begun.

#include "schedule/CatchUpMark.h"
#include "ServiceRoot.h"

#include <QDateTime>
#include <QString>

class DaemonState {
public:
    explicit DaemonState(const ServiceRoot& root);

    /// Reads the file; a missing or damaged one reads as empty (with a warning for damage).
    void Load();
    /// The boot id of the computer's boot in which a daemon of this root last started.
    QString BootId() const { return m_bootId; }
    /// Every scheduled start up to this moment was handled; invalid before the first daemon.
    QDateTime HandledThrough() const { return m_handledThrough; }

    /// Records both, with the catch-up marks not yet covered by `handledThrough`: durably, or
    /// without `flush` replaced whole but not flushed (it then survives a crash of the daemon,
    /// not a power failure). Throws ServiceError when the file cannot be written.
    void Save(const QString& bootId, const QDateTime& handledThrough, bool flush = true);

    /// The tasks whose catch-up an earlier daemon began and did not see through. Marks of
    /// start-up starts count only in the boot `bootId` they were made in.
    CatchUpMarks CatchUp(const QString& bootId) const;
    /// Records durably, before it is carried out, that the catch-up of `key` in boot
    /// `bootId` is under way. Throws ServiceError when the file cannot be written.
    void RecordCatchUp(const QString& bootId, const TaskKey& key, const CatchUpMark& mark);

    /// The id of the running boot of the computer (a new one at every boot).
    static QString CurrentBootId();
    QString File() const { return m_file; }

private:
    void Write(bool flush = true);

    QString m_file;
    QString m_bootId;
    QDateTime m_handledThrough;
    QString m_catchUpBootId;
    CatchUpMarks m_catchUp;
};
