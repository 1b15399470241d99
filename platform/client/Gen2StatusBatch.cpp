#include "Gen2StatusBatch.h"

#include "DaemonProtocol.h"
#include "Gen2Protocol.h"

#include <QAnyStringView>
#include <QCborArray>

bool Gen2StatusBatch::Fetch()
{
    // The documents came with the listing itself; only the statuses are asked for.
    const QCborMap request{{DaemonProtocol::Key::Op, Gen2Protocol::kTaskList},
                           {Gen2Protocol::Key::Folder, m_folder},
                           {Gen2Protocol::Key::Path, QString()},
                           {Gen2Protocol::Key::Hidden, m_hidden},
                           {Gen2Protocol::Key::Status, true},
                           {Gen2Protocol::Key::Xml, false},
                           {Gen2Protocol::Key::Packed, true}};
    QCborMap reply;
    if (FAILED(m_session->Call(request, &reply))) return false;
    m_call = m_session->CallCount();
    if (ListingWire::IsPacked(reply)) {
        auto listing = ListingWire::Read(reply);
        // Bytes that cannot be read serve nothing: every row then asks on its own.
        if (!listing || !listing->HasStatuses()) return false;
        m_listing = std::move(*listing);
        m_served.resize(m_listing.entries.size());
        return true;
    }
    // A service that packs nothing sends a map for each task.
    const QCborArray records = reply.value(Gen2Protocol::Key::Tasks).toArray();
    m_served.reserve(records.size());
    m_maps.reserve(records.size());
    for (const QCborValue& value : records) {
        const QCborMap record = value.toMap();
        const QCborValue status = record.value(Gen2Protocol::Key::Status);
        // A service that does not know the question answers with a plain listing.
        if (!status.isMap()) return false;
        m_index.insert(record.value(Gen2Protocol::Key::Path).toString(), m_maps.size());
        m_maps.append(status.toMap());
        m_served.append(0);
    }
    return true;
}

qsizetype Gen2StatusBatch::IndexOf(const QString& path)
{
    const auto& entries = m_listing.entries;
    if (entries.isEmpty()) {
        const auto found = m_index.constFind(path);
        return found == m_index.constEnd() ? -1 : *found;
    }
    const auto matches = [&](qsizetype i) {
        const ListingWire::Entry& e = entries[i];
        return QAnyStringView::equal(QUtf8StringView(m_listing.bytes.constData() + e.pathAt, e.pathSize), path);
    };
    for (const qsizetype i : {m_last, m_last + 1}) {
        if (i >= 0 && i < entries.size() && matches(i)) return m_last = i;
    }
    if (m_index.isEmpty()) {
        m_index.reserve(entries.size());
        for (qsizetype i = 0; i < entries.size(); ++i) m_index.insert(m_listing.Path(i), i);
    }
    const auto found = m_index.constFind(path);
    if (found == m_index.constEnd()) return -1;
    return m_last = *found;
}

void Gen2StatusBatch::Drop()
{
    m_stage = Stage::Unavailable;
    m_listing = {};
    m_served.clear();
    m_maps.clear();
    m_index.clear();
}

std::optional<Gen2StatusBatch::Answer> Gen2StatusBatch::Take(const QString& path, unsigned fieldBit)
{
    if (m_stage == Stage::NotAsked) {
        m_stage = Stage::Answered;
        if (!Fetch()) Drop();
    }
    if (m_stage != Stage::Answered) return std::nullopt;
    if (m_call != m_session->CallCount()) {
        // Stale for good: nothing more is served from it.
        Drop();
        return std::nullopt;
    }
    const qsizetype i = IndexOf(path);
    if (i < 0) return std::nullopt;
    quint8& served = m_served[i];
    if (served & fieldBit) return std::nullopt;
    served |= quint8(fieldBit);
    if (!m_listing.entries.isEmpty()) return Answer{ListingWire::StatusMap(m_listing.Status(i)), m_call};
    return Answer{m_maps[i], m_call};
}
