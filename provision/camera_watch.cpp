#include "provision/camera_watch.h"

#include "fleet/camera_probe.h"
#include "fleet/interface_watcher.h"
#include "fleet/network_interface.h"

#include <algorithm>
#include <system_error>

namespace orv::provision {

CameraWatch::CameraWatch(WatchSettings settings, std::shared_ptr<CameraRegistry> registry, Listener listener)
    : settings_(std::move(settings))
    , registry_(registry ? std::move(registry) : std::make_shared<CameraRegistry>())
    , listener_(std::move(listener))
    , contacts_(settings_.scan.parallel)
{
    signals_->user = settings_.scan.user;
    signals_->password = settings_.scan.password;
    // A camera handed back by the runner is looked at again at once.
    registry_->onReleased([signals = signals_](const std::string& label) {
        {
            std::lock_guard lock(signals->mutex);
            signals->recheck.insert(label);
            signals->lookAgain = true;
        }
        signals->wake.notify_all();
    });
}

CameraWatch::~CameraWatch()
{
    stop();
    registry_->onReleased({});
}

bool CameraWatch::start(std::string* error)
{
    if (thread_.joinable()) {
        return true;
    }
    if (settings_.plan.cameraAddresses.empty() && !settings_.interfaces) {
        // A camera plugged in brings its adapter up: look at once rather than at the next poll.
        interfaces_ = std::make_unique<fleet::InterfaceWatcher>([] { return fleet::systemInterfaces(); },
                                                                [this](const fleet::InterfaceChange& change) {
                                                                    if (!change.empty()) {
                                                                        lookNow();
                                                                    }
                                                                });
        interfaces_->start(); // without it the watch still looks every poll
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        if (error) {
            *error = e.what();
        }
        if (interfaces_) {
            interfaces_->stop();
        }
        return false;
    }
    return true;
}

void CameraWatch::requestStop()
{
    {
        std::lock_guard lock(signals_->mutex);
        signals_->stopping = true;
    }
    signals_->wake.notify_all();
}

void CameraWatch::stop()
{
    requestStop();
    if (interfaces_) {
        interfaces_->stop();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool CameraWatch::stopping() const
{
    std::lock_guard lock(signals_->mutex);
    return signals_->stopping;
}

void CameraWatch::setLogin(std::u16string user, std::u16string password)
{
    {
        std::lock_guard lock(signals_->mutex);
        if (user == signals_->user && password == signals_->password) {
            return;
        }
        signals_->user = std::move(user);
        signals_->password = std::move(password);
        ++signals_->loginGeneration;
        signals_->lookAgain = true;
    }
    signals_->wake.notify_all();
}

void CameraWatch::lookNow()
{
    {
        std::lock_guard lock(signals_->mutex);
        signals_->lookAgain = true;
    }
    signals_->wake.notify_all();
}

void CameraWatch::run()
{
    bool first = true;
    do {
        look(first);
        first = false;
    } while (pause());
}

bool CameraWatch::pause()
{
    std::unique_lock lock(signals_->mutex);
    signals_->wake.wait_for(lock, settings_.poll, [this] { return signals_->stopping || signals_->lookAgain; });
    signals_->lookAgain = false;
    return !signals_->stopping;
}

void CameraWatch::tell(const WatchEvent& event)
{
    std::lock_guard lock(tellMutex_);
    if (!stopping()) {
        listener_(event);
    }
}

std::vector<fleet::Candidate> CameraWatch::candidatesNow(bool first)
{
    std::vector<fleet::NetworkInterface> interfaces;
    if (settings_.plan.cameraAddresses.empty()) {
        interfaces = settings_.interfaces ? settings_.interfaces() : fleet::systemInterfaces();
    }
    const fleet::CandidateList list = fleet::findCandidates(settings_.plan, interfaces);
    if (first) {
        for (const std::string& p : list.problems) {
            WatchEvent e;
            e.kind = WatchEventKind::Problem;
            e.problem = p;
            tell(e);
        }
    }
    return list.candidates;
}

// One contact with one camera the watch holds: a bare connect when it is known, the whole
// identification when it is new or must be read again. The connection is closed, and the camera
// let go, before this returns.
void CameraWatch::reach(Contact& contact, const ScanSettings& login)
{
    const std::string label = contact.candidate.label();
    if (contact.identify) {
        CameraLink link;
        static_cast<CameraIdentity&>(contact.seen) =
            identifyCamera(link, contact.candidate, login, [&](IdentifyStep step) {
                if (step == IdentifyStep::LoggingIn && !contact.known) {
                    WatchEvent e;
                    e.kind = WatchEventKind::Found;
                    e.candidate = contact.candidate;
                    tell(e);
                }
            });
        link.Close();
        if (contact.seen.identified()) {
            registry_->noteDeviceId(label, contact.seen.deviceId);
        }
    } else {
        fleet::ProbeOptions probe;
        probe.port = login.port;
        probe.timeout = login.connectTimeout;
        contact.seen.connected = fleet::probeCandidate(contact.candidate, probe).present;
    }
    contact.seen.candidate = contact.candidate;
    registry_->releaseFromWatch(label);
    if (contact.seen.connected && contact.identify) {
        WatchEvent e;
        e.kind = WatchEventKind::Identified;
        e.candidate = contact.candidate;
        e.camera = contact.seen;
        tell(e);
    }
}

void CameraWatch::tellGone(const std::string& label, const fleet::Candidate& candidate)
{
    registry_->forget(label);
    present_.erase(label);
    WatchEvent e;
    e.kind = WatchEventKind::Gone;
    e.candidate = candidate;
    tell(e);
}

std::chrono::milliseconds CameraWatch::identifyWait(unsigned failures) const
{
    // The poll doubled with each failure: 2, 4, 8, ... polls, never more than the longest wait.
    const auto wait = settings_.poll * (1LL << std::min(failures, 12u));
    return std::min<std::chrono::milliseconds>(wait, kLongestIdentifyWait);
}

void CameraWatch::look(bool first)
{
    const std::vector<fleet::Candidate> candidates = candidatesNow(first);
    ScanSettings login = settings_.scan;
    std::set<std::string> recheck;
    unsigned generation = 0;
    {
        std::lock_guard lock(signals_->mutex);
        recheck.swap(signals_->recheck);
        login.user = signals_->user;
        login.password = signals_->password;
        generation = signals_->loginGeneration;
    }

    // A camera whose interface went away is gone, unless the runner has it: its worker will find
    // out and say so, and once it is handed back the camera is looked at again.
    std::set<std::string> listed;
    for (const fleet::Candidate& c : candidates) {
        listed.insert(c.label());
    }
    std::vector<std::pair<std::string, fleet::Candidate>> gone;
    for (const auto& [label, known] : present_) {
        if (!listed.count(label) && !registry_->wantedByRunner(label)) {
            gone.emplace_back(label, known.candidate);
        }
    }
    for (const auto& [label, candidate] : gone) {
        tellGone(label, candidate);
    }

    std::vector<Contact> contacts;
    for (const fleet::Candidate& c : candidates) {
        const std::string label = c.label();
        if (!registry_->tryHoldForWatch(label)) {
            continue; // the runner has it, or is about to
        }
        Contact contact;
        contact.candidate = c; // what was found last is what the camera is reached through
        const auto known = present_.find(label);
        contact.known = known != present_.end();
        const bool newLogin = contact.known && known->second.loginGeneration != generation;
        const bool unidentifiedAndDue = contact.known && !known->second.identified && !known->second.refused &&
                                        std::chrono::steady_clock::now() >= known->second.identifyAgainAt;
        contact.identify = !contact.known || recheck.count(label) || newLogin || unidentifiedAndDue;
        contacts.push_back(std::move(contact));
    }
    if (!contacts_.forEach(contacts.size(), [&](std::size_t i) { reach(contacts[i], login); })) {
        // No thread to look with: let go of every camera and try again at the next look.
        for (const Contact& c : contacts) {
            registry_->releaseFromWatch(c.candidate.label());
        }
    }

    for (const Contact& c : contacts) {
        const std::string label = c.candidate.label();
        if (!c.seen.connected) {
            if (c.known) {
                tellGone(label, c.candidate);
            }
            continue;
        }
        Known& k = present_[label];
        k.candidate = c.candidate;
        if (c.identify) {
            k.identified = c.seen.identified();
            k.refused = c.seen.login == LoginOutcome::Refused;
            k.loginGeneration = generation;
            if (k.identified || k.refused) {
                k.failedIdentifications = 0;
            } else {
                k.failedIdentifications = std::min(k.failedIdentifications + 1, 16u);
                k.identifyAgainAt = std::chrono::steady_clock::now() + identifyWait(k.failedIdentifications);
            }
        }
    }
    WatchEvent looked;
    looked.kind = WatchEventKind::Looked;
    tell(looked);
}

} // namespace orv::provision
