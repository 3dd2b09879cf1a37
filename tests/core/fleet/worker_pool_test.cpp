// The worker pool: never more threads than asked for, the same threads for work after work, and
// nothing on the caller's thread.
#include "fleet/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace orv::fleet {
namespace {

TEST(WorkerPool, RunsEverythingOnAFewThreadsOfItsOwnKeptForTheSession)
{
    WorkerPool pool(3);
    std::mutex mutex;
    std::set<std::thread::id> threads;
    std::atomic<int> running{0};
    std::atomic<int> mostAtOnce{0};
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(pool.forEach(10, [&](std::size_t) {
            const int now = ++running;
            int most = mostAtOnce.load();
            while (now > most && !mostAtOnce.compare_exchange_weak(most, now)) {
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            --running;
            std::lock_guard lock(mutex);
            threads.insert(std::this_thread::get_id());
        }));
    }
    EXPECT_LE(pool.workerCount(), 3u);
    EXPECT_LE(threads.size(), 3u) << "two hundred jobs, the same three threads at most";
    EXPECT_LE(mostAtOnce.load(), 3);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u) << "nothing runs on the caller's thread";
}

TEST(WorkerPool, TasksPostedAreRunBeforeThePoolEnds)
{
    std::atomic<int> done{0};
    std::mutex gate; // outlives the pool: its tasks take it until the pool has ended
    {
        WorkerPool pool(2);
        std::unique_lock held(gate);
        for (int i = 0; i < 8; ++i) {
            ASSERT_TRUE(pool.post([&] {
                std::lock_guard wait(gate);
                ++done;
            }));
        }
        held.unlock(); // queued behind a closed gate until now
    }
    EXPECT_EQ(done.load(), 8);
}

} // namespace
} // namespace orv::fleet
