#pragma once
// What orvctl's ledger actions share: the ledger opened for reading (never created), times read
// from the command line, the keys checkpoints are judged by, and how events and assignments are
// written out. Each action derives from LedgerAction in its own unit under commands/.

#include "ledger/evidence.h"
#include "ledger/ledger.h"
#include "ledger/witness_file.h"
#include "orvctl/cli_options.h"
#include "orvctl/command.h"
#include "orvctl/json_writer.h"
#include "orvctl/ledger_commands.h"
#include "orvctl/orvctl.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv::cli {

std::string orDash(const std::string& text);
void optionalText(JsonWriter& j, std::string_view key, const std::string& text);
void eventInJson(JsonWriter& j, const ledger::Event& e);
void assignmentInJson(JsonWriter& j, const ledger::Assignment& a);
// "#12  2026-03-05 14:07:09  provision  ORV202600001  PC4471 -> P-001  ok  desk-3  anna  usb0 192.168.2.158"
std::string eventLine(const ledger::Event& e);
std::string untilText(const ledger::Assignment& a);

// The options that name whom a ledger action is about and when, and the witnesses to trust: the
// same words wherever they are taken.
inline constexpr OptionDefinition kDeviceOption{"--device", "ID", "needs a device id", "The camera, by its device id.",
                                                &CliOptions::device};
inline constexpr OptionDefinition kOfficerOption{"--officer", "ID", "needs an officer id",
                                                 "The officer, by the officer id.", &CliOptions::officer};
inline constexpr OptionDefinition kSinceOption{"--since", "TIME", "needs a time", "Only what happened from TIME on.",
                                               &CliOptions::since};
inline constexpr OptionDefinition kUntilOption{"--until", "TIME", "needs a time", "Only what happened up to TIME.",
                                               &CliOptions::until};
inline constexpr OptionDefinition kWitnessKeysOption{
    "--witness-keys", "FILE", "needs a file", "The witnesses' verifier keys to trust (what ledger key witness prints).",
    &CliOptions::witnessKeys};
inline constexpr OptionDefinition kMinWitnessesOption{
    "--min-witnesses", "K", "needs a number", "At least K of those witnesses must have cosigned the ledger.",
    &CliOptions::minWitnesses};

// Why --device and --officer do not name one of the two ("ledger history: give --device or
// --officer, not both"); empty when they do.
std::string deviceOrOfficerProblem(const CliOptions& options, std::string_view command);
// --min-witnesses read into minWitnessCount; why not, when it is no number or comes without
// --witness-keys.
std::string readMinWitnesses(CliOptions& options);

class LedgerAction
{
public:
    LedgerAction(const CliOptions& options, CliContext& context);

protected:
    int usageError(const std::string& message);

    // A date alone is the start of that day, or with `EndOfDay` (--until) its end.
    bool readTime(const char* option, const std::string& text, std::optional<std::string>& utc,
                  ledger::DateOnly dateOnly = ledger::DateOnly::StartOfDay);

    // --since and --until (a date alone: the start of that day, or for --until its end), --since
    // not after --until; kExitDone, else kExitUsage with the problem said.
    int readPeriod(std::string_view command, std::optional<std::string>& since, std::optional<std::string>& until);

    int problem(const std::string& message);

    int readFailed() { return problem(ledgerProblem(*ledger_)); }

    int open();

    // The keys whose checkpoints count: the trusted keys file and this station's own key (read,
    // never made, by a command that only reads). Null with the problem printed.
    std::optional<ledger::VerifyPolicy> policy(std::optional<ledger::WitnessFile>& witness);

    // Events that could not be read are left out of what is shown, each said once.
    void warnUnreadable(std::vector<ledger::Event>& events);

    // The whole ledger and the keys its checkpoints are judged by; kExitDone when both are in hand.
    int readWithKeys(ledger::LedgerSnapshot& snapshot, std::optional<ledger::VerifyPolicy>& keys);

    const CliOptions& o_;
    CliContext& c_;
    std::shared_ptr<ledger::Ledger> ledger_;
};

} // namespace orv::cli
