#pragma once
// Who is talking to each camera now, and what each camera said it is. A camera serves one
// connection at a time, so at any moment at most one party holds a camera, and a connection to it
// is open only while it is held: the watch, for one look, or a worker of the runner, for one job.
// A camera goes from the watch to the runner and back explicitly, under one lock:
//   reserve()        the runner wants it: the watch starts nothing new on it (returns at once)
//   holdForRunner()  the worker waits for the watch's contact in hand to end, then holds it
//   release()        the worker's connection is closed: the watch may look at it again
// Cameras are named by their candidate's label ("usb0 192.168.2.158", "127.0.0.5").

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace orv::provision {

class CameraRegistry
{
public:
    // The watch: holds the camera for a look unless someone holds it or the runner wants it.
    bool tryHoldForWatch(const std::string& label);
    void releaseFromWatch(const std::string& label);

    // The runner: marks the camera wanted; each reserve is ended by one release() or unreserve().
    void reserve(const std::string& label);
    // Waits until the watch has let go, then holds it for the runner. False without holding when
    // `cancelled` became true meanwhile (wake the wait with wakeWaiters()).
    bool holdForRunner(const std::string& label, const std::atomic<bool>& cancelled);
    // The worker is done with the camera (its connection closed): reservation and hold end.
    void release(const std::string& label);
    // A reservation that never came to hold the camera (stopped while queued).
    void unreserve(const std::string& label);
    void wakeWaiters();

    bool wantedByRunner(const std::string& label) const; // reserved or held by the runner

    // Called (outside the lock) whenever the runner hands a camera back.
    void onReleased(std::function<void(const std::string&)> listener);

    // What the cameras said they are, for telling twins apart: the device id last read from the
    // camera at `label`, and forgetting it once the camera is gone.
    void noteDeviceId(const std::string& label, const std::u16string& deviceId);
    void forget(const std::string& label);
    // Other cameras present that last reported `deviceId`; empty when none.
    std::vector<std::string> othersWithDeviceId(const std::string& label, const std::u16string& deviceId) const;

private:
    struct Entry
    {
        bool heldByWatch = false;
        bool heldByRunner = false;
        std::size_t reservations = 0;
        std::u16string deviceId;
    };

    Entry& entry(const std::string& label);
    void tidy(const std::string& label);
    // Ends one reservation (and the runner's hold, when it held the camera); the watch hears of it.
    void handBack(const std::string& label, bool held);

    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::map<std::string, Entry> cameras_;
    std::function<void(const std::string&)> onReleased_;
};

} // namespace orv::provision
