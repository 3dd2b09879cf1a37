#include "provision/camera_session.h"

#include "link/commands.h"

namespace orv::provision {

bool openAndConnect(CameraLink& link, std::string_view address)
{
    StartSockets();
    return link.Open() && link.Connect(address);
}

LoginOutcome checkLoginOnLink(CameraLink& link, std::u16string_view user, std::u16string_view password)
{
    // CheckLogin answers 0 both for a silent camera and for wrong credentials; the bytes that came
    // in tell them apart without sending anything the console would not send.
    std::size_t received = 0;
    setFrameTrace([&received](FrameDirection direction, const std::uint8_t*, std::size_t length) {
        if (direction == FrameDirection::In) {
            received += length;
        }
    });
    const int matched = CheckLogin(link, user, password);
    setFrameTrace({});
    if (matched == 1) {
        return LoginOutcome::LoggedIn;
    }
    return received == kFrameHeaderSize + UserTable::kSize ? LoginOutcome::Refused : LoginOutcome::Silent;
}

LoginOutcome checkLoginOnAnyThread(CameraLink& link, std::u16string_view user, std::u16string_view password)
{
    if (CheckLogin(link, user, password) == 1) {
        return LoginOutcome::LoggedIn;
    }
    // The frame trace is one for the process; here the account table is asked for once more (a
    // read the console sends too), only after a failed login, to tell a refusal from silence.
    UserTable table;
    return GetUsers(link, table) == 0 ? LoginOutcome::Refused : LoginOutcome::Silent;
}

LoginOutcome connectAndLogin(CameraLink& link, std::string_view address, std::u16string_view user,
                             std::u16string_view password)
{
    if (!openAndConnect(link, address)) {
        link.Close();
        return LoginOutcome::Unreachable;
    }
    return checkLoginOnLink(link, user, password);
}

} // namespace orv::provision
