#pragma once
// The system's word that its interfaces changed, for the watcher: a netlink socket on Linux; a
// plain timer elsewhere, where the watcher's polling alone notices changes.

#include <chrono>
#include <memory>

namespace orv::fleet {

class ChangeSignal
{
public:
    ChangeSignal();
    ~ChangeSignal();
    ChangeSignal(const ChangeSignal&) = delete;
    ChangeSignal& operator=(const ChangeSignal&) = delete;

    // Returns when the system reports a change, wake() was called (now or since the last wait)
    // or `timeout` has passed.
    void wait(std::chrono::milliseconds timeout);
    void wake();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace orv::fleet
