#pragma once
// A ledger as a dock station's months of work leave it: cameras handed from officer to officer,
// units with Chinese names, setup files, checks in between. For the custody report's tests and
// benchmark.

#include "ledger/ledger.h"

#include <cstdint>
#include <string>

namespace orv::test {

inline const std::string kUnits[] = {"一大队", "二大队", "交警支队"};

inline std::string officerOf(int i)
{
    return "P-" + std::to_string(1000 + i);
}

// `count` events for `cameras` cameras, one a minute from 2026-03-01 08:00 UTC: every fourth a
// provision that hands the camera to the next officer, the others checks. Empty when done.
inline std::string seedCustodyLedger(ledger::Ledger& ledger, int count, int cameras = 2)
{
    for (int i = 0; i < count; ++i) {
        const int camera = i % cameras;
        const int turn = i / cameras;
        const int minutes = 8 * 60 + i;
        char time[32];
        std::snprintf(time, sizeof time, "2026-03-%02dT%02d:%02d:00.000Z", 1 + minutes / (24 * 60),
                      minutes / 60 % 24, minutes % 60);
        ledger::Event e;
        e.timeUtc = time;
        e.utcOffsetMinutes = 480;
        e.station = "dock-3";
        e.operatorName = "wang.li";
        e.tool = "orvctl";
        e.toolVersion = "1.0.0.2";
        e.deviceId = "ORV20260000" + std::to_string(camera + 1);
        e.where = "usb0 127.0.0." + std::to_string(camera + 10);
        const int holder = turn / 2;
        e.officerBefore = officerOf(camera * 100 + holder - (turn % 2 == 0 && holder > 0 ? 1 : 0));
        e.unitBefore = kUnits[(holder + camera) % 3];
        if (turn % 2 == 0) {
            e.kind = "provision";
            e.officerAfter = officerOf(camera * 100 + holder);
            e.unitAfter = kUnits[(holder + camera) % 3];
            e.groups = "platform, wifi, device";
            e.setupName = "班组配置.xml";
            e.setupSha256 = ledger::sha256Hex("setup " + std::to_string(holder));
            e.result = "ok";
        } else {
            e.kind = "check";
            e.officerAfter = e.officerBefore;
            e.unitAfter = e.unitBefore;
            e.result = "check: ok";
            e.clockOffsetSeconds = 1;
        }
        if (!ledger.append(e)) {
            return ledger.error();
        }
    }
    return {};
}

} // namespace orv::test
