#include "provision/camera_registry.h"

namespace orv::provision {

CameraRegistry::Entry& CameraRegistry::entry(const std::string& label)
{
    return cameras_[label];
}

void CameraRegistry::tidy(const std::string& label)
{
    const auto it = cameras_.find(label);
    if (it != cameras_.end() && !it->second.heldByWatch && !it->second.heldByRunner && it->second.reservations == 0 &&
        it->second.deviceId.empty()) {
        cameras_.erase(it);
    }
}

bool CameraRegistry::tryHoldForWatch(const std::string& label)
{
    std::lock_guard lock(mutex_);
    Entry& e = entry(label);
    if (e.heldByWatch || e.heldByRunner || e.reservations != 0) {
        return false;
    }
    e.heldByWatch = true;
    return true;
}

void CameraRegistry::releaseFromWatch(const std::string& label)
{
    {
        std::lock_guard lock(mutex_);
        entry(label).heldByWatch = false;
        tidy(label);
    }
    released_.notify_all();
}

void CameraRegistry::reserve(const std::string& label)
{
    std::lock_guard lock(mutex_);
    ++entry(label).reservations;
}

bool CameraRegistry::holdForRunner(const std::string& label, const std::atomic<bool>& cancelled)
{
    std::unique_lock lock(mutex_);
    released_.wait(lock, [&] {
        const Entry& e = entry(label);
        return cancelled.load() || (!e.heldByWatch && !e.heldByRunner);
    });
    Entry& e = entry(label);
    if (e.heldByWatch || e.heldByRunner) {
        return false;
    }
    e.heldByRunner = true;
    return true;
}

void CameraRegistry::release(const std::string& label)
{
    handBack(label, true);
}

void CameraRegistry::unreserve(const std::string& label)
{
    handBack(label, false);
}

void CameraRegistry::handBack(const std::string& label, bool held)
{
    std::function<void(const std::string&)> listener;
    {
        std::lock_guard lock(mutex_);
        Entry& e = entry(label);
        if (held) {
            e.heldByRunner = false;
        }
        if (e.reservations != 0) {
            --e.reservations;
        }
        tidy(label);
        listener = onReleased_;
    }
    released_.notify_all();
    if (listener) {
        listener(label);
    }
}

void CameraRegistry::wakeWaiters()
{
    // Taking the lock orders the wake after any waiter's look at its flag.
    {
        std::lock_guard lock(mutex_);
    }
    released_.notify_all();
}

bool CameraRegistry::wantedByRunner(const std::string& label) const
{
    std::lock_guard lock(mutex_);
    const auto it = cameras_.find(label);
    return it != cameras_.end() && (it->second.heldByRunner || it->second.reservations != 0);
}

void CameraRegistry::onReleased(std::function<void(const std::string&)> listener)
{
    std::lock_guard lock(mutex_);
    onReleased_ = std::move(listener);
}

void CameraRegistry::noteDeviceId(const std::string& label, const std::u16string& deviceId)
{
    std::lock_guard lock(mutex_);
    entry(label).deviceId = deviceId;
    tidy(label);
}

void CameraRegistry::forget(const std::string& label)
{
    std::lock_guard lock(mutex_);
    const auto it = cameras_.find(label);
    if (it != cameras_.end()) {
        it->second.deviceId.clear();
        tidy(label);
    }
}

std::vector<std::string> CameraRegistry::othersWithDeviceId(const std::string& label,
                                                            const std::u16string& deviceId) const
{
    std::vector<std::string> others;
    if (deviceId.empty()) {
        return others;
    }
    std::lock_guard lock(mutex_);
    for (const auto& [other, e] : cameras_) {
        if (other != label && e.deviceId == deviceId) {
            others.push_back(other);
        }
    }
    return others;
}

} // namespace orv::provision
