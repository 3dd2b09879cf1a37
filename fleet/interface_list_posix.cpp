// The interface list from getifaddrs.
#include "fleet/network_interface.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>

namespace orv::fleet {

std::vector<NetworkInterface> systemInterfaces(const std::filesystem::path& sysfsRoot)
{
    std::vector<NetworkInterface> interfaces;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return interfaces;
    }
    // One entry per address family and address: gather them by name, in the system's order.
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr) {
            continue;
        }
        auto found = std::find_if(interfaces.begin(), interfaces.end(),
                                  [&](const NetworkInterface& i) { return i.name == entry->ifa_name; });
        if (found == interfaces.end()) {
            NetworkInterface added;
            added.name = entry->ifa_name;
            added.index = ::if_nametoindex(entry->ifa_name);
            interfaces.push_back(std::move(added));
            found = interfaces.end() - 1;
        }
        found->up = found->up || (entry->ifa_flags & IFF_UP) != 0;
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
            found->ipv4.push_back(ntohl(in->sin_addr.s_addr));
        }
    }
    ::freeifaddrs(list);
#ifdef __linux__
    for (auto& i : interfaces) {
        i.driver = usbNetworkDriver(sysfsRoot, i.name);
    }
#else
    (void)sysfsRoot;
#endif
    return interfaces;
}

} // namespace orv::fleet
