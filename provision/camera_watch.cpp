#include "provision/camera_watch.h"

#include "fleet/camera_probe.h"
#include "fleet/interface_watcher.h"
#include "fleet/network_interface.h"

namespace orv::provision {

CameraWatch::CameraWatch(WatchSettings settings, Listener listener)
    : settings_(std::move(settings))
    , listener_(std::move(listener))
{
}

CameraWatch::~CameraWatch()
{
    stop();
}

bool CameraWatch::start()
{
    if (thread_.joinable()) {
        return true;
    }
    stopping_ = false;
    if (settings_.plan.cameraAddresses.empty()) {
        // A camera plugged in brings its adapter up: look at once rather than at the next poll.
        interfaces_ = std::make_unique<fleet::InterfaceWatcher>([] { return fleet::systemInterfaces(); },
                                                                [this](const fleet::InterfaceChange& change) {
                                                                    if (!change.empty()) {
                                                                        lookNow();
                                                                    }
                                                                });
        interfaces_->start();
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CameraWatch::requestStop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
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

void CameraWatch::setBusy(const fleet::Candidate& candidate, bool busy)
{
    const std::string label = candidate.label();
    std::lock_guard lock(mutex_);
    if (busy) {
        busy_.insert(label);
    } else if (busy_.erase(label) != 0) {
        recheck_.insert(label);
        lookAgain_ = true;
        wake_.notify_all();
    }
}

void CameraWatch::lookNow()
{
    std::lock_guard lock(mutex_);
    lookAgain_ = true;
    wake_.notify_all();
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
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, settings_.poll, [this] { return stopping_ || lookAgain_; });
    lookAgain_ = false;
    return !stopping_;
}

void CameraWatch::tell(const WatchEvent& event)
{
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
    }
    listener_(event);
}

std::vector<fleet::Candidate> CameraWatch::candidatesNow(bool first)
{
    const fleet::CandidateList list = fleet::findCandidates(
        settings_.plan,
        settings_.plan.cameraAddresses.empty() ? fleet::systemInterfaces() : std::vector<fleet::NetworkInterface>{});
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

void CameraWatch::look(bool first)
{
    const std::vector<fleet::Candidate> candidates = candidatesNow(first);
    std::set<std::string> busy;
    std::set<std::string> recheck;
    {
        std::lock_guard lock(mutex_);
        busy = busy_;
        recheck.swap(recheck_);
    }

    // A camera whose interface went away is gone, unless it is being worked on: its worker will
    // find out and say so.
    std::set<std::string> listed;
    for (const fleet::Candidate& c : candidates) {
        listed.insert(c.label());
    }
    for (auto it = present_.begin(); it != present_.end();) {
        if (!listed.count(it->first) && !busy.count(it->first)) {
            WatchEvent e;
            e.kind = WatchEventKind::Gone;
            e.candidate = it->second;
            it = present_.erase(it);
            tell(e);
        } else {
            ++it;
        }
    }

    std::vector<fleet::Candidate> probe;
    for (const fleet::Candidate& c : candidates) {
        if (!busy.count(c.label())) {
            probe.push_back(c);
        }
    }
    fleet::ProbeOptions options;
    options.port = settings_.scan.port;
    options.timeout = settings_.probe;
    std::vector<fleet::Candidate> identify;
    for (const fleet::ProbeResult& r : fleet::probeCandidates(probe, options)) {
        const std::string label = r.candidate.label();
        const bool known = present_.count(label) != 0;
        if (r.present && (!known || recheck.count(label))) {
            present_[label] = r.candidate;
            identify.push_back(r.candidate);
            if (!known) {
                WatchEvent e;
                e.kind = WatchEventKind::Found;
                e.candidate = r.candidate;
                tell(e);
            }
        } else if (!r.present && known) {
            present_.erase(label);
            WatchEvent e;
            e.kind = WatchEventKind::Gone;
            e.candidate = r.candidate;
            tell(e);
        }
    }
    if (identify.empty()) {
        return;
    }
    for (const ScannedCamera& s : scanCameras(identify, settings_.scan)) {
        WatchEvent e;
        e.candidate = s.candidate;
        if (!s.present) {
            // It went between the probe and the login.
            present_.erase(s.candidate.label());
            e.kind = WatchEventKind::Gone;
        } else {
            e.kind = WatchEventKind::Identified;
            e.camera = s;
        }
        tell(e);
    }
}

} // namespace orv::provision
