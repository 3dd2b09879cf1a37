#pragma once
// A proof of one event read on its own, as anyone holding the proof and the signers' verifier keys
// checks it: no ledger, no station, no database. orvctl ledger verify-proof prints what it finds.

#include "ledger/checkpoint.h"
#include "ledger/ledger.h"
#include "ledger/signed_note.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv::ledger {

struct ProofReading
{
    bool valid = false;
    std::string problem;                  // why the proof is refused, on one line; empty when valid
    std::optional<Event> event;           // the event the proof is about, read from its extra data
    std::optional<Checkpoint> checkpoint; // the checkpoint it is against, once read
    std::vector<std::string> signedBy;    // trusted keys whose signature verified ("name+1a2b3c4d")
    std::vector<std::string> cosignedBy;  // trusted witnesses whose cosignature verified
    std::vector<std::string> untrusted;   // the other keys that signed it: not checked, not evidence
};

// Reads `text` as the tlog-proof of a ledger event and checks it: the checkpoint is signed by a
// key of `trusted` and no signature of a trusted key or cosignature of a trusted witness fails;
// its origin is `origin` when one is given; the inclusion proof binds the extra data to the
// checkpoint's root; the extra data is an event's canonical form whose number is index + 1.
ProofReading readProof(std::string_view text, const KeyRing& trusted, const KeyRing& witnesses,
                       std::string_view origin = {});

} // namespace orv::ledger
