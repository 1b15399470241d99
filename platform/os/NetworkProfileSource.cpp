#include "NetworkProfileSource.h"

#include "NetworkManagerProfiles.h"

namespace {
const NetworkProfileSource*& OverrideSlot()
{
    static const NetworkProfileSource* slot = nullptr;
    return slot;
}
} // namespace

const NetworkProfileSource& NetworkProfileSource::Current()
{
    static const NetworkManagerProfiles system;
    return OverrideSlot() ? *OverrideSlot() : system;
}

void NetworkProfileSource::SetOverride(const NetworkProfileSource* source) { OverrideSlot() = source; }

NetworkProfileSource::ScopedOverride::ScopedOverride(const NetworkProfileSource& source) : m_previous(OverrideSlot())
{
    SetOverride(&source);
}

NetworkProfileSource::ScopedOverride::~ScopedOverride() { SetOverride(m_previous); }
