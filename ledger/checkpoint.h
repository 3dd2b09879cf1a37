#pragma once
// Checkpoints (C2SP tlog-checkpoint v1.0.0) and proofs (C2SP tlog-proof v1) of the ledger's tree.

#include "ledger/merkle.h"
#include "ledger/signed_note.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv::ledger {

// A hash as checkpoints, proofs and witness files write it: base64 of its 32 bytes; reading takes
// the strict base64 of exactly 32 bytes only.
std::string hashBase64(const Hash& hash);
std::optional<Hash> hashFromBase64(std::string_view text);

// The note text of a checkpoint: the origin, the tree size in decimal, the base64 root, each on
// a line of its own. OrvCamera writes no extension lines and reads none.
struct Checkpoint
{
    std::string origin;
    std::uint64_t size = 0;
    Hash root{};

    bool operator==(const Checkpoint&) const = default;
};
std::string checkpointText(const Checkpoint& checkpoint);
// Refuses an empty origin, a size with leading zeroes or that is no number, a root that is not
// the base64 of 32 bytes, and extension lines.
std::optional<Checkpoint> parseCheckpoint(std::string_view text, std::string& error);

// A tlog-proof: "c2sp.org/tlog-proof@v1", the optional "extra" line, "index N", the inclusion
// proof one base64 hash a line, an empty line, then the signed checkpoint as it is.
struct TlogProof
{
    std::optional<std::string> extra; // the bytes (base64 in the text); for the ledger an event's canonical form
    std::uint64_t index = 0;
    std::vector<Hash> path;
    std::string checkpoint; // the signed note, every signature line included
};
std::string proofText(const TlogProof& proof);
std::optional<TlogProof> parseProof(std::string_view text, std::string& error);

// What checking a proof found, in words a reader outside IT understands.
struct ProofCheck
{
    // Which check refused the proof, for a reader that words it for its own audience.
    enum class Fault : std::uint8_t {
        None,
        Unreadable,    // the checkpoint is no signed note or no checkpoint
        Untrusted,     // no key of `trusted` signed it
        BadSignature,  // a trusted key's signature or a trusted witness's cosignature does not verify
        NoEvent,       // the proof carries no extra data
        NotIncluded,   // the leaf is not in the checkpoint's tree (or its position is past it)
    };

    bool valid = false;
    Fault fault = Fault::None;
    std::string problem;                 // why not, when not valid
    Checkpoint checkpoint;               // the checkpoint the proof is against (once read)
    std::vector<std::string> signedBy;   // the trusted keys whose signature verified
    std::vector<std::string> cosignedBy; // the trusted witnesses whose cosignature verified
};
// Checks a proof of the leaf whose data is `extra` (an event's canonical form): the checkpoint
// is signed by a key of `trusted` (and no signature by a trusted key fails), every cosignature by
// a key of `witnesses` verifies, and the inclusion proof binds the leaf to the checkpoint's root.
// A proof without extra data is refused.
ProofCheck checkProof(const TlogProof& proof, const KeyRing& trusted, const KeyRing& witnesses);

} // namespace orv::ledger
