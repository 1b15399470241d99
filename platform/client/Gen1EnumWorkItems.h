#pragma once
// The list of a scheduler's work-item names, as it stood when the enumeration was made.

#include "ComBase.h"
#include "tvMSTask.h"

#include <QStringList>

/// Walks a fixed list of names ("Name.job").
class Gen1EnumWorkItems final : public ComObject<Gen1EnumWorkItems, IEnumWorkItems> {
public:
    static ComPtr<Gen1EnumWorkItems> Create(QStringList names, qsizetype position = 0);

    HRESULT Next(ULONG celt, QStringList* rgpwszNames, ULONG* pceltFetched) override;
    HRESULT Skip(ULONG celt) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumWorkItems** ppEnumWorkItems) override;

private:
    friend class ComObject<Gen1EnumWorkItems, IEnumWorkItems>;
    Gen1EnumWorkItems(QStringList names, qsizetype position);

    QStringList m_names;
    qsizetype m_position;
};
