// orvctl ledger witness --state FILE: cosign the newest checkpoint as an independent witness.
#include "orvctl/command.h"
#include "orvctl/ledger_action.h"

#include "ledger/evidence.h"
#include "ledger/independent_witness.h"
#include "ledger/ledger_export.h"
#include "ledger/postgres_ledger.h"
#include "link/program_arguments.h"
#include "orvctl/ledger_commands.h"
#include "persist/atomic_file.h"
#include "provision/camera_identity.h"

#include <filesystem>
#include <ostream>

namespace orv::cli {
namespace {

constexpr OptionDefinition kOptions[] = {
    {"--state", "FILE", "needs a file",
     "The witness's own state file: what it cosigned of each ledger (made on\n"
     "first use; only ever added to).",
     &CliOptions::state},
    {"--key", "FILE", "needs a file",
     "The witness's key (default: orv_witness.key in this account's data\n"
     "folder, made on first use).",
     &CliOptions::key},
};

class WitnessAction final : public LedgerAction
{
public:
    using LedgerAction::LedgerAction;

    int run()
    {
        if (const int code = open()) {
            return code;
        }
        return witness();
    }

private:
    int witness()
    {
        std::optional<ledger::WitnessFile> own;
        const std::optional<ledger::VerifyPolicy> p = policy(own);
        if (!p) {
            return kExitFailed;
        }
        std::string why;
        const std::filesystem::path keyFile =
            o_.key.empty() ? ledger::defaultStationFolder() / std::string(ledger::kWitnessKeyFileName)
                           : pathFromUtf8(o_.key);
        const std::optional<ledger::SignerKey> key =
            ledger::loadOrCreateKey(keyFile, ledger::witnessKeyName(), ledger::KeyType::Cosignature, why);
        if (!key) {
            return problem(why);
        }
        std::optional<ledger::WitnessFile> state = ledger::WitnessFile::open(pathFromUtf8(o_.state), why);
        if (!state) {
            return problem("the state file " + why);
        }
        const auto now = static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                .count());
        const ledger::WitnessRun run = ledger::witnessLedger(*ledger_, p->stations, *key, *state, now);
        const bool refused = run.outcome == ledger::WitnessRun::Outcome::Refused;
        const bool failed = run.outcome == ledger::WitnessRun::Outcome::Failed;
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("outcome").value(refused                                                 ? "refused"
                                                 : failed                                                ? "failed"
                                                 : run.outcome == ledger::WitnessRun::Outcome::Unchanged ? "unchanged"
                                                                                                         : "cosigned");
            j.key("size").value(static_cast<std::int64_t>(run.checkpoint.size));
            j.key("previousSize").value(run.previousSize).key("message").value(run.message).endObject();
            c_.out << j.text() << "\n";
        } else if (!refused && !failed) {
            c_.out << run.message << "\n";
        }
        if (refused || failed) {
            c_.err << "orvctl: ledger witness: " << ledger::oneLine(run.message) << "\n";
            return refused ? kExitLedgerBroken : kExitFailed;
        }
        return kExitDone;
    }
};

std::string check(CliOptions& o)
{
    return o.state.empty() ? "ledger witness needs --state FILE: the witness's own record" : std::string();
}

int action(const CliOptions& o, CliContext& c)
{
    return WitnessAction(o, c).run();
}

} // namespace

constexpr Command kLedgerWitnessCommand{
    .name = "witness",
    .kind = CommandKind::LedgerWitness,
    .operands = "--state FILE",
    .minOperands = 0,
    .maxOperands = 0,
    .summary = "Cosign the ledger's newest checkpoint as an independent witness.",
    .details = "Run by a party that does not administer the database, on its own computer (a scheduled task):\n"
               "takes the newest checkpoint a trusted station signed, checks that the ledger's events hash to\n"
               "it and that it extends the checkpoint this witness cosigned before (a consistency proof), keeps\n"
               "it in the state file, then adds the witness's cosignature to the ledger. A smaller tree, or the\n"
               "same size with another root, is refused (exit status 5).",
    .related = "--ledger --trusted --json",
    .options = kOptions,
    .check = check,
    .action = action,
};

} // namespace orv::cli
