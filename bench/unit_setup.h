#pragma once
// The setup the provisioning benchmarks push (as values, or as the groups it sends): every group a unit's cameras
// carry, as the console would have saved it.

#include "persist/setup_document.h"
#include "provision/setup_apply.h"

#include <vector>

namespace orv::bench {

inline SetupValues unitSetup()
{
    SetupValues v;
    v.uIdentify = 1;
    v.serverIp = u"10.0.0.9";
    v.serverPort = u"6608";
    v.apn = u"unit.apn";
    v.ssid = u"Unit Wifi";
    v.wifiPassword = u"wifi-secret";
    v.policeId = u"P77";
    v.policeName = u"Officer";
    v.summerTime = 1;
    v.timeZone = 8;
    return v;
}

inline std::vector<provision::GroupPlan> unitPlan()
{
    return provision::planSetup(readSetup(writeSetup(unitSetup())).elements);
}

} // namespace orv::bench
