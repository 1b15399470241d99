#pragma once
// Name and value pairs kept inside a trigger or an action, edited in place.

#include "gen2/TaskDocument.h"
#include "TaskService2.h"

#include <memory>

/// A live view of a list of pairs; `owner` keeps the list's trigger or action alive.
class Gen2NamedValueCollection : public ComObject<Gen2NamedValueCollection, ITaskNamedValueCollection> {
public:
    Gen2NamedValueCollection(std::shared_ptr<void> owner, QList<NamedValue>* list) : m_owner(std::move(owner)), m_list(list) {}

    HRESULT get_Count(LONG* pCount) override;
    HRESULT get_Item(LONG index, ITaskNamedValuePair** ppPair) override;
    HRESULT Create(const QString& name, const QString& value, ITaskNamedValuePair** ppPair) override;
    HRESULT Remove(LONG index) override;
    HRESULT Clear() override;

    /// Replaces `list` with the pairs of any collection.
    static HRESULT CopyFrom(ITaskNamedValueCollection* source, QList<NamedValue>* list);

private:
    std::shared_ptr<void> m_owner;
    QList<NamedValue>* m_list;
};
