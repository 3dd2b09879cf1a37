#include "ledger/independent_witness.h"

#include "ledger/evidence.h"

#include <algorithm>

namespace orv::ledger {

WitnessRun witnessLedger(Ledger& ledger, const KeyRing& stations, const SignerKey& key, WitnessFile& state,
                         std::uint64_t now)
{
    WitnessRun run;
    const auto finish = [&](WitnessRun::Outcome outcome, std::string message) {
        run.outcome = outcome;
        run.message = std::move(message);
        return run;
    };
    LedgerSnapshot snapshot;
    if (!ledger.readSnapshot(snapshot)) {
        return finish(WitnessRun::Outcome::Failed, ledger.location() + ": " + ledger.error());
    }
    const std::string place = ledger.place();
    if (const std::optional<std::string> seen = state.originAt(place); seen && *seen != snapshot.origin) {
        return finish(WitnessRun::Outcome::Refused, "the ledger at " + place +
                                                        " is not the one this witness saw there: it was " + *seen +
                                                        " and is now " + snapshot.origin);
    }
    std::string why;
    const std::optional<JudgedCheckpoint> newest = trustedCheckpoint(snapshot, stations, {}, 0, why);
    if (!newest) {
        return finish(WitnessRun::Outcome::Failed, why + "; nothing to cosign");
    }
    const Checkpoint* checkpoint = &newest->checkpoint;
    run.checkpoint = *checkpoint;
    const auto size = static_cast<std::int64_t>(checkpoint->size);
    const std::string sizeText = std::to_string(size);

    const TreeRecord* last = state.largest(snapshot.origin);
    run.previousSize = last ? last->size : 0;
    if (last && last->size > size) {
        return finish(WitnessRun::Outcome::Refused, "the newest checkpoint holds " + sizeText +
                                                        " events, fewer than the " + std::to_string(last->size) +
                                                        " this witness cosigned before (state file line " +
                                                        std::to_string(last->line) + "): the ledger was rolled back");
    }
    if (last && last->size == size && last->root != checkpoint->root) {
        return finish(WitnessRun::Outcome::Refused,
                      "the newest checkpoint of " + sizeText +
                          " events has another root than the one this witness cosigned (state file line " +
                          std::to_string(last->line) + "): the ledger's history was rewritten (a fork)");
    }

    // The events must be the tree the checkpoint states, and that tree must extend the last one.
    const VerifyReport chain = verifyChain(snapshot);
    if (!chain.intact && chain.firstBroken <= size) {
        return finish(WitnessRun::Outcome::Refused,
                      "the ledger is broken at event " + std::to_string(chain.firstBroken) + ": " + chain.problem);
    }
    if (static_cast<std::int64_t>(snapshot.events.size()) < size) {
        return finish(WitnessRun::Outcome::Refused, "the checkpoint is of " + sizeText +
                                                        " events but the ledger holds " +
                                                        std::to_string(snapshot.events.size()));
    }
    std::vector<Hash> leaves;
    leaves.reserve(static_cast<std::size_t>(size));
    for (std::int64_t i = 0; i < size; ++i) {
        leaves.push_back(leafHash(canonicalForm(snapshot.events[static_cast<std::size_t>(i)])));
    }
    if (rootOf(leaves) != checkpoint->root) {
        return finish(WitnessRun::Outcome::Refused,
                      "the ledger's first " + sizeText + " events do not hash to the root of their checkpoint");
    }
    if (last && last->size > 0) {
        const std::vector<Hash> proof = consistencyProof(leaves, static_cast<std::uint64_t>(last->size));
        if (!verifyConsistency(static_cast<std::uint64_t>(last->size), checkpoint->size, last->root, checkpoint->root,
                               proof)) {
            return finish(WitnessRun::Outcome::Refused,
                          "the checkpoint of " + sizeText + " events does not extend the one of " +
                              std::to_string(last->size) + " this witness cosigned (state file line " +
                              std::to_string(last->line) + "): the ledger's history was rewritten (a fork)");
        }
    }
    const std::string keyName = keyLabel(key.name(), key.id());
    const bool cosignedBefore =
        std::any_of(newest->signatures.begin(), newest->signatures.end(),
                    [&](const NoteSignature& s) { return s.name == key.name() && s.keyId == key.id(); });
    if (cosignedBefore && last && last->size == size) {
        return finish(WitnessRun::Outcome::Unchanged,
                      "the newest checkpoint (" + sizeText + " events) is cosigned by this witness already");
    }

    const NoteSignature cosignature = cosignCheckpoint(key, newest->text, now);
    const std::string cosigned = noteMessage(Note{newest->text, {cosignature}});
    if (!state.originAt(place) && !state.addPlace(place, snapshot.origin, why)) {
        return finish(WitnessRun::Outcome::Failed, "the state file " + why);
    }
    TreeRecord record;
    record.origin = snapshot.origin;
    record.size = size;
    record.root = checkpoint->root;
    record.chainHash = size == 0 ? std::string(kGenesisHash) : snapshot.events[static_cast<std::size_t>(size - 1)].hash;
    CompactRange range;
    for (const Hash& leaf : leaves) {
        range.append(leaf);
    }
    record.range = range.nodes();
    record.note = cosigned;
    // The state is kept before anyone is told: a witness never answers for a tree it could forget.
    if (!state.addTree(record, why)) {
        return finish(WitnessRun::Outcome::Failed, "the state file " + why + "; nothing cosigned");
    }
    if (!ledger.addCheckpoint(size, cosigned)) {
        return finish(WitnessRun::Outcome::Failed,
                      ledger.location() + ": " + ledger.error() + " (the cosignature is kept in the state file)");
    }
    return finish(WitnessRun::Outcome::Cosigned,
                  "cosigned the checkpoint of " + sizeText + " events of " + snapshot.origin + " as " + keyName);
}

} // namespace orv::ledger
