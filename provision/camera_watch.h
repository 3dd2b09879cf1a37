#pragma once
// Keeps a live list of the cameras attached: looks for candidates again and again, tells when a
// camera appears (and, once logged into, which camera it is) and when it goes. Cameras that are
// being worked on are left alone: a probe would take the one connection a camera serves.

#include "fleet/candidate.h"
#include "provision/camera_scan.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace orv::fleet {
class InterfaceWatcher;
}

namespace orv::provision {

struct WatchSettings
{
    // The camera address behind each interface, the interfaces to use (empty: every one in the
    // address's /24), or plain addresses that stand in for interfaces (simulated cameras).
    fleet::SearchPlan plan;
    ScanSettings scan;                    // the login that identifies a camera
    std::chrono::milliseconds poll{500};  // between two looks
    std::chrono::milliseconds probe{500}; // connect timeout of a look, all candidates together
};

enum class WatchEventKind : std::uint8_t {
    Found,      // a connection was accepted; identification follows
    Identified, // logged in: `camera` holds the device id and officer, or `camera.problem` says why not
    Gone,       // no longer answers, or its interface went away
    Problem,    // `problem`: an address that is none, an interface that does not exist (first look only)
};

struct WatchEvent
{
    WatchEventKind kind = WatchEventKind::Found;
    fleet::Candidate candidate;
    ScannedCamera camera; // Identified
    std::string problem;  // Problem
};

class CameraWatch
{
public:
    using Listener = std::function<void(const WatchEvent&)>;

    // `listener` is called on the watch's thread, one event at a time; it must not call back
    // into the watch except setBusy.
    CameraWatch(WatchSettings settings, Listener listener);
    ~CameraWatch(); // stops and waits
    CameraWatch(const CameraWatch&) = delete;
    CameraWatch& operator=(const CameraWatch&) = delete;

    bool start();
    void stop(); // returns once the listener is no longer called
    // Returns at once; no listener call starts after it (one in progress may still finish).
    void requestStop();
    // A busy camera is neither probed nor identified; it keeps its place in the list. When it is
    // released it is looked at again (and identified again when it answers: it may have changed).
    void setBusy(const fleet::Candidate& candidate, bool busy);
    // Looks again at once (a camera was plugged in, or the operator asked).
    void lookNow();

private:
    void run();
    void look(bool first);
    bool pause();
    std::vector<fleet::Candidate> candidatesNow(bool first);
    void tell(const WatchEvent& event);

    WatchSettings settings_;
    Listener listener_;
    std::unique_ptr<fleet::InterfaceWatcher> interfaces_;
    std::thread thread_;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool lookAgain_ = false;
    std::set<std::string> busy_;    // labels
    std::set<std::string> recheck_; // released since the last look

    // The watch thread's own.
    std::map<std::string, fleet::Candidate> present_; // label -> candidate
};

} // namespace orv::provision
