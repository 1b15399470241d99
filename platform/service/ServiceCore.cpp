#include "ServiceCore.h"

ServiceCore::ServiceCore(ServiceRoot root) : m_root(std::move(root))
{
    m_root.Ensure();
    // Each generation registers its own requests here.
}
