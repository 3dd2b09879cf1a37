#pragma once
// Reaching the camera and logging in as the console does (connect, then CheckLogin), telling apart
// the reasons a login fails so that orvctl can say which step went wrong.

#include "link/camera_link.h"

#include <cstdint>
#include <string_view>

namespace orv::provision {

enum class LoginOutcome : std::uint8_t {
    LoggedIn,
    Unreachable, // no connection
    Silent,      // connected, but no account table of the right size came back
    Refused,     // the account table came, and the name or password is not in it
};

// A fresh socket connected to the address; false when nothing accepts the connection.
bool openAndConnect(CameraLink& link, std::string_view address);

// CheckLogin on a connected link (the same one account-table read), with the reason a login
// failed. Safe on many links and threads at once.
LoginOutcome checkLoginOnLink(CameraLink& link, std::u16string_view user, std::u16string_view password);

LoginOutcome connectAndLogin(CameraLink& link, std::string_view address, std::u16string_view user,
                             std::u16string_view password);

} // namespace orv::provision
