#pragma once
// Is a camera there? A connect through the candidate's interface that succeeds says yes. All
// candidates are tried at once, so absent cameras cost one short timeout together, not each.

#include "fleet/candidate.h"
#include "link/frame.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orv::fleet {

struct ProbeOptions
{
    std::uint16_t port = kCameraPort;
    std::chrono::milliseconds timeout{1000}; // a camera on its USB cable answers within milliseconds
    std::size_t parallel = 32;               // probes in flight at most
};

struct ProbeResult
{
    Candidate candidate;
    bool present = false;
    std::string reason; // why not, when not
};

// One connect and close through the candidate's interface.
ProbeResult probeCandidate(const Candidate& candidate, const ProbeOptions& options);

using ProbeFunction = std::function<ProbeResult(const Candidate&, const ProbeOptions&)>;

// Probes every candidate in parallel; results in the candidates' order.
std::vector<ProbeResult> probeCandidates(const std::vector<Candidate>& candidates, const ProbeOptions& options = {},
                                         const ProbeFunction& probe = probeCandidate);

} // namespace orv::fleet
