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
    link.loggedIn = 0;
    UserTable table;
    if (GetUsers(link, table) != 0) {
        return LoginOutcome::Silent;
    }
    if (!AccountInTable(table, user, password)) {
        return LoginOutcome::Refused;
    }
    link.loggedIn = 1;
    return LoginOutcome::LoggedIn;
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
