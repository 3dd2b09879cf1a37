#include "provision/camera_identity.h"

#include "lang/utf.h"
#include "link/commands.h"
#include "link/local_clock.h"

namespace orv::provision {
namespace {

// Seconds since 1970-01-01 of a civil date and time as written, no time zone involved: both
// clocks are read as the wall time they show.
std::optional<std::int64_t> wallSeconds(int year, int month, int day, int hour, int minute, int second)
{
    using namespace std::chrono;
    const year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                              std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok() || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) {
        return std::nullopt;
    }
    const std::int64_t days = sys_days(date).time_since_epoch().count();
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

} // namespace

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
    // The record's year byte counts from 1900 ((year mod 1000) + 100 for this century).
    const auto cameraTime = wallSeconds(
        1900 + static_cast<int>(camera.number(TimeRecord::year)), static_cast<int>(camera.number(TimeRecord::month)),
        static_cast<int>(camera.number(TimeRecord::day)), static_cast<int>(camera.number(TimeRecord::hour)),
        static_cast<int>(camera.number(TimeRecord::minute)), static_cast<int>(camera.number(TimeRecord::second)));
    const auto localTime = wallSeconds(local.year, local.month, local.day, local.hour, local.minute, local.second);
    if (!cameraTime || !localTime) {
        return std::nullopt;
    }
    const auto halfTrip = std::chrono::round<std::chrono::seconds>((received - sent) / 2).count();
    return *cameraTime - (*localTime - halfTrip);
}

std::string clockOffsetText(std::int64_t seconds)
{
    return (seconds > 0 ? "+" : "") + std::to_string(seconds) + " s";
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
