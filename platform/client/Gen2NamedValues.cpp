#include "Gen2NamedValues.h"

#include "Gen2Session.h"

namespace {

// One pair, addressed by its position; it fails once that position is gone.
class NamedValuePair : public ComObject<NamedValuePair, ITaskNamedValuePair> {
public:
    NamedValuePair(std::shared_ptr<void> owner, QList<NamedValue>* list, qsizetype index)
        : m_owner(std::move(owner)), m_list(list), m_index(index) {}

    HRESULT get_Name(QString* p) override { return Valid() ? Gen2::Out(p, Pair().name) : Gone(); }
    HRESULT put_Name(const QString& v) override { return Valid() ? Set(&NamedValue::name, v) : Gone(); }
    HRESULT get_Value(QString* p) override { return Valid() ? Gen2::Out(p, Pair().value) : Gone(); }
    HRESULT put_Value(const QString& v) override { return Valid() ? Set(&NamedValue::value, v) : Gone(); }

private:
    bool Valid() const { return m_index < m_list->size(); }
    NamedValue& Pair() const { return (*m_list)[m_index]; }
    HRESULT Set(QString NamedValue::* field, const QString& v) const
    {
        Pair().*field = v;
        return S_OK;
    }
    static HRESULT Gone() { return Gen2::Fail(E_UNEXPECTED, QStringLiteral("The pair has been removed from its collection.")); }
    std::shared_ptr<void> m_owner;
    QList<NamedValue>* m_list;
    qsizetype m_index;
};

} // namespace

HRESULT Gen2NamedValueCollection::get_Count(LONG* pCount)
{
    return Gen2::OutValue(pCount, m_list->size());
}

HRESULT Gen2NamedValueCollection::get_Item(LONG index, ITaskNamedValuePair** ppPair)
{
    if (!ppPair) return E_POINTER;
    if (index < 1 || index > m_list->size()) return Gen2::Fail(E_INVALIDARG, QStringLiteral("There is no pair %1.").arg(index));
    return Gen2::OutObject(ppPair, NamedValuePair::Make(m_owner, m_list, index - 1));
}

HRESULT Gen2NamedValueCollection::Create(const QString& name, const QString& value, ITaskNamedValuePair** ppPair)
{
    m_list->append(NamedValue{name, value});
    if (!ppPair) return S_OK;
    return Gen2::OutObject(ppPair, NamedValuePair::Make(m_owner, m_list, m_list->size() - 1));
}

HRESULT Gen2NamedValueCollection::Remove(LONG index)
{
    if (index < 1 || index > m_list->size()) return Gen2::Fail(E_INVALIDARG, QStringLiteral("There is no pair %1.").arg(index));
    m_list->removeAt(index - 1);
    return S_OK;
}

HRESULT Gen2NamedValueCollection::Clear()
{
    m_list->clear();
    return S_OK;
}

HRESULT Gen2NamedValueCollection::CopyFrom(ITaskNamedValueCollection* source, QList<NamedValue>* list)
{
    if (!source) return E_POINTER;
    LONG count = 0;
    if (HRESULT hr = source->get_Count(&count); FAILED(hr)) return hr;
    QList<NamedValue> copy;
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<ITaskNamedValuePair> pair;
        NamedValue value;
        if (HRESULT hr = source->get_Item(i, pair.Put()); FAILED(hr)) return hr;
        if (HRESULT hr = pair->get_Name(&value.name); FAILED(hr)) return hr;
        if (HRESULT hr = pair->get_Value(&value.value); FAILED(hr)) return hr;
        copy.append(value);
    }
    *list = copy;
    return S_OK;
}
