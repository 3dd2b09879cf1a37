#pragma once
// The camera's actions as the console's buttons and orvctl's commands send them: each one write,
// the clock sync a read and a write.

#include "link/camera_link.h"
#include "provision/camera_groups.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orv::provision {

// Done once the request went out (the camera answers none of them), NotSent otherwise.
CameraOutcome changePassword(CameraLink& link, std::u16string_view user, std::u16string_view newPassword);
CameraOutcome requestUDiskMode(CameraLink& link); // the camera leaves the network once it takes it
CameraOutcome factoryReset(CameraLink& link);
CameraOutcome formatCard(CameraLink& link);

struct ClockSyncResult
{
    CameraOutcome outcome = CameraOutcome::Done; // or NoReply (nothing written), NotSent
    std::string step;                            // "read the time record", "write the time record"
    // The camera's clock less this computer's, in seconds, half the read's round trip allowed
    // for; none when either clock is no valid date.
    std::optional<std::int64_t> clockOffset;
};

// Reads the time record and writes it back with this computer's clock in it.
ClockSyncResult syncClock(CameraLink& link);

} // namespace orv::provision
