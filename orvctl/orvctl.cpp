#include "orvctl/orvctl.h"

#include "orv_version.h"
#include "orvctl/cli_options.h"
#include "orvctl/command.h"

#include <ostream>

namespace orv::cli {
namespace {

const Command* commandOf(CommandKind kind)
{
    if (kind == kHelpCommand.kind) {
        return &kHelpCommand;
    }
    for (const std::span<const Command* const> commands : {orvctlCommands(), ledgerActions()}) {
        for (const Command* command : commands) {
            if (command->kind == kind) {
                return command;
            }
        }
    }
    return nullptr;
}

} // namespace

int runOrvctl(std::span<const std::string> args, CliContext& context)
{
    const ParsedCommandLine parsed = parseCommandLine(args);
    if (!parsed.options) {
        context.err << "orvctl: " << parsed.error << "\nTry 'orvctl --help'.\n";
        return kExitUsage;
    }
    const CliOptions& options = *parsed.options;
    if (options.command == CommandKind::Version) {
        context.out << "orvctl " << kProgramVersion << "\n";
        return kExitDone;
    }
    const Command* command = commandOf(options.command);
    return command ? command->action(options, context) : kExitUsage;
}

} // namespace orv::cli
