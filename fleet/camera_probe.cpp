#include "fleet/camera_probe.h"
#include "link/camera_link.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

namespace orv::fleet {

ProbeResult probeCandidate(const Candidate& candidate, const ProbeOptions& options)
{
    ProbeResult result;
    result.candidate = candidate;
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
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < candidates.size(); i = next++) {
            results[i] = probe(candidates[i], options);
        }
    };
    const std::size_t workers = std::min(candidates.size(), std::max<std::size_t>(options.parallel, 1));
    std::vector<std::thread> threads;
    threads.reserve(workers);
    for (std::size_t w = 1; w < workers; ++w) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break; // no more threads: fewer probes in flight, the same results
        }
    }
    work();
    for (auto& t : threads) {
        t.join();
    }
    return results;
}

} // namespace orv::fleet
