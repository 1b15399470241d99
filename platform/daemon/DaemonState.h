#pragma once
// What a daemon leaves for the next daemon of its root: the boot it last ran in and how far
// it had handled the schedule.

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

    /// Records both durably. Throws ServiceError when the file cannot be written.
    void Save(const QString& bootId, const QDateTime& handledThrough);

    /// The id of the running boot of the computer (a new one at every boot).
    static QString CurrentBootId();
    QString File() const { return m_file; }

private:
    QString m_file;
    QString m_bootId;
    QDateTime m_handledThrough;
};
