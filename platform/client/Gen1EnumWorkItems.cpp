#include "Gen1EnumWorkItems.h"

#include "ResultCodes.h"

ComPtr<Gen1EnumWorkItems> Gen1EnumWorkItems::Create(QStringList names, qsizetype position)
{
    return Make(std::move(names), position);
}

Gen1EnumWorkItems::Gen1EnumWorkItems(QStringList names, qsizetype position)
    : m_names(std::move(names)), m_position(position)
{
}

HRESULT Gen1EnumWorkItems::Next(ULONG celt, QStringList* rgpwszNames, ULONG* pceltFetched)
{
    if (!rgpwszNames) return E_POINTER;
    if (!pceltFetched && celt != 1) return E_INVALIDARG;
    const qsizetype count = std::min<qsizetype>(celt, m_names.size() - m_position);
    *rgpwszNames = m_names.mid(m_position, count);
    m_position += count;
    if (pceltFetched) *pceltFetched = ULONG(count);
    return count == qsizetype(celt) ? S_OK : S_FALSE;
}

HRESULT Gen1EnumWorkItems::Skip(ULONG celt)
{
    const qsizetype count = std::min<qsizetype>(celt, m_names.size() - m_position);
    m_position += count;
    return count == qsizetype(celt) ? S_OK : S_FALSE;
}

HRESULT Gen1EnumWorkItems::Reset()
{
    m_position = 0;
    return S_OK;
}

HRESULT Gen1EnumWorkItems::Clone(IEnumWorkItems** ppEnumWorkItems)
{
    if (!ppEnumWorkItems) return E_POINTER;
    *ppEnumWorkItems = Create(m_names, m_position).Detach();
    return S_OK;
}
