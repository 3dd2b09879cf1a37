// orvctl ledger checkpoint: the newest signed checkpoint with all its signatures.
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
    {"--size", "N", "needs a number", "The checkpoint of N events rather than the newest.", &CliOptions::size},
};

class CheckpointAction final : public LedgerAction
{
public:
    using LedgerAction::LedgerAction;

    int run()
    {
        if (const int code = open()) {
            return code;
        }
        return checkpoint();
    }

private:
    int checkpoint()
    {
        ledger::LedgerSnapshot snapshot;
        std::optional<ledger::VerifyPolicy> p;
        if (const int code = readWithKeys(snapshot, p)) {
            return code;
        }
        std::string why;
        const std::optional<std::string> note =
            ledger::mergedCheckpoint(snapshot, p->stations, p->witnesses, o_.treeSize, why);
        if (!note) {
            return problem(ledger_->location() + ": " + why);
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("origin").value(snapshot.origin).key("note").value(*note).endObject();
            c_.out << j.text() << "\n";
        } else {
            c_.out << *note;
        }
        return kExitDone;
    }
};

std::string check(CliOptions& o)
{
    if (o.size.empty()) {
        return {};
    }
    const std::optional<std::int64_t> n = positiveNumber64(o.size);
    if (!n) {
        return "--size takes a whole number above 0, not \"" + o.size + "\"";
    }
    o.treeSize = *n;
    return {};
}

int action(const CliOptions& o, CliContext& c)
{
    return CheckpointAction(o, c).run();
}

} // namespace

constexpr Command kLedgerCheckpointCommand{
    .name = "checkpoint",
    .kind = CommandKind::LedgerCheckpoint,
    .minOperands = 0,
    .maxOperands = 0,
    .summary = "Print the newest signed checkpoint with all its signatures.",
    .details = "A signed note in the C2SP tlog-checkpoint form: the ledger's origin, its number of events and\n"
               "the root of its Merkle tree (RFC 6962), then one line for each station's signature and each\n"
               "witness's cosignature. Only checkpoints signed by a trusted key are printed.",
    .related = "--ledger --trusted --json",
    .options = kOptions,
    .check = check,
    .action = action,
};

} // namespace orv::cli
