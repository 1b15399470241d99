#include "Gen2StatusBatch.h"

#include "Gen2Protocol.h"

#include <QCborArray>

bool Gen2StatusBatch::Fetch()
{
    // The documents came with the listing itself; only the statuses are asked for.
    const QCborMap request{{QStringLiteral("op"), Gen2Protocol::kTaskList},
                           {Gen2Protocol::Key::Folder, m_folder},
                           {Gen2Protocol::Key::Path, QString()},
                           {Gen2Protocol::Key::Hidden, m_hidden},
                           {QStringLiteral("status"), true},
                           {Gen2Protocol::Key::Xml, false}};
    QCborMap reply;
    if (FAILED(m_session->Call(request, &reply))) return false;
    m_call = m_session->CallCount();
    for (const QCborValue& value : reply.value(Gen2Protocol::Key::Tasks).toArray()) {
        const QCborMap record = value.toMap();
        const QCborValue status = record.value(QStringLiteral("status"));
        // A service that does not know the question answers with a plain listing.
        if (!status.isMap()) return false;
        m_entries.insert(record.value(Gen2Protocol::Key::Path).toString(), Entry{status.toMap(), 0});
    }
    return true;
}

std::optional<Gen2StatusBatch::Answer> Gen2StatusBatch::Take(const QString& path, unsigned fieldBit)
{
    if (m_stage == Stage::NotAsked) {
        m_stage = Fetch() ? Stage::Answered : Stage::Unavailable;
        if (m_stage == Stage::Unavailable) m_entries.clear();
    }
    if (m_stage != Stage::Answered) return std::nullopt;
    if (m_call != m_session->CallCount()) {
        // Stale for good: nothing more is served from it.
        m_stage = Stage::Unavailable;
        m_entries.clear();
        return std::nullopt;
    }
    const auto found = m_entries.find(path);
    if (found == m_entries.end() || (found->served & fieldBit)) return std::nullopt;
    found->served |= fieldBit;
    return Answer{found->status, m_call};
}
