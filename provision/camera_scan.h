#pragma once
// Which cameras are there, and which is which: every candidate is identified at once (connected
// to, logged into, its device record and clock read), each camera named by the device id it reports.

#include "fleet/candidate.h"
#include "provision/camera_identity.h"

#include <chrono>
#include <cstddef>
#include <vector>

namespace orv::provision {

struct ScanSettings : IdentifySettings
{
    // A camera on its USB cable accepts at once; an absent or silent one costs this, all of them
    // together.
    ScanSettings() { connectTimeout = std::chrono::milliseconds(500); }
    std::size_t parallel = 32;
};

struct ScannedCamera : CameraIdentity
{
    fleet::Candidate candidate;
};

// One candidate: its connection is closed again before this returns.
ScannedCamera scanCamera(const fleet::Candidate& candidate, const ScanSettings& settings);

// Every candidate at once (at most `parallel` at a time); results in the candidates' order.
std::vector<ScannedCamera> scanCameras(const std::vector<fleet::Candidate>& candidates, const ScanSettings& settings);

} // namespace orv::provision
