#pragma once
// Notices network interfaces appearing, vanishing or changing (a camera plugged in or pulled
// out, an adapter getting its address) within a fraction of a second.

#include "fleet/network_interface.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace orv::fleet {

struct InterfaceChange
{
    std::vector<NetworkInterface> appeared;
    std::vector<NetworkInterface> vanished;
    std::vector<NetworkInterface> changed; // the same name, another state, index, driver or address
    std::vector<NetworkInterface> current;

    bool empty() const { return appeared.empty() && vanished.empty() && changed.empty(); }
};

// Interfaces are told apart by name.
InterfaceChange compareInterfaces(const std::vector<NetworkInterface>& before,
                                  const std::vector<NetworkInterface>& now);

class ChangeSignal;

class InterfaceWatcher
{
public:
    using Source = std::function<std::vector<NetworkInterface>()>;
    using Listener = std::function<void(const InterfaceChange&)>;

    // `source` is asked again every `interval`, and at once when the system reports a change of
    // its links or addresses (Linux). `listener` hears of every change, the first look included,
    // on the watcher's thread; neither may call back into the watcher.
    InterfaceWatcher(Source source, Listener listener,
                     std::chrono::milliseconds interval = std::chrono::milliseconds(300));
    ~InterfaceWatcher();
    InterfaceWatcher(const InterfaceWatcher&) = delete;
    InterfaceWatcher& operator=(const InterfaceWatcher&) = delete;

    bool start(); // false when no thread could be started
    void stop();  // returns once the listener is no longer called

private:
    void run();

    Source source_;
    Listener listener_;
    std::chrono::milliseconds interval_;
    std::unique_ptr<ChangeSignal> signal_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace orv::fleet
