#include "fleet/interface_watcher.h"
#include "fleet/change_signal.h"

#include <algorithm>
#include <system_error>

namespace orv::fleet {

InterfaceChange compareInterfaces(const std::vector<NetworkInterface>& before, const std::vector<NetworkInterface>& now)
{
    InterfaceChange change;
    change.current = now;
    const auto named = [](const std::vector<NetworkInterface>& list, const std::string& name) {
        return std::find_if(list.begin(), list.end(), [&](const NetworkInterface& i) { return i.name == name; });
    };
    for (const auto& i : now) {
        const auto old = named(before, i.name);
        if (old == before.end()) {
            change.appeared.push_back(i);
        } else if (!(*old == i)) {
            change.changed.push_back(i);
        }
    }
    for (const auto& i : before) {
        if (named(now, i.name) == now.end()) {
            change.vanished.push_back(i);
        }
    }
    return change;
}

InterfaceWatcher::InterfaceWatcher(Source source, Listener listener, std::chrono::milliseconds interval)
    : source_(std::move(source))
    , listener_(std::move(listener))
    , interval_(interval)
{
}

InterfaceWatcher::~InterfaceWatcher()
{
    stop();
}

bool InterfaceWatcher::start()
{
    if (thread_.joinable()) {
        return true;
    }
    stopping_ = false;
    signal_ = std::make_unique<ChangeSignal>();
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        signal_.reset();
        return false;
    }
    return true;
}

void InterfaceWatcher::stop()
{
    if (!thread_.joinable()) {
        return;
    }
    stopping_ = true;
    signal_->wake();
    thread_.join();
    signal_.reset();
}

void InterfaceWatcher::run()
{
    std::vector<NetworkInterface> previous;
    while (!stopping_) {
        auto now = source_();
        const auto change = compareInterfaces(previous, now);
        if (!change.empty() && !stopping_) {
            listener_(change);
        }
        previous = std::move(now);
        signal_->wait(interval_);
    }
}

} // namespace orv::fleet
