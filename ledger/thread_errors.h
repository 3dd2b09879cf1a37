#pragma once
// The error text of each thread's last failed call on one ledger object, so that threads sharing a
// ledger read their own reason rather than another thread's.

#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace orv::ledger::detail {

class ThreadErrors
{
public:
    void set(std::string text)
    {
        std::lock_guard lock(mutex_);
        errors_[std::this_thread::get_id()] = std::move(text);
    }
    // A call that succeeds forgets the thread's entry, so the map holds only threads whose last
    // call failed.
    void clear()
    {
        std::lock_guard lock(mutex_);
        errors_.erase(std::this_thread::get_id());
    }
    std::string get() const
    {
        std::lock_guard lock(mutex_);
        const auto found = errors_.find(std::this_thread::get_id());
        return found == errors_.end() ? std::string() : found->second;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::thread::id, std::string> errors_;
};

} // namespace orv::ledger::detail
