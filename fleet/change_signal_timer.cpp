// Elsewhere: no system word on changes; the watcher's polling notices them.
#include "fleet/change_signal.h"

#include <condition_variable>
#include <mutex>

namespace orv::fleet {

struct ChangeSignal::Impl
{
    std::mutex mutex;
    std::condition_variable woken;
    bool wakeRequested = false;
};

ChangeSignal::ChangeSignal()
    : impl_(std::make_unique<Impl>())
{
}

ChangeSignal::~ChangeSignal() = default;

void ChangeSignal::wait(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(impl_->mutex);
    impl_->woken.wait_for(lock, timeout, [this] { return impl_->wakeRequested; });
    impl_->wakeRequested = false;
}

void ChangeSignal::wake()
{
    {
        std::lock_guard lock(impl_->mutex);
        impl_->wakeRequested = true;
    }
    impl_->woken.notify_all();
}

} // namespace orv::fleet
