#include "ledger/custody.h"

#include "ledger/checkpoint.h"

#include <algorithm>

namespace orv::ledger {
namespace {

// Whether the interval [from, until) reaches into [sinceUtc, untilUtc] (empty bounds: open).
bool overlaps(const Assignment& a, const std::string& sinceUtc, const std::string& untilUtc)
{
    const bool startsInTime = untilUtc.empty() || a.fromUtc <= untilUtc;
    const bool endsInTime = sinceUtc.empty() || a.untilUtc.empty() || a.untilUtc > sinceUtc;
    return startsInTime && endsInTime;
}

// The trusted keys whose signature or cosignature on `judged` verified, as the key ring holds them.
std::vector<VerifierKey> keysThatSigned(const JudgedCheckpoint& judged, const VerifyPolicy& policy)
{
    std::vector<VerifierKey> keys;
    const auto take = [&](const KeyRing& ring, const std::vector<std::string>& labels) {
        for (const VerifierKey& k : ring.keys) {
            const bool signedIt = std::find(labels.begin(), labels.end(), keyLabel(k.name, k.id)) != labels.end();
            if (signedIt && std::find(keys.begin(), keys.end(), k) == keys.end()) {
                keys.push_back(k);
            }
        }
    };
    take(policy.stations, judged.signedBy);
    take(policy.witnesses, judged.cosignedBy);
    return keys;
}

} // namespace

std::string CustodyRecord::problem() const
{
    if (!verification.problem.empty()) {
        return oneLine(verification.problem);
    }
    if (!unproven.empty()) {
        return std::to_string(unproven.size()) + " events listed are not in the signed ledger (" + unproven.front() +
               ")";
    }
    return unreadable.empty() ? std::string() : "events of the ledger cannot be read";
}

bool custodyMatches(const Event& event, const CustodyQuery& query)
{
    if (!query.deviceId.empty() && event.deviceId != query.deviceId) {
        return false;
    }
    if (!query.officerId.empty() && event.officerBefore != query.officerId && event.officerAfter != query.officerId) {
        return false;
    }
    return (query.sinceUtc.empty() || event.timeUtc >= query.sinceUtc) &&
           (query.untilUtc.empty() || event.timeUtc <= query.untilUtc);
}

std::vector<Assignment> custodyIntervals(const std::vector<Event>& events, const CustodyQuery& query)
{
    std::vector<Assignment> intervals;
    for (Assignment& a : assignmentHistory(events)) {
        const bool asked = query.deviceId.empty() ? a.officerId == query.officerId : a.deviceId == query.deviceId;
        if (asked && overlaps(a, query.sinceUtc, query.untilUtc)) {
            intervals.push_back(std::move(a));
        }
    }
    return intervals;
}

CustodyRecord gatherCustody(const LedgerSnapshot& snapshot, const CustodyQuery& query, const VerifyPolicy& policy)
{
    CustodyRecord record;
    record.query = query;
    record.origin = snapshot.origin;
    record.ledgerSize = static_cast<std::int64_t>(snapshot.events.size());
    record.verification = verifyEvidence(snapshot, policy);

    std::vector<Event> readable;
    readable.reserve(snapshot.events.size());
    for (const Event& e : snapshot.events) {
        if (!e.unreadable.empty()) {
            record.unreadable.push_back(e.number);
            continue;
        }
        readable.push_back(e);
        if (custodyMatches(e, query)) {
            record.events.push_back(e);
        }
    }
    record.intervals = custodyIntervals(readable, query);

    std::vector<std::int64_t> numbers;
    numbers.reserve(record.events.size());
    for (const Event& e : record.events) {
        numbers.push_back(e.number);
    }
    EventProofs proved = proveEvents(snapshot, policy.stations, policy.witnesses, numbers);
    record.checkpoint = std::move(proved.checkpoint);
    if (record.checkpoint) {
        record.checkpointNote = noteMessage(Note{record.checkpoint->text, record.checkpoint->signatures});
        record.signerKeys = keysThatSigned(*record.checkpoint, policy);
    }
    record.proofs = std::move(proved.proofs);
    for (EventProof& p : record.proofs) {
        if (p.proof) {
            // What goes in the report is what a reader's check accepts, checked here the same way.
            const ProofCheck check = checkProof(*p.proof, policy.stations, policy.witnesses);
            if (!check.valid) {
                p.problem = check.problem;
                p.proof.reset();
            }
        }
        if (!p.proof) {
            record.unproven.push_back("event " + std::to_string(p.number) + ": " + p.problem);
        }
    }
    return record;
}

} // namespace orv::ledger
