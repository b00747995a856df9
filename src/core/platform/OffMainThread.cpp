#include "core/platform/OffMainThread.h"

QThreadPool* offMainThreadPool()
{
    // Jobs here mostly sleep on a child process; many may wait at once (a
    // health check, an inventory refresh, a recovery step, probes), so the pool
    // is wider than the number of cores.
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(32);
        p->setExpiryTimeout(30000);
        return p;
    }();
    return pool;
}
