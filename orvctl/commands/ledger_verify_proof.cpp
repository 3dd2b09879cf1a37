// orvctl ledger verify-proof PROOF: check one event's proof offline and show the event it proves.
#include "orvctl/command.h"
#include "orvctl/ledger_action.h"

#include "ledger/evidence.h"
#include "ledger/proof_reading.h"
#include "ledger/station.h"
#include "link/program_arguments.h"
#include "persist/atomic_file.h"

#include <ostream>

namespace orv::cli {
namespace {

constexpr OptionDefinition kOptions[] = {
    {"--witness-keys", "FILE", "needs a file",
     "The witnesses' verifier keys to trust (what ledger key witness prints):\n"
     "their cosignatures must verify.",
     &CliOptions::witnessKeys},
    {"--origin", "ORIGIN", "needs an origin", "Refuse a proof whose checkpoint is of a ledger with another origin.",
     &CliOptions::origin},
};

void stringsInJson(JsonWriter& j, std::string_view key, const std::vector<std::string>& items)
{
    j.key(key).beginArray();
    for (const std::string& item : items) {
        j.value(item);
    }
    j.endArray();
}

std::string listed(const std::vector<std::string>& labels)
{
    return labels.empty() ? "-" : ledger::commaList(labels);
}

// Reads nothing but the proof and the key files: no ledger, no database, no station key.
class VerifyProofAction final : public LedgerAction
{
public:
    using LedgerAction::LedgerAction;

    int run()
    {
        const FileContents proof = readWholeFile(pathFromUtf8(o_.operands[0]));
        if (proof.outcome != ReadOutcome::Read) {
            return problem("verify-proof: the proof file " + o_.operands[0] +
                           (proof.outcome == ReadOutcome::Missing ? " does not exist" : " cannot be read"));
        }
        std::string why;
        const std::optional<ledger::KeyRing> trusted =
            ledger::readKeyRingFile(pathFromUtf8(o_.trusted), "the trusted keys file", why);
        if (!trusted) {
            return problem("verify-proof: " + why);
        }
        ledger::KeyRing witnesses;
        if (!o_.witnessKeys.empty()) {
            std::optional<ledger::KeyRing> ring =
                ledger::readKeyRingFile(pathFromUtf8(o_.witnessKeys), "the witness keys file", why);
            if (!ring) {
                return problem("verify-proof: " + why);
            }
            witnesses = std::move(*ring);
        }
        const ledger::ProofReading reading = ledger::readProof(proof.bytes, *trusted, witnesses, o_.origin);
        if (o_.json) {
            printJson(reading);
        } else if (reading.valid) {
            printText(reading);
        }
        if (!reading.valid) {
            c_.err << "orvctl: ledger verify-proof: " << o_.operands[0] << ": " << reading.problem << "\n";
            return kExitLedgerBroken;
        }
        return kExitDone;
    }

private:
    void printText(const ledger::ProofReading& r)
    {
        const ledger::Event& e = *r.event;
        const ledger::Checkpoint& cp = *r.checkpoint;
        const auto line = [this](std::string_view name, const std::string& value) {
            std::string out(name);
            out.resize(15, ' ');
            c_.out << out << value << "\n";
        };
        c_.out << "valid: event " << e.number << " is in the checkpoint of " << cp.size
               << (cp.size == 1 ? " event" : " events") << " signed by " << listed(r.signedBy) << "\n";
        line("number", std::to_string(e.number));
        line("time", e.timeUtc + " (" + ledger::localTimeText(e.timeUtc) + " local time here; the station was at " +
                         ledger::utcOffsetText(e.utcOffsetMinutes) + ")");
        line("station", orDash(e.station));
        line("operator", orDash(e.operatorName));
        line("tool", orDash(e.tool) + (e.toolVersion.empty() ? "" : " " + e.toolVersion));
        line("kind", orDash(e.kind));
        line("device", orDash(e.deviceId));
        line("where", orDash(e.where));
        line("officer", orDash(e.officerBefore) + " -> " + orDash(e.officerAfter));
        line("unit", orDash(e.unitBefore) + " -> " + orDash(e.unitAfter));
        line("setup", orDash(e.setupName) + (e.setupSha256.empty() ? "" : " (sha256 " + e.setupSha256 + ")"));
        line("groups", orDash(e.groups));
        line("result", orDash(e.result));
        line("differences", orDash(e.differences));
        line("clock offset", e.clockOffsetSeconds ? std::to_string(*e.clockOffsetSeconds) + " s" : "-");
        line("origin", cp.origin);
        line("tree size", std::to_string(cp.size));
        line("root", ledger::hashBase64(cp.root));
        line("signed by", listed(r.signedBy));
        line("cosigned by", listed(r.cosignedBy));
        if (!r.untrusted.empty()) {
            line("not trusted", listed(r.untrusted) + " (signatures not checked)");
        }
    }

    void printJson(const ledger::ProofReading& r)
    {
        JsonWriter j;
        j.beginObject().key("valid").value(r.valid);
        optionalText(j, "problem", r.problem);
        j.key("event");
        if (r.event) {
            eventInJson(j, *r.event);
        } else {
            j.null();
        }
        j.key("checkpoint");
        if (r.checkpoint) {
            j.beginObject().key("origin").value(r.checkpoint->origin);
            j.key("size").value(static_cast<std::int64_t>(r.checkpoint->size));
            j.key("root").value(ledger::hashBase64(r.checkpoint->root)).endObject();
        } else {
            j.null();
        }
        stringsInJson(j, "signedBy", r.signedBy);
        stringsInJson(j, "cosignedBy", r.cosignedBy);
        stringsInJson(j, "untrusted", r.untrusted);
        j.endObject();
        c_.out << j.text() << "\n";
    }
};

std::string check(CliOptions& o)
{
    if (o.trusted.empty()) {
        return "ledger verify-proof needs --trusted FILE: the verifier keys whose checkpoints are evidence";
    }
    return {};
}

int action(const CliOptions& o, CliContext& c)
{
    return VerifyProofAction(o, c).run();
}

} // namespace

constexpr Command kLedgerVerifyProofCommand{
    .name = "verify-proof",
    .kind = CommandKind::LedgerVerifyProof,
    .operands = "PROOF",
    .minOperands = 1,
    .maxOperands = 1,
    .summary = "Check a proof that ledger prove wrote, offline, and show its event.",
    .details = "Opens no ledger and no database and uses no station key: the proof file and the keys given are\n"
               "all it reads. The checkpoint must be signed by a key of the --trusted file (required here, and\n"
               "not remembered), no signature of a trusted key or cosignature of a trusted witness may fail,\n"
               "and the inclusion proof must lead from the event's canonical form (the extra line) to the\n"
               "checkpoint's root; the event's number must be its index + 1. The event's fields, the\n"
               "checkpoint and who signed it are printed. Exit status 5 says on one line why a proof is\n"
               "refused.",
    .related = "--trusted --json",
    .options = kOptions,
    .check = check,
    .action = action,
};

} // namespace orv::cli
