#pragma once
// Cameras that misbehave as cameras of odd firmware do, each the same way at every reply to its
// device record (what identifies it) or, for the reset, right after its login: a reply with
// another request's size, one cut short and then silence, one byte a second, the connection
// closed mid-reply, a stream without end, a reset after the login. A test starts good and bad
// cameras side by side on loopback addresses of its own and measures what the bad ones cost.

#include "tools/camsim/simulated_camera.h"

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace orv::test {

struct CameraFault
{
    camsim::ReplyFault fault;
    const char* name;
};

inline constexpr std::array<CameraFault, 6> kCameraFaults{{
    {camsim::ReplyFault::AnotherCommandsSize, "another command's size"},
    {camsim::ReplyFault::CutShortThenSilent, "cut short, then silence"},
    {camsim::ReplyFault::Trickle, "one byte a second"},
    {camsim::ReplyFault::ClosedMidReply, "closed mid-reply"},
    {camsim::ReplyFault::EndlessStream, "a stream without end"},
    {camsim::ReplyFault::ResetAfterLogin, "reset after the login"},
}};

// Makes `camera` misbehave as `fault` at its device record (the reset: after its login); the
// trickle sends a byte each `trickleGap`.
inline void misbehave(camsim::SimulatedCamera& camera, camsim::ReplyFault fault,
                      std::chrono::milliseconds trickleGap = std::chrono::seconds(1))
{
    camera.setReplyFault(fault, ConfigType::Device, trickleGap);
}

// A camera at each address, quiet in its log, without the SDK port; the device id CAM-<n> from 1.
// Empty when one cannot start (the address is taken).
inline std::vector<std::unique_ptr<camsim::SimulatedCamera>> startCamerasAt(const std::vector<std::string>& addresses,
                                                                             std::string* error = nullptr)
{
    std::vector<std::unique_ptr<camsim::SimulatedCamera>> cameras;
    for (std::size_t n = 0; n < addresses.size(); ++n) {
        camsim::CameraOptions options;
        options.listenAddress = addresses[n];
        options.sdkPort = 0;
        options.keepFrames = true;
        options.deviceId = "CAM-" + std::to_string(n + 1);
        options.log = [](const std::string&) {};
        auto camera = std::make_unique<camsim::SimulatedCamera>(options);
        if (!camera->start(error)) {
            return {};
        }
        cameras.push_back(std::move(camera));
    }
    return cameras;
}

// Whether the camera received a record to keep (a SetConfig).
inline bool receivedAWrite(const camsim::SimulatedCamera& camera)
{
    for (const camsim::ReceivedFrame& f : camera.receivedFrames()) {
        if (f.command == static_cast<std::uint16_t>(Command::SetConfig)) {
            return true;
        }
    }
    return false;
}

} // namespace orv::test
