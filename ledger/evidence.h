#pragma once
// What makes the ledger evidence: its signed checkpoints judged against keys handed out outside the
// database, the whole ledger checked against them (and against a station's own witness file), and
// proofs of single events that anyone can check offline.

#include "ledger/checkpoint.h"
#include "ledger/ledger.h"
#include "ledger/signed_note.h"
#include "ledger/witness_file.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv::ledger {


// A stored note read as a checkpoint and judged against the trusted keys.
struct JudgedCheckpoint
{
    Checkpoint checkpoint;
    std::string text;                      // the note's text: the checkpoint's three lines
    std::vector<NoteSignature> signatures; // every signature line, in order
    std::vector<std::string> signedBy;     // trusted stations whose signature verified
    std::vector<std::string> cosignedBy;   // trusted witnesses whose cosignature verified
    std::vector<std::uint64_t> cosignedAt; // their timestamps, in the same order
    std::vector<std::string> invalid;      // trusted keys whose signature does not verify
    std::vector<std::string> unknown;      // keys nobody said to trust

    // Signed or cosigned by a trusted key, and no trusted signature fails.
    bool trusted() const { return (!signedBy.empty() || !cosignedBy.empty()) && invalid.empty(); }
    // "a, b" of signedBy and cosignedBy.
    std::string signers() const;
};
// Nullopt with `problem` when `note` is no signed note, its text no checkpoint, or the checkpoint
// is of another origin.
std::optional<JudgedCheckpoint> judgeCheckpoint(std::string_view note, std::string_view origin, const KeyRing& stations,
                                                const KeyRing& witnesses, std::string* problem = nullptr);

struct VerifyPolicy
{
    KeyRing stations;                     // keys whose checkpoints are trusted
    KeyRing witnesses;                    // trusted witnesses' cosignature keys
    int minWitnesses = 0;                 // that many trusted witnesses must have cosigned
    const WitnessFile* witness = nullptr; // this station's own; null: none (an export read elsewhere)
    std::string place;                    // where the ledger was read; empty: an export
};

struct EvidenceReport
{
    VerifyReport chain;                 // the chain, as verifyChain found it
    bool intact = true;                 // chain and checkpoints and witness file all agree, witnessed enough
    std::int64_t firstBroken = 0;       // 0 with intact false: no event is wrong, too few witnesses cosigned
    std::string problem;                // the first thing found wrong, naming the event and whose checkpoint
    std::int64_t checkpoints = 0;       // distinct checkpoints signed by trusted keys, checked
    std::int64_t signedUpTo = 0;        // the largest of them
    std::int64_t witnessedUpTo = 0;     // events cosigned by at least minWitnesses (or one) trusted witnesses
    std::vector<std::string> witnesses; // the trusted witnesses that cosigned
    std::int64_t witnessRecordsChecked = 0;
    std::vector<std::string> findings; // what was checked, in words a reader outside IT understands
};
// Checks the chain, then every checkpoint: a signature by a trusted key must verify; a checkpoint
// no trusted key signed is "unknown signer"; the first N events must hash to the root of every
// trusted checkpoint of N events, and the ledger must still reach N. Then the station's witness
// file: the ledger at this place has the origin it saw, and everything it keeps (each tree's
// root and last chain hash, each checkpoint it published) is still in the ledger. Then the
// witnesses: each trusted cosignature verifies, and at least minWitnesses trusted witnesses cosigned.
EvidenceReport verifyEvidence(const LedgerSnapshot& snapshot, const VerifyPolicy& policy);

// The checkpoint of `size` events (0: the newest) signed by a trusted key, with every signature
// and cosignature the ledger holds for it. Nullopt with `error` when there is none.
std::optional<JudgedCheckpoint> trustedCheckpoint(const LedgerSnapshot& snapshot, const KeyRing& stations,
                                                  const KeyRing& witnesses, std::int64_t size, std::string& error);
// The same as one signed note.
std::optional<std::string> mergedCheckpoint(const LedgerSnapshot& snapshot, const KeyRing& stations,
                                            const KeyRing& witnesses, std::int64_t size, std::string& error);

// Proofs of several events against the newest checkpoint a trusted key signed, its tree built
// once. Each event gets its proof or why there is none (not covered yet, no such event, or the
// ledger no longer matching the checkpoint, which then holds for every event).
struct EventProof
{
    std::int64_t number = 0;
    std::optional<TlogProof> proof;
    std::string problem;
};
struct EventProofs
{
    std::optional<JudgedCheckpoint> checkpoint; // the newest trusted one, when there is one
    std::vector<EventProof> proofs;             // one per number asked, in the same order
};
EventProofs proveEvents(const LedgerSnapshot& snapshot, const KeyRing& stations, const KeyRing& witnesses,
                        std::span<const std::int64_t> numbers);

// The tlog-proof of event `number` against the newest checkpoint a trusted key signed: its
// canonical form as the extra data, index number - 1, the inclusion proof, the merged checkpoint.
std::optional<TlogProof> proveEvent(const LedgerSnapshot& snapshot, const KeyRing& stations, const KeyRing& witnesses,
                                    std::int64_t number, std::string& error);

} // namespace orv::ledger
