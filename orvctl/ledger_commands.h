#pragma once
// orvctl and the ledger: where it is, opening it before anything goes to a camera, what every
// event orvctl records shares. The `ledger` actions are under commands/.

#include "ledger/ledger.h"
#include "ledger/station.h"
#include "orvctl/cli_options.h"
#include "orvctl/orvctl.h"
#include "provision/ledger_events.h"

#include <memory>
#include <string>

namespace orv::cli {

// --ledger, else the default file in the user's data folder.
std::string ledgerLocation(const CliOptions& options);

// Opens the ledger and reads its chain head, so that one that cannot be reached is found before
// anything is sent. Null with `problem` ("LOCATION: WHY", never a password) otherwise.
std::shared_ptr<ledger::Ledger> openReachableLedger(const std::string& location, std::string& problem);

// What a command that writes to cameras has in hand before anything is sent: the ledger opened
// and answering, the station's key, trusted keys and witness file, and the station's check that
// the ledger still holds what it saw. Null with the refusal printed ("orvctl: ledger ...; nothing
// was sent") and `code` set: 1, or 5 when the ledger's history changed.
std::optional<ledger::Recording> startRecording(const CliOptions& options, CliContext& context, int& code,
                                                std::string_view notDone = "nothing was sent");
// After the command appended: signs a checkpoint of the ledger. kExitDone, or kExitFailed with
// the problem printed.
int sealRecording(const ledger::Recording& recording, CliContext& context);

// Why the last call on `ledger` failed, with where it is, on one line: "LOCATION: WHY".
std::string ledgerProblem(const ledger::Ledger& ledger);

// orvctl, its version, this computer and the account.
provision::EventOrigin orvctlOrigin();

} // namespace orv::cli
