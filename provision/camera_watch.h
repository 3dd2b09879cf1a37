#pragma once
// Keeps a live list of the cameras attached: looks for candidates again and again, tells when a
// camera appears, which camera it is once logged into, and when it goes. It talks to a camera
// only while it holds it in the registry it shares with the runner, so a camera the runner works
// on is left alone; when the runner hands a camera back it is identified again (it may have changed).

#include "fleet/candidate.h"
#include "fleet/network_interface.h"
#include "fleet/worker_pool.h"
#include "provision/camera_registry.h"
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
    // The login that identifies a camera; its connect timeout is that of every look, all
    // candidates together (a silent candidate costs it once per look).
    ScanSettings scan;
    std::chrono::milliseconds poll{500}; // between two looks
    // Where the computer's interfaces come from (tests give their own); empty: the system's.
    std::function<std::vector<fleet::NetworkInterface>()> interfaces;
};

enum class WatchEventKind : std::uint8_t {
    Found,      // a connection was accepted; identification follows
    Identified, // logged in: `camera` holds the device id, officer and clock, or `camera.problem` says why not
    Gone,       // no longer answers, or its interface went away
    Problem,    // `problem`: an address that is none, an interface that does not exist (first look only)
    Looked,     // a look is over: every camera it identified has been told
};

// When a camera the watch identified may be handed to work. Without a roster at once: a good
// camera's work starts as soon as it has said who it is, whatever a neighbour that answers slowly
// (or never, costing the look its whole reply time) does. With a roster only once the look is
// over: every camera it found has then said its device id, so that two cameras answering with one
// id are both told apart before either is given an officer.
enum class HandOver : std::uint8_t { OnIdentified, OnLooked };
constexpr HandOver handOverWhen(bool roster)
{
    return roster ? HandOver::OnLooked : HandOver::OnIdentified;
}

struct WatchEvent
{
    WatchEventKind kind = WatchEventKind::Found;
    fleet::Candidate candidate; // as found this time (an adapter plugged in again may have a new index)
    ScannedCamera camera;       // Identified
    std::string problem;        // Problem
};

class CameraWatch
{
public:
    using Listener = std::function<void(const WatchEvent&)>;

    // `listener` is called on the watch's threads, one event at a time; it may call reserve-side
    // functions of the registry (hand a camera to the runner), lookNow() and setLogin(), and must
    // not wait for the watch.
    CameraWatch(WatchSettings settings, std::shared_ptr<CameraRegistry> registry, Listener listener);
    ~CameraWatch(); // stops and waits for the look in hand
    CameraWatch(const CameraWatch&) = delete;
    CameraWatch& operator=(const CameraWatch&) = delete;

    bool start(std::string* error = nullptr); // false when no thread could be started
    void stop();                              // returns once the listener is no longer called
    // Returns at once; no listener call starts after it (one in progress may still finish).
    void requestStop();
    // Cameras are identified with this account from now on; those present are identified again.
    void setLogin(std::u16string user, std::u16string password);
    // Looks again at once (a camera was plugged in, or the operator asked).
    void lookNow();

    const std::shared_ptr<CameraRegistry>& registry() const { return registry_; }

private:
    // What the registry's release listener and the callers touch; shared, so that a late release
    // never reaches a watch that is gone.
    struct Signals
    {
        std::mutex mutex;
        std::condition_variable wake;
        bool stopping = false;
        bool lookAgain = false;
        std::set<std::string> recheck; // handed back by the runner since the last look
        std::u16string user;
        std::u16string password;
        unsigned loginGeneration = 0;
    };

    struct Known
    {
        fleet::Candidate candidate;
        bool identified = false;
        bool refused = false; // its login was refused: tried again only with another account
        unsigned loginGeneration = 0;
        // A camera that answers the connection but not the identification (it trickles, or is
        // stuck) costs a look its whole reply time: tried again after a wait that doubles with
        // each failure (up to kLongestIdentifyWait), and only connected to in between.
        unsigned failedIdentifications = 0;
        std::chrono::steady_clock::time_point identifyAgainAt{};
    };

    struct Contact
    {
        fleet::Candidate candidate;
        bool identify = false;
        bool known = false;
        ScannedCamera seen;
    };

    // How long a camera that failed to identify `failures` times in a row is left before it is
    // tried again.
    std::chrono::milliseconds identifyWait(unsigned failures) const;
    static constexpr std::chrono::milliseconds kLongestIdentifyWait{30000};

    void run();
    void look(bool first);
    bool pause();
    std::vector<fleet::Candidate> candidatesNow(bool first);
    void reach(Contact& contact, const ScanSettings& login);
    // The camera at `label` answers no more: forgotten, and said so.
    void tellGone(const std::string& label, const fleet::Candidate& candidate);
    void tell(const WatchEvent& event);
    bool stopping() const;

    WatchSettings settings_;
    std::shared_ptr<CameraRegistry> registry_;
    Listener listener_;
    std::shared_ptr<Signals> signals_ = std::make_shared<Signals>();
    std::mutex tellMutex_;
    std::unique_ptr<fleet::InterfaceWatcher> interfaces_;
    fleet::WorkerPool contacts_;
    std::thread thread_;

    // The watch thread's own.
    std::map<std::string, Known> present_; // label -> camera
};

} // namespace orv::provision
