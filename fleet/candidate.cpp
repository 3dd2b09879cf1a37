#include "fleet/candidate.h"
#include "link/camera_link.h"

#include <algorithm>

namespace orv::fleet {

std::string Candidate::label() const
{
    if (via.empty()) {
        return address;
    }
    return (via.name.empty() ? "#" + std::to_string(via.index) : via.name) + " " + address;
}

CandidateList findCandidates(const SearchPlan& plan, const std::vector<NetworkInterface>& interfaces)
{
    CandidateList list;
    std::uint32_t ip = 0;
    if (!plan.cameraAddresses.empty()) {
        for (const auto& address : plan.cameraAddresses) {
            if (!parseDottedIpv4(address, ip)) {
                list.problems.push_back("\"" + address + "\" is not an IPv4 address");
                continue;
            }
            Candidate c;
            c.address = ipv4Text(ip); // one spelling, so that duplicates are seen as such
            if (std::find(list.candidates.begin(), list.candidates.end(), c) == list.candidates.end()) {
                list.candidates.push_back(std::move(c));
            }
        }
        return list;
    }
    if (!parseDottedIpv4(plan.cameraAddress, ip)) {
        list.problems.push_back("\"" + plan.cameraAddress + "\" is not an IPv4 address");
        return list;
    }
    const auto choice = chooseCameraInterfaces(interfaces, ip, plan.interfaceNames);
    for (const auto& name : choice.missing) {
        list.problems.push_back("no network interface is named \"" + name + "\"");
    }
    for (const auto& i : choice.chosen) {
        Candidate c;
        c.via = net::InterfaceBinding{i.name, i.index};
        c.address = ipv4Text(ip);
        c.usbAdapter = i.usbAdapter();
        list.candidates.push_back(std::move(c));
    }
    return list;
}

} // namespace orv::fleet
