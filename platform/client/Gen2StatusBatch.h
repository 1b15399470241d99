#pragma once
// The status of every task of one listing, asked for in one request: a window that shows
// the state, last run and next run of each listed task asks the service once, not once a row.

#include "Gen2Session.h"
#include "ListingWire.h"

#include <QCborMap>
#include <QHash>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

class Gen2StatusBatch {
public:
    /// The tasks that listing `folder` (with hidden ones when `hidden`) reported.
    Gen2StatusBatch(std::shared_ptr<Gen2Session> session, QString folder, bool hidden)
        : m_session(std::move(session)), m_folder(std::move(folder)), m_hidden(hidden) {}

    /// What a task's status answer gives, and the connection's request count it was taken at.
    struct Answer {
        QCborMap status;
        quint64 call = 0;
    };
    /// The status of the task at `path`, read for the field `fieldBit`. The first read of any
    /// task asks the service for all of them; each field of each task is served once, and only
    /// while no other request went through the connection since. Nothing when the answer is
    /// stale or served, the service gives no statuses with a listing, or it left the task out.
    std::optional<Answer> Take(const QString& path, unsigned fieldBit);

private:
    /// Asks the service; false when it cannot answer with statuses.
    bool Fetch();
    /// Where `path` is among the answer's tasks, or -1.
    qsizetype IndexOf(const QString& path);
    void Drop();

    std::shared_ptr<Gen2Session> m_session;
    QString m_folder;
    bool m_hidden = false;
    enum class Stage { NotAsked, Answered, Unavailable } m_stage = Stage::NotAsked;
    quint64 m_call = 0;
    // The answer as it came, packed; an older service's maps are kept as their maps.
    ListingWire::Listing m_listing;
    /// The fields served of each task (StatusField bits), one byte a task.
    QList<quint8> m_served;
    /// An older service's status maps; for a packed answer a map is made each time a field
    /// is served and not kept: a map for every row of thousands would take more than all
    /// the packed statuses.
    QList<QCborMap> m_maps;
    // Rows are read in the listing's order: the task after the one found last is looked at
    // first, and the paths are hashed only for a reader that jumps about.
    qsizetype m_last = -1;
    QHash<QString, qsizetype> m_index;
};
