#include "provision/camera_scan.h"

#include "link/commands.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

namespace orv::provision {

ScannedCamera scanCamera(const fleet::Candidate& candidate, const ScanSettings& settings)
{
    ScannedCamera scanned;
    scanned.candidate = candidate;
    CameraLink link;
    link.connectTimeout = settings.connectTimeout;
    link.replyTimeout = settings.replyTimeout;
    link.boundInterface = candidate.via;
    if (!link.Open() || !link.Connect(candidate.address, settings.port)) {
        scanned.problem = link.lastFailure().empty() ? "no socket" : link.lastFailure();
        return scanned;
    }
    scanned.present = true;
    scanned.login = checkLoginOnLink(link, settings.user, settings.password);
    switch (scanned.login) {
        case LoginOutcome::LoggedIn:
            break;
        case LoginOutcome::Refused:
            scanned.problem = "login refused";
            return scanned;
        case LoginOutcome::Unreachable:
        case LoginOutcome::Silent:
            scanned.problem = "no account table from the camera";
            return scanned;
    }
    DeviceRecord device;
    if (GetConfig(link, device) != 0) {
        scanned.problem = "no device record from the camera";
        return scanned;
    }
    scanned.deviceId = device.text(DeviceRecord::deviceId);
    scanned.policeId = device.text(DeviceRecord::policeId);
    scanned.policeName = device.text(DeviceRecord::policeName);
    return scanned;
}

std::vector<ScannedCamera> scanCameras(const std::vector<fleet::Candidate>& candidates, const ScanSettings& settings)
{
    StartSockets();
    std::vector<ScannedCamera> results(candidates.size());
    forEachInParallel(candidates.size(), settings.parallel,
                      [&](std::size_t i) { results[i] = scanCamera(candidates[i], settings); });
    return results;
}

void forEachInParallel(std::size_t count, std::size_t parallel, const std::function<void(std::size_t)>& job)
{
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            job(i);
        }
    };
    const std::size_t workers = std::min(count, std::max<std::size_t>(parallel, 1));
    std::vector<std::thread> threads;
    for (std::size_t w = 1; w < workers; ++w) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break; // fewer at a time, the same results
        }
    }
    work();
    for (auto& t : threads) {
        t.join();
    }
}

} // namespace orv::provision
