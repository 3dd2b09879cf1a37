// Test helper: forwards what waits in a station's spool to a shared ledger, as orvctl ledger sync
// does, so that a test can kill it at any moment of the forward.
//   spool_forward_tool SPOOL_FILE LOCATION
// Exit status 0 once nothing waits; otherwise the problem on standard error.
#include "ledger/spooled_ledger.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: spool_forward_tool SPOOL_FILE LOCATION\n");
        return 2;
    }
    std::string error;
    std::unique_ptr<orv::ledger::Spool> spool = orv::ledger::Spool::open(argv[1], error);
    if (!spool) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    orv::ledger::SpooledLedger ledger(argv[2], std::move(spool));
    const orv::ledger::ForwardOutcome outcome = ledger.forward();
    if (!outcome.reached) {
        std::fprintf(stderr, "%s\n", outcome.problem.c_str());
        return 1;
    }
    return 0;
}
