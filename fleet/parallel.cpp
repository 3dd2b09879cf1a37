#include "fleet/parallel.h"
#include "fleet/worker_pool.h"

#include <algorithm>

namespace orv::fleet {

void forEachInParallel(std::size_t count, std::size_t parallel, const std::function<void(std::size_t)>& job)
{
    if (count == 0) {
        return;
    }
    WorkerPool pool(std::min(count, std::max<std::size_t>(parallel, 1)));
    if (!pool.forEach(count, job)) {
        // No thread to be had at all: the same results on this one, only slower.
        for (std::size_t i = 0; i < count; ++i) {
            job(i);
        }
    }
}

} // namespace orv::fleet
