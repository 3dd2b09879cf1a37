#include "provision/camera_scan.h"

#include "fleet/parallel.h"

namespace orv::provision {

ScannedCamera scanCamera(const fleet::Candidate& candidate, const ScanSettings& settings)
{
    ScannedCamera scanned;
    {
        CameraLink link;
        static_cast<CameraIdentity&>(scanned) = identifyCamera(link, candidate, settings);
    }
    scanned.candidate = candidate;
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
