#pragma once
// The chain of custody of one camera, or of the cameras one officer held, over a period: the
// assignment intervals, every event of the period, what verifying the ledger found, and for each
// event the tlog-proof that lets a reader check it against the signed checkpoint without the rest
// of the ledger. What a custody report shows; no Qt.

#include "ledger/evidence.h"
#include "ledger/ledger.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orv::ledger {

// One camera (deviceId) or one officer (officerId), and the period; empty bounds are open.
struct CustodyQuery
{
    std::string deviceId;
    std::string officerId;
    std::string sinceUtc;
    std::string untilUtc;
};

// Whether `event` is one the query asks about: the camera's, or one whose officer before or after
// is the officer, within the period.
bool custodyMatches(const Event& event, const CustodyQuery& query);

// The assignment intervals the query asks about: those of the camera (or those in which the
// officer held a camera) that reach into the period. `events` should be every readable event of
// the ledger: an interval may have begun before the period.
std::vector<Assignment> custodyIntervals(const std::vector<Event>& events, const CustodyQuery& query);

struct CustodyRecord
{
    CustodyQuery query;
    std::string origin;
    std::int64_t ledgerSize = 0;
    std::vector<Assignment> intervals;
    std::vector<Event> events;             // in the period, in number order, each one read whole
    std::vector<std::int64_t> unreadable;  // events of the ledger that could not be read
    EvidenceReport verification;           // the whole ledger, as verifyEvidence found it
    std::optional<JudgedCheckpoint> checkpoint; // the newest trusted one, which the proofs are against
    std::string checkpointNote;            // it as one signed note, every signature included
    std::vector<VerifierKey> signerKeys;   // the trusted keys whose signature on it verified
    std::vector<EventProof> proofs;        // one per event, in the same order
    // "event 12: why", for each listed event that has no proof that checks.
    std::vector<std::string> unproven;

    // The ledger verified and every listed event is proved in the signed ledger.
    bool sound() const { return verification.intact && unproven.empty() && unreadable.empty(); }
    // What does not hold, on one line: what verifying found, else the events not proved, else the
    // events that cannot be read; empty when sound.
    std::string problem() const;
};

// Everything a custody report of `query` shows, from one snapshot. Each proof made is checked as a
// reader would check it (against the policy's keys) before it is kept.
CustodyRecord gatherCustody(const LedgerSnapshot& snapshot, const CustodyQuery& query, const VerifyPolicy& policy);

} // namespace orv::ledger
