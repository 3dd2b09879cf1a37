#include "fleet/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <system_error>

namespace orv::fleet {
namespace {

std::atomic<bool> threadStartsFail{false};

} // namespace

void WorkerPool::failThreadStartsForTests(bool fail)
{
    threadStartsFail = fail;
}

WorkerPool::WorkerPool(std::size_t most)
    : most_(std::max<std::size_t>(most, 1))
{
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_) {
        t.join();
    }
}

std::size_t WorkerPool::workerCount() const
{
    std::lock_guard lock(mutex_);
    return workers_.size();
}

bool WorkerPool::post(std::function<void()> task, std::string* error)
{
    std::unique_lock lock(mutex_);
    if (idle_ <= queue_.size() && workers_.size() < most_) {
        try {
            if (threadStartsFail) {
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            }
            workers_.emplace_back([this] { work(); });
        } catch (const std::system_error& e) {
            if (workers_.empty()) {
                if (error) {
                    *error = e.what();
                }
                return false;
            }
            // The workers already running take it a little later.
        }
    }
    queue_.push_back(std::move(task));
    lock.unlock();
    wake_.notify_one();
    return true;
}

bool WorkerPool::forEach(std::size_t count, const std::function<void(std::size_t)>& job, std::string* error)
{
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    std::size_t left = count;
    for (std::size_t i = 0; i < count; ++i) {
        const bool posted = post(
            [&, i] {
                job(i);
                std::lock_guard lock(doneMutex);
                if (--left == 0) {
                    doneSignal.notify_all();
                }
            },
            error);
        if (!posted) {
            // Only the first post can fail (a worker, once started, stays); nothing was queued.
            return false;
        }
    }
    std::unique_lock lock(doneMutex);
    doneSignal.wait(lock, [&] { return left == 0; });
    return true;
}

void WorkerPool::work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_;
        wake_.wait(lock, [this] { return ending_ || !queue_.empty(); });
        --idle_;
        if (queue_.empty()) {
            return; // ending, and nothing left to run
        }
        std::function<void()> task = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}

} // namespace orv::fleet
