// Test helper: appends N events to a ledger, as one station would.
//   ledger_append_tool LOCATION N TAG
// Exit status 0 when all N were appended; otherwise the error on standard error.
#include "ledger/ledger.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: ledger_append_tool LOCATION N TAG\n");
        return 2;
    }
    std::string error;
    const auto ledger = orv::ledger::openLedger(argv[1], error);
    if (!ledger) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const int count = std::atoi(argv[2]);
    for (int i = 0; i < count; ++i) {
        orv::ledger::Event e;
        e.timeUtc = orv::ledger::utcNow();
        e.station = argv[3];
        e.tool = "ledger_append_tool";
        e.kind = "provision";
        e.deviceId = std::string(argv[3]) + "-" + std::to_string(i);
        e.result = "ok";
        if (!ledger->append(e)) {
            std::fprintf(stderr, "%s: %s\n", ledger->location().c_str(), ledger->error().c_str());
            return 1;
        }
    }
    return 0;
}
