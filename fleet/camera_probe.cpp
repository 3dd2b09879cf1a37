#include "fleet/camera_probe.h"
#include "fleet/parallel.h"
#include "link/camera_link.h"

namespace orv::fleet {

ProbeResult probeCandidate(const Candidate& candidate, const ProbeOptions& options)
{
    ProbeResult result;
    result.candidate = candidate;
    StartSockets();
    CameraLink link;
    link.connectTimeout = options.timeout;
    link.boundInterface = candidate.via;
    if (!link.Open()) {
        result.reason = socketsReady == 0 ? "the socket library is not started" : "no socket to be had";
        return result;
    }
    result.present = link.Connect(candidate.address, options.port);
    result.reason = link.lastFailure();
    link.Close();
    return result;
}

std::vector<ProbeResult> probeCandidates(const std::vector<Candidate>& candidates, const ProbeOptions& options,
                                         const ProbeFunction& probe)
{
    StartSockets();
    std::vector<ProbeResult> results(candidates.size());
    forEachInParallel(candidates.size(), options.parallel,
                      [&](std::size_t i) { results[i] = probe(candidates[i], options); });
    return results;
}

} // namespace orv::fleet
