#include "ServiceCore.h"

#include "gen2/Gen2Requests.h"
#include "gen1/Gen1Requests.h"

ServiceCore::ServiceCore(ServiceRoot root) : m_root(std::move(root))
{
    m_root.Ensure();
    // Each generation registers its own requests here.
    RegisterGen2Requests(m_router, m_root);
    RegisterGen1Requests(m_router, m_root);
}
