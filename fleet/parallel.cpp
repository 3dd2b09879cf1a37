#include "fleet/parallel.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace orv::fleet {

void forEachInParallel(std::size_t count, std::size_t parallel, const std::function<void(std::size_t)>& job)
{
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            job(i);
        }
    };
    const std::size_t workers = std::min(count, std::max<std::size_t>(parallel, 1));
    std::vector<std::thread> threads;
    threads.reserve(workers);
    for (std::size_t w = 1; w < workers; ++w) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break; // no more threads: fewer jobs at a time, the same results
        }
    }
    work();
    for (auto& t : threads) {
        t.join();
    }
}

} // namespace orv::fleet
