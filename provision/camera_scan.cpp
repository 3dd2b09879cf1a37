#include "provision/camera_scan.h"

#include "fleet/parallel.h"
#include "link/commands.h"


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
    fleet::forEachInParallel(candidates.size(), settings.parallel,
                      [&](std::size_t i) { results[i] = scanCamera(candidates[i], settings); });
    return results;
}

} // namespace orv::provision
