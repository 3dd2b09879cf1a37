#pragma once
// A fixed set of worker threads for camera work. Threads are started as work arrives, never more
// than `most`, and each lives until the pool ends: a session that sees hundreds of cameras keeps
// the same few threads. Nothing runs on the caller's thread.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orv::fleet {

class WorkerPool
{
public:
    explicit WorkerPool(std::size_t most);
    ~WorkerPool(); // runs what is queued, then joins every worker
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Queues a task for the next free worker, starting one when all are busy and fewer than `most`
    // run. False (with `error`) only when no worker runs and none could be started: the task is
    // then not queued.
    bool post(std::function<void()> task, std::string* error = nullptr);

    // Runs job(0) .. job(count - 1) on the workers and returns once every one has; false (with
    // `error`) when no worker could be had, and then no job ran.
    bool forEach(std::size_t count, const std::function<void(std::size_t)>& job, std::string* error = nullptr);

    std::size_t workerCount() const;

    // For tests: while set, no worker thread can be started, as when the system has none to give.
    static void failThreadStartsForTests(bool fail);

private:
    void work();

    const std::size_t most_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    std::size_t idle_ = 0;
    bool ending_ = false;
    std::vector<std::thread> workers_;
};

} // namespace orv::fleet
