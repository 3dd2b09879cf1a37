#include "provision/camera_actions.h"

#include "link/commands.h"
#include "link/local_clock.h"
#include "link/records.h"

#include <chrono>

namespace orv::provision {
namespace {

CameraOutcome sentOrNot(int sent)
{
    return sent == 0 ? CameraOutcome::Done : CameraOutcome::NotSent;
}

} // namespace

CameraOutcome changePassword(CameraLink& link, std::u16string_view user, std::u16string_view newPassword)
{
    return sentOrNot(ChangePassword(link, user, newPassword));
}

CameraOutcome requestUDiskMode(CameraLink& link)
{
    return sentOrNot(RequestUDiskMode(link));
}

CameraOutcome factoryReset(CameraLink& link)
{
    return sentOrNot(FactoryReset(link));
}

CameraOutcome formatCard(CameraLink& link)
{
    return sentOrNot(FormatCard(link));
}

ClockSyncResult syncClock(CameraLink& link)
{
    ClockSyncResult result;
    TimeRecord record;
    const auto asked = std::chrono::steady_clock::now();
    if (GetTime(link, record) != 0) {
        result.outcome = CameraOutcome::NoReply;
        result.step = "read the time record";
        return result;
    }
    const auto answered = std::chrono::steady_clock::now();
    const std::optional<std::int64_t> cameraClock = wallClockSeconds(clockOf(record));
    const std::optional<std::int64_t> localClock = wallClockSeconds(localNow());
    if (cameraClock && localClock) {
        const auto halfTrip = std::chrono::round<std::chrono::seconds>((answered - asked) / 2).count();
        result.clockOffset = *cameraClock - (*localClock - halfTrip);
    }
    putLocalClock(record);
    if (SetTime(link, record) != 0) {
        result.outcome = CameraOutcome::NotSent;
        result.step = "write the time record";
    }
    return result;
}

} // namespace orv::provision
