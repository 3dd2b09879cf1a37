// orvctl ledger prove NUMBER: the proof that an event is in the signed ledger.
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
    {"--out", "FILE", "needs a file", "Write the proof to FILE (written whole or not at all).", &CliOptions::out},
};

class ProveAction final : public LedgerAction
{
public:
    using LedgerAction::LedgerAction;

    int run()
    {
        if (const int code = open()) {
            return code;
        }
        return prove();
    }

private:
    int prove()
    {
        ledger::LedgerSnapshot snapshot;
        std::optional<ledger::VerifyPolicy> p;
        if (const int code = readWithKeys(snapshot, p)) {
            return code;
        }
        std::string why;
        const std::optional<ledger::TlogProof> proof =
            ledger::proveEvent(snapshot, p->stations, p->witnesses, o_.number, why);
        if (!proof) {
            return problem(ledger_->location() + ": " + why);
        }
        const std::string text = ledger::proofText(*proof);
        if (!o_.out.empty() && !replaceFileContents(pathFromUtf8(o_.out), text)) {
            c_.err << "orvctl: ledger prove: cannot write " << o_.out << "; what was there is as it was\n";
            return kExitFailed;
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("number").value(o_.number).key("proof").value(text);
            if (!o_.out.empty()) {
                j.key("file").value(o_.out);
            }
            j.endObject();
            c_.out << j.text() << "\n";
        } else if (o_.out.empty()) {
            c_.out << text;
        } else {
            c_.out << "wrote the proof of event " << o_.number << " to " << o_.out << "\n";
        }
        return kExitDone;
    }
};

std::string check(CliOptions& o)
{
    const std::optional<std::int64_t> n = positiveNumber64(o.operands[0]);
    if (!n) {
        return "ledger prove takes an event number, not \"" + o.operands[0] + "\"";
    }
    o.number = *n;
    return {};
}

int action(const CliOptions& o, CliContext& c)
{
    return ProveAction(o, c).run();
}

} // namespace

constexpr Command kLedgerProveCommand{
    .name = "prove",
    .kind = CommandKind::LedgerProve,
    .operands = "NUMBER",
    .minOperands = 1,
    .maxOperands = 1,
    .summary = "Write the proof that event NUMBER is in the signed ledger.",
    .details = "The proof holds the event's canonical form (the extra line), its index (NUMBER - 1), the\n"
               "inclusion proof and the newest checkpoint signed by a trusted key, with every signature:\n"
               "anyone can check it offline against the signers' verifier keys.",
    .related = "--ledger --trusted --json",
    .options = kOptions,
    .check = check,
    .action = action,
};

} // namespace orv::cli
