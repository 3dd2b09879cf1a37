#include "fleet/network_interface.h"

#include <algorithm>
#include <system_error>

namespace orv::fleet {

std::string usbNetworkDriver(const std::filesystem::path& sysfsRoot, std::string_view name)
{
    // A name is one path element; anything else would read outside class/net.
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) {
        return {};
    }
    std::error_code error;
    const auto target = std::filesystem::read_symlink(sysfsRoot / "class" / "net" / name / "device" / "driver", error);
    if (error) {
        return {}; // virtual interfaces have no device, PCI and platform devices no USB driver
    }
    const std::string driver = target.filename().string();
    const auto known = std::find(std::begin(kUsbNetworkDrivers), std::end(kUsbNetworkDrivers), driver);
    return known != std::end(kUsbNetworkDrivers) ? driver : std::string();
}

InterfaceChoice chooseCameraInterfaces(const std::vector<NetworkInterface>& interfaces, std::uint32_t cameraAddress,
                                       const std::vector<std::string>& named)
{
    InterfaceChoice choice;
    if (named.empty()) {
        for (const auto& candidate : interfaces) {
            const bool sameSubnet = std::any_of(candidate.ipv4.begin(), candidate.ipv4.end(), [&](std::uint32_t a) {
                return (a & 0xFFFFFF00u) == (cameraAddress & 0xFFFFFF00u);
            });
            if (candidate.up && sameSubnet) {
                choice.chosen.push_back(candidate);
            }
        }
    } else {
        for (const auto& name : named) {
            const bool already = std::any_of(choice.chosen.begin(), choice.chosen.end(),
                                             [&](const NetworkInterface& i) { return i.name == name; });
            const auto found = std::find_if(interfaces.begin(), interfaces.end(),
                                            [&](const NetworkInterface& i) { return i.name == name; });
            if (found == interfaces.end()) {
                choice.missing.push_back(name);
            } else if (!already) {
                choice.chosen.push_back(*found); // the user's word: taken whatever its state or address
            }
        }
    }
    std::stable_partition(choice.chosen.begin(), choice.chosen.end(),
                          [](const NetworkInterface& i) { return i.usbAdapter(); });
    return choice;
}

std::string ipv4Text(std::uint32_t address)
{
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

} // namespace orv::fleet
