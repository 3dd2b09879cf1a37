#pragma once
// Which camera is this? The one path by which the watch, the scan, the runner and the one-camera
// provisioner reach a camera and name it: connect through the candidate's interface, log in, read
// the device record and the camera's clock, and say in words what failed when something does.

#include "fleet/candidate.h"
#include "provision/camera_session.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace orv::provision {

struct IdentifySettings
{
    std::u16string user;
    std::u16string password;
    std::chrono::milliseconds connectTimeout{3000};
    std::chrono::milliseconds replyTimeout{3000};
    std::uint16_t port = kCameraPort;
};

struct CameraIdentity
{
    bool connected = false; // a connection was accepted
    LoginOutcome login = LoginOutcome::Unreachable;
    std::u16string deviceId;
    std::u16string policeId;
    std::u16string policeName;
    std::u16string companyName; // the officer's unit
    // The camera's clock minus this computer's, in seconds, measured before anything was written
    // (half the round trip allowed for); empty when the camera's date is no date.
    std::optional<std::int64_t> clockOffset;
    std::string problem;  // why the camera is not identified: "no connection: ...", "login refused ..."
    bool stopped = false; // asked to stop after the login: nothing more was read

    bool identified() const { return problem.empty(); }
};

enum class IdentifyStep : std::uint8_t { Connecting, LoggingIn, Reading };
using IdentifyProgress = std::function<void(IdentifyStep)>;

// Connects `link` (bound to the candidate's interface), logs in and reads the device record and
// the clock. On success the link stays connected and logged in for the caller's further work.
// `stop`, when given, is looked at once the login is done: set, nothing more is read.
CameraIdentity identifyCamera(CameraLink& link, const fleet::Candidate& candidate, const IdentifySettings& settings,
                              const IdentifyProgress& progress = {}, const std::atomic<bool>* stop = nullptr);

// The same on a link that is connected already.
CameraIdentity identifyOnLink(CameraLink& link, std::u16string_view user, std::u16string_view password,
                              const IdentifyProgress& progress = {}, const std::atomic<bool>* stop = nullptr);

// The camera's clock against this computer's local time: the camera's TimeRecord is read, and
// the local time at the moment it was read is taken as the time the reply came less half the
// round trip. Nullopt when the camera does not answer (`answered` false) or its date is no date.
std::optional<std::int64_t> readClockOffset(CameraLink& link, bool& answered);

// "+3", "-120", "0": an offset with its sign; clockOffsetText adds the unit: "+3 s".
std::string signedSeconds(std::int64_t seconds);
std::string clockOffsetText(std::int64_t seconds);

} // namespace orv::provision
