#include "AdminCheck.h"

#include <unistd.h>

namespace {
std::optional<bool>& OverrideSlot()
{
    static std::optional<bool> slot;
    return slot;
}
} // namespace

bool AdminCheck::IsAdministrator()
{
    if (OverrideSlot()) return *OverrideSlot();
    return geteuid() == 0;
}

void AdminCheck::SetOverride(std::optional<bool> answer) { OverrideSlot() = answer; }

std::optional<bool> AdminCheck::Override() { return OverrideSlot(); }
