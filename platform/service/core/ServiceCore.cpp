#include "ServiceCore.h"

#include "ServiceError.h"
#include "StoreJournal.h"
#include "StoreLock.h"
#include "gen2/Gen2Requests.h"
#include "gen2/TaskStore.h"
#include "gen1/Gen1Requests.h"

#include <QtDebug>

namespace {
// How long opening the service waits for another writer; the first change replays anyway.
constexpr int kRecoverLockWaitMs = 2000;
} // namespace

ServiceCore::ServiceCore(ServiceRoot root) : m_root(std::move(root))
{
    m_root.Ensure();
    // What a crash left in the store's journal is put in place before anything reads the
    // store: after a power failure the files may not yet hold what was acknowledged.
    try {
        TaskStore(m_root, kRecoverLockWaitMs).Recover();
    } catch (const ServiceError& e) {
        qWarning().noquote() << "the store's journal is replayed by its next change:" << e.Message();
    }
    // Each generation registers its own requests here.
    RegisterGen2Requests(m_router, m_root);
    RegisterGen1Requests(m_router, m_root);
}

ServiceCore::~ServiceCore()
{
    StoreJournal::Close(m_root.Path());
    // A clean stop leaves no lock file behind, as a writer of an earlier version did.
    StoreLock::Forget(m_root.StoreLockPath());
}
