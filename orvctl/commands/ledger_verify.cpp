// orvctl ledger verify: check the chain, its signed checkpoints, this station's witness file.
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
    {"--file", "EXPORT", "needs a file",
     "Verify an export (ledger export FILE.jsonl) instead of the ledger, with\n"
     "no database.",
     &CliOptions::file},
    kWitnessKeysOption,
    kMinWitnessesOption,
};

class VerifyAction final : public LedgerAction
{
public:
    using LedgerAction::LedgerAction;

    int run()
    {
        if (!o_.file.empty()) {
            return verifyExport();
        }
        if (const int code = open()) {
            return code;
        }
        return verify();
    }

private:
    int verify()
    {
        ledger::LedgerSnapshot snapshot;
        if (!ledger_->readSnapshot(snapshot)) {
            return readFailed();
        }
        return reportVerification(snapshot, ledger_->place(), ledger_->location());
    }

    int verifyExport()
    {
        std::string why;
        const std::optional<ledger::LedgerSnapshot> snapshot = ledger::readJsonLinesExport(pathFromUtf8(o_.file), why);
        if (!snapshot) {
            return problem(why);
        }
        return reportVerification(*snapshot, {}, o_.file);
    }

    int reportVerification(const ledger::LedgerSnapshot& snapshot, const std::string& place, const std::string& where)
    {
        std::optional<ledger::WitnessFile> witness;
        std::optional<ledger::VerifyPolicy> p = policy(witness);
        if (!p) {
            return kExitFailed;
        }
        p->witness = &*witness;
        p->place = place;
        const ledger::EvidenceReport report = ledger::verifyEvidence(snapshot, *p);
        const ledger::ChainHead head = report.chain.head;
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("intact").value(report.intact);
            j.key("eventsChecked").value(report.chain.eventsChecked);
            j.key("firstBroken");
            if (report.firstBroken == 0) {
                j.null();
            } else {
                j.value(report.firstBroken);
            }
            optionalText(j, "problem", report.problem);
            j.key("head").beginObject().key("number").value(head.number);
            j.key("hash").value(head.hash).endObject();
            j.key("origin").value(snapshot.origin);
            j.key("checkpoints").value(report.checkpoints).key("signedUpTo").value(report.signedUpTo);
            j.key("witnessedUpTo").value(report.witnessedUpTo).key("witnesses").beginArray();
            for (const std::string& w : report.witnesses) {
                j.value(w);
            }
            j.endArray().key("witnessFileRecords").value(report.witnessRecordsChecked);
            j.key("findings").beginArray();
            for (const std::string& f : report.findings) {
                j.value(f);
            }
            j.endArray().endObject();
            c_.out << j.text() << "\n";
        } else {
            if (report.intact) {
                c_.out << "intact: " << report.chain.eventsChecked
                       << (report.chain.eventsChecked == 1 ? " event" : " events") << ", head " << head.number << " "
                       << head.hash << "\n";
            } else if (report.firstBroken > 0) {
                c_.out << "broken at event " << report.firstBroken << ": " << report.problem << "\n";
            } else {
                c_.out << "not witnessed enough: " << report.problem << "\n";
            }
            c_.out << "origin " << snapshot.origin << "\n";
            for (const std::string& f : report.findings) {
                c_.out << "  " << f << "\n";
            }
        }
        if (!report.intact) {
            c_.err << "orvctl: ledger " << where << ": "
                   << (report.firstBroken > 0 ? "broken at event " + std::to_string(report.firstBroken)
                                              : "not witnessed enough")
                   << "\n";
            return kExitLedgerBroken;
        }
        return kExitDone;
    }
};

std::string check(CliOptions& o)
{
    return readMinWitnesses(o);
}

int action(const CliOptions& o, CliContext& c)
{
    return VerifyAction(o, c).run();
}

} // namespace

constexpr Command kLedgerVerifyCommand{
    .name = "verify",
    .kind = CommandKind::LedgerVerify,
    .minOperands = 0,
    .maxOperands = 0,
    .summary = "Check the chain, its signed checkpoints, this station's witness file.",
    .details = "Checks that the events are numbered 1, 2, 3, ... without gaps, every link and every hash, and\n"
               "that the chain head the ledger keeps is its last event's; then every checkpoint: a signature by\n"
               "a trusted key must verify, a checkpoint no trusted key signed is an unknown signer, and the\n"
               "first N events must still hash to the root of each checkpoint of N events (a rewrite is found\n"
               "even when its hashes were computed again, a removed tail by the events the checkpoint counts);\n"
               "then this station's witness file: the ledger at this place is the one it recorded to, and every\n"
               "checkpoint it signed is still in it and still true. Exit status 5 names the first event where\n"
               "they disagree, and whose checkpoint it was.",
    .related = "--ledger --trusted --json",
    .options = kOptions,
    .check = check,
    .action = action,
};

} // namespace orv::cli
