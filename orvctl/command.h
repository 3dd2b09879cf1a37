#pragma once
// One orvctl command: how the command line names it (its operands, its own options, its help)
// and what it does. Each command is one unit under commands/; cli_options.cpp builds the command
// line and every help text from these definitions, and runOrvctl runs the action of the command
// given.

#include "orvctl/cli_options.h"
#include "orvctl/orvctl.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orv::cli {

// An option: its names, the value it takes as help shows it (none: a flag), the end of the usage
// error when the value is missing ("--ip needs an address") and what help says of it. The options
// of ledger actions also name the field they fill.
struct OptionDefinition
{
    std::string_view names;
    std::string_view value;
    std::string_view needs;
    std::string_view description;
    std::string CliOptions::*field = nullptr;
};

inline constexpr std::size_t kAny = static_cast<std::size_t>(-1);

struct Command
{
    std::string_view name{};
    CommandKind kind = CommandKind::Help;
    std::string_view operands{}; // as the usage line shows them
    std::size_t minOperands = 0;
    std::size_t maxOperands = 0; // kAny: any number
    std::string_view summary{};  // its line in the list of commands
    std::string_view details{};  // what its own help adds
    std::string_view related{};  // orvctl's options that apply
    std::span<const OptionDefinition> options{};
    std::span<const std::string_view> footer{}; // sections after the options, a blank line apart
    // What the command checks of its operands and options once their number is right, before
    // anything is sent; it may fill in the values it read. A usage error, or empty.
    std::string (*check)(CliOptions& options) = nullptr;
    int (*action)(const CliOptions& options, CliContext& context) = nullptr;
};

// orvctl's options that apply to a command, listed again in its own help.
inline constexpr std::string_view kCameraOptions = "--ip --user --password-stdin --password-file --timeout-ms --json";
inline constexpr std::string_view kRecordedOptions =
    "--ip --user --password-stdin --password-file --timeout-ms --ledger --trusted --json";
inline constexpr std::string_view kManyCameraOptions = "--inventory --count --all --roster --not-on-roster "
                                                       "--retry-failed --interface --address --poll-ms --ip --user "
                                                       "--password-stdin --password-file --timeout-ms --ledger "
                                                       "--trusted --json";

// The commands, each defined in its own unit under commands/.
extern const Command kGetCommand;
extern const Command kSetCommand;
extern const Command kPasswdCommand;
extern const Command kTimeSyncCommand;
extern const Command kUDiskCommand;
extern const Command kUIdentifyCommand;
extern const Command kFactoryCommand;
extern const Command kFormatCommand;
extern const Command kApplyCommand;
extern const Command kExportIdCommand;
extern const Command kProvisionCommand;
extern const Command kScanCommand;
extern const Command kCheckCommand;
extern const Command kHelpCommand;
extern const Command kLedgerVerifyCommand;
extern const Command kLedgerHeadCommand;
extern const Command kLedgerWhoCommand;
extern const Command kLedgerHistoryCommand;
extern const Command kLedgerCamerasCommand;
extern const Command kLedgerExportCommand;
extern const Command kLedgerKeyCommand;
extern const Command kLedgerCheckpointCommand;
extern const Command kLedgerProveCommand;
extern const Command kLedgerVerifyProofCommand;
extern const Command kLedgerReportCommand;
extern const Command kLedgerWitnessCommand;
extern const Command kLedgerInitDbCommand;
extern const Command kLedgerSyncCommand;
extern const Command kLedgerStatusCommand;

// orvctl's commands in the order help lists them (help last), and the ledger's actions.
std::span<const Command* const> orvctlCommands();
std::span<const Command* const> ledgerActions();

// The checks the commands share.
bool isDottedIpv4(std::string_view text);
std::optional<int> positiveNumber(std::string_view text);
std::optional<std::int64_t> positiveNumber64(std::string_view text);

} // namespace orv::cli
