#include "provision/camera_identity.h"

#include "lang/utf.h"
#include "link/commands.h"
#include "link/local_clock.h"

namespace orv::provision {
std::optional<std::int64_t> readClockOffset(CameraLink& link, bool& answered)
{
    TimeRecord camera;
    const auto sent = std::chrono::steady_clock::now();
    answered = GetTime(link, camera) == 0;
    const auto received = std::chrono::steady_clock::now();
    const LocalDateTime local = localNow();
    if (!answered) {
        return std::nullopt;
    }
    const auto cameraTime = wallClockSeconds(clockOf(camera));
    const auto localTime = wallClockSeconds(local);
    if (!cameraTime || !localTime) {
        return std::nullopt;
    }
    const auto halfTrip = std::chrono::round<std::chrono::seconds>((received - sent) / 2).count();
    return *cameraTime - (*localTime - halfTrip);
}

std::string signedSeconds(std::int64_t seconds)
{
    return (seconds > 0 ? "+" : "") + std::to_string(seconds);
}

std::string clockOffsetText(std::int64_t seconds)
{
    return signedSeconds(seconds) + " s";
}

CameraIdentity identifyOnLink(CameraLink& link, std::u16string_view user, std::u16string_view password,
                              const IdentifyProgress& progress, const std::atomic<bool>* stop)
{
    CameraIdentity identity;
    identity.connected = true;
    if (progress) {
        progress(IdentifyStep::LoggingIn);
    }
    identity.login = checkLoginOnLink(link, user, password);
    switch (identity.login) {
        case LoginOutcome::LoggedIn:
            break;
        case LoginOutcome::Refused:
            identity.problem = "login refused for user " + utf::toUtf8(std::u16string(user));
            return identity;
        case LoginOutcome::Unreachable:
        case LoginOutcome::Silent:
            identity.problem = "login: no account table from the camera";
            return identity;
    }
    if (stop && stop->load()) {
        identity.stopped = true;
        identity.problem = "stopped before reading the device record";
        return identity;
    }
    if (progress) {
        progress(IdentifyStep::Reading);
    }
    DeviceRecord device;
    if (GetConfig(link, device) != 0) {
        identity.problem = "read the device record: no reply";
        return identity;
    }
    identity.deviceId = device.text(DeviceRecord::deviceId);
    identity.policeId = device.text(DeviceRecord::policeId);
    identity.policeName = device.text(DeviceRecord::policeName);
    identity.companyName = device.text(DeviceRecord::companyName);
    bool answered = false;
    identity.clockOffset = readClockOffset(link, answered);
    if (!answered) {
        identity.problem = "read the clock: no reply";
    }
    return identity;
}

CameraIdentity identifyCamera(CameraLink& link, const fleet::Candidate& candidate, const IdentifySettings& settings,
                              const IdentifyProgress& progress, const std::atomic<bool>* stop)
{
    if (progress) {
        progress(IdentifyStep::Connecting);
    }
    StartSockets();
    link.connectTimeout = settings.connectTimeout;
    link.replyTimeout = settings.replyTimeout;
    link.boundInterface = candidate.via;
    if (!link.Open() || !link.Connect(candidate.address, settings.port)) {
        CameraIdentity identity;
        identity.problem =
            "no connection: " + (link.lastFailure().empty() ? std::string("no socket") : link.lastFailure());
        link.Close();
        return identity;
    }
    return identifyOnLink(link, settings.user, settings.password, progress, stop);
}

} // namespace orv::provision
