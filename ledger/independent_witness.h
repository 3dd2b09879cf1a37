#pragma once
// An independent witness: run by a party that does not administer the database (an audit unit, a
// prosecutor's office), on its own computer, with its own state file. It takes the newest
// checkpoint a trusted station signed, checks that it extends the one it cosigned last (a
// consistency proof) and that the ledger's events hash to it, keeps it in its state file, and only
// then adds its cosignature to the ledger. A smaller tree, or the same size with another root, is
// refused: the ledger's history was rewritten.

#include "ledger/checkpoint.h"
#include "ledger/ledger.h"
#include "ledger/signed_note.h"
#include "ledger/witness_file.h"

#include <cstdint>
#include <string>

namespace orv::ledger {

struct WitnessRun
{
    enum class Outcome : std::uint8_t {
        Cosigned,  // a new checkpoint cosigned
        Unchanged, // this witness cosigned the newest checkpoint already
        Refused,   // the ledger contradicts what this witness cosigned before, or its checkpoint
        Failed,    // the ledger or the state file could not be read or written, or nothing to cosign
    } outcome = Outcome::Failed;
    std::string message;
    Checkpoint checkpoint;         // the one cosigned (or looked at)
    std::int64_t previousSize = 0; // what the state file held before
};

// `key` is a cosignature key (KeyType::Cosignature); `stations` the keys whose checkpoints count.
WitnessRun witnessLedger(Ledger& ledger, const KeyRing& stations, const SignerKey& key, WitnessFile& state,
                         std::uint64_t now);

} // namespace orv::ledger
