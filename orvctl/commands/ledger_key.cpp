// orvctl ledger key [witness]: this station's verifier key, or its witness key.
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

class KeyAction final : public LedgerAction
{
public:
    using LedgerAction::LedgerAction;

    int run() { return key(); }

private:
    int key()
    {
        const bool witnessKey = !o_.operands.empty();
        const std::filesystem::path folder = ledger::defaultStationFolder();
        const std::filesystem::path file =
            folder / std::string(witnessKey ? ledger::kWitnessKeyFileName : ledger::kStationKeyFileName);
        std::string why;
        const std::optional<ledger::SignerKey> signer =
            witnessKey ? ledger::loadOrCreateKey(file, ledger::witnessKeyName(), ledger::KeyType::Cosignature, why)
                       : ledger::loadOrCreateKey(file, ledger::stationKeyName(), ledger::KeyType::Ed25519, why);
        if (!signer) {
            return problem(why);
        }
        const ledger::VerifierKey v = signer->verifier();
        const std::string text = ledger::verifierKeyText(v);
        const std::string fingerprint = ledger::keyFingerprint(v);
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("key").value(text).key("name").value(v.name);
            j.key("keyId").value(ledger::keyLabel("", v.id).substr(1)).key("fingerprint").value(fingerprint);
            j.key("kind").value(witnessKey ? "witness" : "station").key("file").value(pathUtf8(file)).endObject();
            c_.out << j.text() << "\n";
            return kExitDone;
        }
        c_.out << text << "\n";
        c_.out << "# " << v.name
               << (witnessKey ? ": this account's key as an independent witness (cosignatures)"
                              : ": this station's key (it signs the ledger's checkpoints)")
               << "\n";
        c_.out << "# fingerprint (SHA-256 of the public key) " << fingerprint << "\n";
        c_.out << "# kept in " << pathUtf8(file) << "\n";
        return kExitDone;
    }
};

std::string check(CliOptions& o)
{
    if (!o.operands.empty() && o.operands[0] != "witness") {
        return "ledger key takes nothing, or \"witness\"";
    }
    return {};
}

int action(const CliOptions& o, CliContext& c)
{
    return KeyAction(o, c).run();
}

} // namespace

constexpr Command kLedgerKeyCommand{
    .name = "key",
    .kind = CommandKind::LedgerKey,
    .operands = "[witness]",
    .minOperands = 0,
    .maxOperands = 1,
    .summary = "Print this station's verifier key (or its witness key).",
    .details = "The first line is the verifier key, as the trusted keys file takes it (name+id+key); the lines\n"
               "after it, starting with #, say whose it is and its fingerprint, to compare by telephone. The key\n"
               "is made on first use in this account's data folder (or ORV_STATION_FOLDER). \"witness\" prints\n"
               "the key this account cosigns with as an independent witness.",
    .related = "--json",
    .check = check,
    .action = action,
};

} // namespace orv::cli
