#include "ledger/proof_reading.h"

#include "ledger/evidence.h"

#include <utility>

namespace orv::ledger {
namespace {

ProofReading refused(ProofReading reading, std::string problem)
{
    reading.valid = false;
    reading.event.reset(); // an event of a refused proof is no evidence, and is not shown as one
    reading.problem = std::move(problem);
    return reading;
}

} // namespace

ProofReading readProof(std::string_view text, const KeyRing& trusted, const KeyRing& witnesses, std::string_view origin)
{
    ProofReading reading;
    std::string error;
    const std::optional<TlogProof> proof = parseProof(text, error);
    if (!proof) {
        return refused(std::move(reading), "it is not a proof of an event: " + error);
    }
    // parseProof read the checkpoint already: both succeed again.
    const std::optional<Note> note = parseNote(proof->checkpoint, error);
    reading.checkpoint = note ? parseCheckpoint(note->text, error) : std::nullopt;
    if (!reading.checkpoint) {
        return refused(std::move(reading), "the proof's checkpoint cannot be read: " + error);
    }
    const Checkpoint& checkpoint = *reading.checkpoint;
    for (const NoteSignature& signature : note->signatures) {
        const VerifierKey* key = trusted.find(signature.name, signature.keyId);
        const VerifierKey* witness = witnesses.find(signature.name, signature.keyId);
        if (!(key && key->type == KeyType::Ed25519) && !(witness && witness->type == KeyType::Cosignature)) {
            reading.untrusted.push_back(keyLabel(signature.name, signature.keyId));
        }
    }
    if (!origin.empty() && checkpoint.origin != origin) {
        return refused(std::move(reading), "a proof of another ledger: the checkpoint's origin is " +
                                               checkpoint.origin + ", not " + std::string(origin));
    }

    const ProofCheck check = checkProof(*proof, trusted, witnesses);
    reading.signedBy = check.signedBy;
    reading.cosignedBy = check.cosignedBy;
    const std::string event = "event " + std::to_string(proof->index + 1);
    switch (check.valid ? ProofCheck::Fault::None : check.fault) {
        case ProofCheck::Fault::None:
            break;
        case ProofCheck::Fault::Untrusted:
            return refused(std::move(reading),
                           "the checkpoint is signed by " + commaList(reading.untrusted) +
                               (reading.untrusted.size() == 1 ? ", which is not" : ", none of which is") +
                               " among the trusted keys (its origin is " + checkpoint.origin + ")");
        case ProofCheck::Fault::NotIncluded:
            return refused(std::move(reading),
                           "the proof does not verify: " + event + " is not in the tree of checkpoint " +
                               checkpoint.origin + " of " + std::to_string(checkpoint.size) + " events, root " +
                               hashBase64(checkpoint.root) + " (the proof or the event was altered)");
        default:
            return refused(std::move(reading), check.problem);
    }

    reading.event = parseCanonicalForm(*proof->extra, error);
    if (!reading.event) {
        return refused(std::move(reading), "the proof's extra data is no event of the ledger: " + error);
    }
    if (reading.event->number < 0 || static_cast<std::uint64_t>(reading.event->number) != proof->index + 1) {
        return refused(std::move(reading), "the event in the proof says it is event " +
                                               std::to_string(reading.event->number) + ", but the proof places it as " +
                                               event + " of the tree");
    }
    reading.valid = true;
    return reading;
}

} // namespace orv::ledger
