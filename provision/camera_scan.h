#pragma once
// Which cameras are there, and which is which: every candidate is connected to and logged into at
// once, and a camera that answers is named by the device id it reports.

#include "fleet/candidate.h"
#include "provision/camera_session.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orv::provision {

struct ScanSettings
{
    std::u16string user;
    std::u16string password;
    // A camera on its USB cable accepts at once; an absent one costs this, all of them together.
    std::chrono::milliseconds connectTimeout{500};
    std::chrono::milliseconds replyTimeout{3000};
    std::size_t parallel = 32;
    std::uint16_t port = kCameraPort;
};

struct ScannedCamera
{
    fleet::Candidate candidate;
    bool present = false; // a connection was accepted
    LoginOutcome login = LoginOutcome::Unreachable;
    std::u16string deviceId; // once logged in and the device record was read
    std::u16string policeId;
    std::u16string policeName;
    std::string problem; // why there is no device id, when there is none
};

ScannedCamera scanCamera(const fleet::Candidate& candidate, const ScanSettings& settings);

// Every candidate at once (at most `parallel` at a time); results in the candidates' order.
std::vector<ScannedCamera> scanCameras(const std::vector<fleet::Candidate>& candidates, const ScanSettings& settings);

} // namespace orv::provision
