#pragma once
// The computer's network interfaces as the search for cameras sees them, and the choice of those
// behind which a camera may answer.

#include "link/frame.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace orv::fleet {

// The Linux drivers of the USB network adapters the cameras present themselves as.
inline constexpr std::string_view kUsbNetworkDrivers[] = {"rndis_host", "cdc_ether", "cdc_ncm", "cdc_eem"};

struct NetworkInterface
{
    std::string name;   // Linux: "usb0"; Windows: the adapter's friendly name
    unsigned index = 0; // the system's interface index (what Windows binds by)
    bool up = false;
    std::vector<std::uint32_t> ipv4; // host byte order
    std::string driver;              // the USB network driver behind it; empty when none is known

    bool usbAdapter() const { return !driver.empty(); }
    friend bool operator==(const NetworkInterface&, const NetworkInterface&) = default;
};

// The interfaces of this computer now (getifaddrs / GetAdaptersAddresses); on Linux each one's
// USB driver is read below `sysfsRoot` (see usbNetworkDriver).
std::vector<NetworkInterface> systemInterfaces(const std::filesystem::path& sysfsRoot = "/sys");

// The USB network driver of interface `name` as `<sysfsRoot>/class/net/<name>/device/driver`
// names it, when it is one of kUsbNetworkDrivers; empty otherwise.
std::string usbNetworkDriver(const std::filesystem::path& sysfsRoot, std::string_view name);

struct InterfaceChoice
{
    std::vector<NetworkInterface> chosen; // USB adapters first, otherwise in the order found
    std::vector<std::string> missing;     // names asked for that no interface has
};

// The interfaces behind which a camera at `cameraAddress` may answer: those named, when any are;
// otherwise every interface that is up and holds an IPv4 address in the camera address's /24.
InterfaceChoice chooseCameraInterfaces(const std::vector<NetworkInterface>& interfaces, std::uint32_t cameraAddress,
                                       const std::vector<std::string>& named = {});

std::string ipv4Text(std::uint32_t address);

} // namespace orv::fleet
