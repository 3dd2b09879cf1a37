// orvctl help [COMMAND]: orvctl's help, or a command's (also what --help prints).
#include "orvctl/command.h"

#include <ostream>

namespace orv::cli {
namespace {

int action(const CliOptions& o, CliContext& c)
{
    c.out << commandLineHelp(o.operands);
    return kExitDone;
}

} // namespace

constexpr Command kHelpCommand{
    .name = "help",
    .kind = CommandKind::Help,
    .operands = "[COMMAND]",
    .minOperands = 0,
    .maxOperands = kAny,
    .summary = "Show this text, or a command's.",
    .action = action,
};

} // namespace orv::cli
