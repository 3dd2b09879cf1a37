#pragma once
// Where a camera may answer: an interface and the camera address behind it, or, for simulated
// cameras, a plain address.

#include "fleet/network_interface.h"
#include "link/socket_io.h"

#include <string>
#include <vector>

namespace orv::fleet {

struct Candidate
{
    net::InterfaceBinding via; // empty: a plain address, reached as routed
    std::string address;       // dotted IPv4
    bool usbAdapter = false;

    // "usb0 192.168.2.158" or "127.0.0.5": how a candidate is named in lists and logs.
    std::string label() const;
    friend bool operator==(const Candidate&, const Candidate&) = default;
};

struct SearchPlan
{
    std::string cameraAddress{kFactoryCameraAddress};
    std::vector<std::string> interfaceNames;  // only these; empty: those in the camera address's /24
    std::vector<std::string> cameraAddresses; // stand in for the interfaces when given (simulated cameras)
};

struct CandidateList
{
    std::vector<Candidate> candidates;
    std::vector<std::string> problems; // addresses that are none, interfaces that do not exist
};

CandidateList findCandidates(const SearchPlan& plan, const std::vector<NetworkInterface>& interfaces);

} // namespace orv::fleet
