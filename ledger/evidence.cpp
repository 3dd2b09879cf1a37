#include "ledger/evidence.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace orv::ledger {
namespace {

std::string plural(std::int64_t n, std::string_view one, std::string_view many)
{
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

void addUnique(std::vector<std::string>& list, const std::string& item)
{
    if (std::find(list.begin(), list.end(), item) == list.end()) {
        list.push_back(item);
    }
}

// The leaf hashes of the events as long as they are numbered 1, 2, ... and readable.
std::vector<Hash> leavesOf(const std::vector<Event>& events)
{
    std::vector<Hash> leaves;
    leaves.reserve(events.size());
    for (const Event& e : events) {
        if (e.number != static_cast<std::int64_t>(leaves.size()) + 1 || !e.unreadable.empty()) {
            break;
        }
        leaves.push_back(leafHash(canonicalForm(e)));
    }
    return leaves;
}

// One checkpoint body with every signature the ledger holds for it.
struct MergedCheckpoint
{
    JudgedCheckpoint judged;
    std::vector<std::int64_t> rows; // ids
};

// The stored rows grouped by what they sign, judged against the keys; rows that are no checkpoint
// of this ledger go to `bad` with why.
std::vector<MergedCheckpoint> mergeCheckpoints(const LedgerSnapshot& snapshot, const KeyRing& stations,
                                               const KeyRing& witnesses,
                                               std::vector<std::pair<const StoredCheckpoint*, std::string>>* bad)
{
    std::vector<MergedCheckpoint> merged;
    for (const StoredCheckpoint& row : snapshot.checkpoints) {
        std::string problem;
        std::optional<JudgedCheckpoint> judged =
            judgeCheckpoint(row.note, snapshot.origin, stations, witnesses, &problem);
        if (judged && static_cast<std::int64_t>(judged->checkpoint.size) != row.size) {
            problem = "it is filed as a checkpoint of " + std::to_string(row.size) + " events but its note is of " +
                      std::to_string(judged->checkpoint.size);
            judged.reset();
        }
        if (!judged) {
            if (bad) {
                bad->emplace_back(&row, problem);
            }
            continue;
        }
        const auto same = std::find_if(merged.begin(), merged.end(),
                                       [&](const MergedCheckpoint& m) { return m.judged.text == judged->text; });
        if (same == merged.end()) {
            merged.push_back({std::move(*judged), {row.id}});
            continue;
        }
        JudgedCheckpoint& into = same->judged;
        same->rows.push_back(row.id);
        for (const NoteSignature& s : judged->signatures) {
            if (std::find(into.signatures.begin(), into.signatures.end(), s) == into.signatures.end()) {
                into.signatures.push_back(s);
            }
        }
        for (const std::string& k : judged->signedBy) {
            addUnique(into.signedBy, k);
        }
        for (std::size_t i = 0; i < judged->cosignedBy.size(); ++i) {
            if (std::find(into.cosignedBy.begin(), into.cosignedBy.end(), judged->cosignedBy[i]) ==
                into.cosignedBy.end()) {
                into.cosignedBy.push_back(judged->cosignedBy[i]);
                into.cosignedAt.push_back(judged->cosignedAt[i]);
            }
        }
        for (const std::string& k : judged->invalid) {
            addUnique(into.invalid, k);
        }
        for (const std::string& k : judged->unknown) {
            addUnique(into.unknown, k);
        }
    }
    std::stable_sort(merged.begin(), merged.end(), [](const MergedCheckpoint& a, const MergedCheckpoint& b) {
        return a.judged.checkpoint.size < b.judged.checkpoint.size;
    });
    return merged;
}

// A claim about the ledger's first `size` events: their root (and, from a witness file, the chain
// hash of the last), and who made it.
struct Claim
{
    std::int64_t size = 0;
    Hash root{};
    std::optional<std::string> chainHash;
    std::string who;
};

} // namespace

std::string JudgedCheckpoint::signers() const
{
    std::vector<std::string> all = signedBy;
    for (const std::string& w : cosignedBy) {
        all.push_back("witness " + w);
    }
    return commaList(all);
}

std::optional<JudgedCheckpoint> judgeCheckpoint(std::string_view note, std::string_view origin, const KeyRing& stations,
                                                const KeyRing& witnesses, std::string* problem)
{
    std::string why;
    const std::optional<Note> parsed = parseNote(note, why);
    if (!parsed) {
        if (problem) {
            *problem = "it is no signed note (" + why + ")";
        }
        return std::nullopt;
    }
    const std::optional<Checkpoint> checkpoint = parseCheckpoint(parsed->text, why);
    if (!checkpoint) {
        if (problem) {
            *problem = "its text is no checkpoint (" + why + ")";
        }
        return std::nullopt;
    }
    if (checkpoint->origin != origin) {
        if (problem) {
            *problem = "it is a checkpoint of another ledger (" + checkpoint->origin + ")";
        }
        return std::nullopt;
    }
    JudgedCheckpoint judged;
    judged.checkpoint = *checkpoint;
    judged.text = parsed->text;
    judged.signatures = parsed->signatures;
    for (const NoteSignature& s : parsed->signatures) {
        const std::string label = keyLabel(s.name, s.keyId);
        if (const VerifierKey* key = stations.find(s.name, s.keyId)) {
            if (checkSignature(*key, parsed->text, s) == SignatureCheck::Verified) {
                addUnique(judged.signedBy, label);
            } else {
                addUnique(judged.invalid, label);
            }
        } else if (const VerifierKey* witness = witnesses.find(s.name, s.keyId)) {
            std::uint64_t at = 0;
            if (checkSignature(*witness, parsed->text, s, &at) == SignatureCheck::Verified) {
                if (std::find(judged.cosignedBy.begin(), judged.cosignedBy.end(), label) == judged.cosignedBy.end()) {
                    judged.cosignedBy.push_back(label);
                    judged.cosignedAt.push_back(at);
                }
            } else {
                addUnique(judged.invalid, label);
            }
        } else {
            addUnique(judged.unknown, label);
        }
    }
    return judged;
}

EvidenceReport verifyEvidence(const LedgerSnapshot& snapshot, const VerifyPolicy& policy)
{
    EvidenceReport report;
    report.chain = verifyChain(snapshot);
    const auto broken = [&](std::int64_t event, const std::string& problem) {
        report.findings.push_back("broken at event " + std::to_string(event) + ": " + problem);
        if (report.intact || event < report.firstBroken) {
            report.firstBroken = event;
            report.problem = problem;
        }
        report.intact = false;
    };
    const std::int64_t held = static_cast<std::int64_t>(snapshot.events.size());
    if (report.chain.intact) {
        report.findings.push_back("the chain: " + plural(report.chain.eventsChecked, "event", "events") +
                                  ", each following the one before and matching its hash");
    } else {
        broken(report.chain.firstBroken, report.chain.problem);
    }
    const std::vector<Hash> leaves = leavesOf(snapshot.events);
    // A ledger put in the place of the one this station recorded to is said first: everything
    // else found in it follows from that.
    if (policy.witness && !policy.place.empty()) {
        const WitnessFile& w = *policy.witness;
        if (const std::optional<std::string> seen = w.originAt(policy.place); seen && *seen != snapshot.origin) {
            const std::u8string file = w.path().u8string();
            broken(1, "the ledger at " + policy.place + " is not the one this station recorded to: it was " + *seen +
                          " (" + std::string(file.begin(), file.end()) + ", line " +
                          std::to_string(w.placeLine(policy.place)) + ") and is now " + snapshot.origin +
                          ", another ledger put in its place");
        }
    }

    std::vector<Claim> claims;
    std::vector<std::pair<const StoredCheckpoint*, std::string>> bad;
    const std::vector<MergedCheckpoint> merged = mergeCheckpoints(snapshot, policy.stations, policy.witnesses, &bad);
    for (const auto& [row, why] : bad) {
        broken(std::max<std::int64_t>(row->size, 1), "the ledger's checkpoint row " + std::to_string(row->id) +
                                                         " is not a checkpoint of this ledger: " + why);
    }
    std::map<std::string, std::int64_t> cosignedUpTo;
    std::vector<std::string> signers;
    for (const MergedCheckpoint& m : merged) {
        const JudgedCheckpoint& j = m.judged;
        const std::int64_t n = static_cast<std::int64_t>(j.checkpoint.size);
        const std::string name = "the checkpoint of " + plural(n, "event", "events");
        if (!j.invalid.empty()) {
            broken(std::max<std::int64_t>(n, 1), "the signature of " + commaList(j.invalid) + " on " + name +
                                                     " does not verify: the checkpoint was altered after it was "
                                                     "signed");
            continue;
        }
        if (!j.trusted()) {
            broken(std::max<std::int64_t>(n, 1),
                   name + " is signed only by keys not trusted here (unknown signer: " + commaList(j.unknown) +
                       "); if the station is one of yours, add its key to the trusted "
                       "keys");
            continue;
        }
        ++report.checkpoints;
        report.signedUpTo = std::max(report.signedUpTo, n);
        for (const std::string& s : j.signedBy) {
            addUnique(signers, s);
        }
        for (const std::string& w : j.cosignedBy) {
            cosignedUpTo[w] = std::max(cosignedUpTo[w], n);
        }
        claims.push_back({n, j.checkpoint.root, std::nullopt, name + " signed by " + j.signers()});
    }

    // This station's own record, which no one but its account could have changed.
    if (policy.witness) {
        const WitnessFile& w = *policy.witness;
        const std::string file = [&] {
            const std::u8string text = w.path().u8string();
            return std::string(text.begin(), text.end());
        }();
        for (const TreeRecord* t : w.trees(snapshot.origin)) {
            ++report.witnessRecordsChecked;
            const std::string who = "the checkpoint of " + plural(t->size, "event", "events") +
                                    " this station signed (" + file + ", line " + std::to_string(t->line) + ")";
            claims.push_back({t->size, t->root, t->chainHash, who});
            const bool published = std::any_of(snapshot.checkpoints.begin(), snapshot.checkpoints.end(),
                                               [&](const StoredCheckpoint& c) { return c.note == t->note; });
            if (!published) {
                broken(std::max<std::int64_t>(t->size, 1), who + " is missing from the ledger's checkpoints: it was "
                                                                 "removed (or this station has not published it yet)");
            }
        }
        if (report.witnessRecordsChecked > 0) {
            report.findings.push_back(
                "this station's witness file: " + plural(report.witnessRecordsChecked, "checkpoint", "checkpoints") +
                " it signed, each compared with the ledger");
        }
    }

    // Every claim against the events: the ledger must still reach it and hash to its root.
    std::stable_sort(claims.begin(), claims.end(), [](const Claim& a, const Claim& b) { return a.size < b.size; });
    CompactRange range;
    std::int64_t lastGood = 0;
    for (const Claim& c : claims) {
        if (c.size > held) {
            broken(held + 1, "the ledger holds " + plural(held, "event", "events") + " but " + c.who +
                                 " says it held " + std::to_string(c.size) + ": events " + std::to_string(held + 1) +
                                 " to " + std::to_string(c.size) + " were removed");
            continue;
        }
        if (c.size > static_cast<std::int64_t>(leaves.size())) {
            continue; // the chain is broken before it: said above
        }
        while (static_cast<std::int64_t>(range.size()) < c.size) {
            range.append(leaves[range.size()]);
        }
        const bool rootMatches = range.root() == c.root;
        const bool chainMatches =
            !c.chainHash || c.size == 0 || snapshot.events[static_cast<std::size_t>(c.size - 1)].hash == *c.chainHash;
        if (rootMatches && chainMatches) {
            lastGood = std::max(lastGood, c.size);
            continue;
        }
        broken(lastGood + 1, "the ledger's first " + plural(c.size, "event", "events") + " are not those in " + c.who +
                                 ": " +
                                 (lastGood + 1 == c.size ? "event " + std::to_string(c.size) + " was changed"
                                                         : "something in events " + std::to_string(lastGood + 1) +
                                                               " to " + std::to_string(c.size) + " was changed") +
                                 " after it was signed, even if its hashes were computed again");
    }
    if (report.checkpoints > 0) {
        report.findings.push_back(plural(report.checkpoints, "checkpoint", "checkpoints") + " signed by " +
                                  commaList(signers) + ", the newest of " + plural(report.signedUpTo, "event", "events") +
                                  (report.intact ? "; the ledger matches each" : ""));
    }

    // The witnesses: who cosigned how far.
    std::vector<std::int64_t> reach;
    for (const auto& [name, upTo] : cosignedUpTo) {
        report.witnesses.push_back(name);
        reach.push_back(upTo);
        report.findings.push_back("witness " + name + " cosigned the ledger up to event " + std::to_string(upTo));
    }
    std::sort(reach.rbegin(), reach.rend());
    const std::size_t need = static_cast<std::size_t>(std::max(policy.minWitnesses, 1));
    report.witnessedUpTo = reach.size() >= need ? reach[need - 1] : 0;
    if (policy.minWitnesses > 0 && reach.size() < need) {
        // No event is wrong: the ledger lacks the witnesses the verifier asks for.
        const std::string problem = "only " + std::to_string(reach.size()) + " of the " +
                                    std::to_string(policy.minWitnesses) +
                                    " trusted witnesses required have cosigned this ledger";
        report.findings.push_back("not witnessed enough: " + problem);
        if (report.intact) {
            report.problem = problem;
        }
        report.intact = false;
    }
    return report;
}

std::optional<JudgedCheckpoint> trustedCheckpoint(const LedgerSnapshot& snapshot, const KeyRing& stations,
                                                  const KeyRing& witnesses, std::int64_t size, std::string& error)
{
    const std::vector<MergedCheckpoint> merged = mergeCheckpoints(snapshot, stations, witnesses, nullptr);
    const MergedCheckpoint* chosen = nullptr;
    for (const MergedCheckpoint& m : merged) {
        const std::int64_t n = static_cast<std::int64_t>(m.judged.checkpoint.size);
        if (m.judged.trusted() &&
            (size == 0 ? (!chosen || n >= static_cast<std::int64_t>(chosen->judged.checkpoint.size)) : n == size)) {
            chosen = &m;
        }
    }
    if (!chosen) {
        error = size == 0 ? "the ledger holds no checkpoint signed by a trusted key"
                          : "the ledger holds no checkpoint of " + plural(size, "event", "events") +
                                " signed by a trusted key";
        return std::nullopt;
    }
    return chosen->judged;
}

std::optional<std::string> mergedCheckpoint(const LedgerSnapshot& snapshot, const KeyRing& stations,
                                            const KeyRing& witnesses, std::int64_t size, std::string& error)
{
    const std::optional<JudgedCheckpoint> chosen = trustedCheckpoint(snapshot, stations, witnesses, size, error);
    if (!chosen) {
        return std::nullopt;
    }
    return noteMessage(Note{chosen->text, chosen->signatures});
}

EventProofs proveEvents(const LedgerSnapshot& snapshot, const KeyRing& stations, const KeyRing& witnesses,
                        std::span<const std::int64_t> numbers)
{
    EventProofs out;
    out.proofs.resize(numbers.size());
    const auto failAll = [&](const std::string& why) {
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            out.proofs[i].number = numbers[i];
            out.proofs[i].problem = why;
        }
        return out;
    };
    std::string error;
    out.checkpoint = trustedCheckpoint(snapshot, stations, witnesses, 0, error);
    if (!out.checkpoint) {
        return failAll(error);
    }
    const auto size = static_cast<std::int64_t>(out.checkpoint->checkpoint.size);
    std::vector<Hash> leaves = leavesOf(snapshot.events);
    if (static_cast<std::int64_t>(leaves.size()) < size) {
        return failAll("the ledger is broken before event " + std::to_string(size) + ": run ledger verify");
    }
    leaves.resize(static_cast<std::size_t>(size));
    const MerkleTree tree(std::move(leaves));
    if (tree.root() != out.checkpoint->checkpoint.root) {
        return failAll("the ledger's first " + plural(size, "event", "events") +
                       " no longer match their signed checkpoint: run ledger verify");
    }
    const std::string note = noteMessage(Note{out.checkpoint->text, out.checkpoint->signatures});
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        EventProof& p = out.proofs[i];
        p.number = numbers[i];
        if (p.number < 1 || p.number > static_cast<std::int64_t>(snapshot.events.size())) {
            p.problem = "there is no event " + std::to_string(p.number) + " in the ledger";
        } else if (p.number > size) {
            p.problem = "event " + std::to_string(p.number) +
                        " is not covered by a signed checkpoint yet (the newest covers " +
                        plural(size, "event", "events") + ")";
        } else {
            TlogProof& proof = p.proof.emplace();
            proof.extra = canonicalForm(snapshot.events[static_cast<std::size_t>(p.number - 1)]);
            proof.index = static_cast<std::uint64_t>(p.number - 1);
            proof.path = tree.inclusionProof(proof.index);
            proof.checkpoint = note;
        }
    }
    return out;
}

std::optional<TlogProof> proveEvent(const LedgerSnapshot& snapshot, const KeyRing& stations, const KeyRing& witnesses,
                                    std::int64_t number, std::string& error)
{
    EventProofs proved = proveEvents(snapshot, stations, witnesses, std::span(&number, 1));
    if (!proved.proofs.front().proof) {
        error = proved.proofs.front().problem;
    }
    return std::move(proved.proofs.front().proof);
}

} // namespace orv::ledger
