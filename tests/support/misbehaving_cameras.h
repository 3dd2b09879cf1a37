#pragma once
// Cameras that misbehave as cameras of odd firmware do, each the same way at every reply to its
// device record (what identifies it) or, for the reset, right after its login: a reply with
// another request's size, one cut short and then silence, one byte a second, the connection
// closed mid-reply, a stream without end, a reset after the login, for tests and benchmarks that
// set good and bad cameras side by side.

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
