// The interface list from GetAdaptersAddresses.
#include "fleet/network_interface.h"
#include "link/utf.h"

// winsock2.h must come before anything that pulls in windows.h; iphlpapi.h after both.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
// clang-format on

#include <cwchar>
#include <string>
#include <vector>

namespace orv::fleet {

std::vector<NetworkInterface> systemInterfaces(const std::filesystem::path&)
{
    std::vector<NetworkInterface> interfaces;
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    std::vector<unsigned char> buffer(16 * 1024);
    ULONG size = static_cast<ULONG>(buffer.size());
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the two calls; a few tries settle it.
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = GetAdaptersAddresses(AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()),
                                      &size);
    }
    if (result != NO_ERROR) {
        return interfaces;
    }
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
        NetworkInterface i;
        const wchar_t* friendly = adapter->FriendlyName != nullptr ? adapter->FriendlyName : L"";
        i.name = utf::toUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(friendly), std::wcslen(friendly)));
        i.index = adapter->IfIndex;
        i.up = adapter->OperStatus == IfOperStatusUp;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (address != nullptr && address->sa_family == AF_INET) {
                i.ipv4.push_back(ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr));
            }
        }
        // The camera's adapter runs on Windows' own RNDIS driver, whose description says so.
        if (adapter->Description != nullptr && std::wcsstr(adapter->Description, L"Remote NDIS") != nullptr) {
            i.driver = "rndis";
        }
        interfaces.push_back(std::move(i));
    }
    return interfaces;
}

} // namespace orv::fleet
