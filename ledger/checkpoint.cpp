// Checkpoints and tlog-proofs as text, and the check of a proof that a person outside IT reads
// the outcome of. A proof is text that anyone may have edited, so its reader keeps the checkpoint
// exactly as it came: the signatures are over those bytes.
#include "ledger/checkpoint.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace orv::ledger {
namespace {

constexpr std::string_view kProofHeader = "c2sp.org/tlog-proof@v1";
constexpr std::string_view kExtraPrefix = "extra ";
constexpr std::string_view kIndexPrefix = "index ";
// No tree of up to 2^64 - 1 leaves needs a longer inclusion proof.
constexpr std::size_t kMaxPathLength = 64;

// Decimal with no leading zeroes ("0" itself excepted), within 64 bits: one text for each number.
std::optional<std::uint64_t> parseDecimal(std::string_view text)
{
    if (text.empty() || (text.size() > 1 && text[0] == '0')) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

// Takes the next line off `rest`, without its newline; false when no newline is left.
bool takeLine(std::string_view& rest, std::string_view& line)
{
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) {
        return false;
    }
    line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    return true;
}

std::string keyLabel(const NoteSignature& signature)
{
    char id[9];
    std::snprintf(id, sizeof id, "%08x", static_cast<unsigned>(signature.keyId));
    return signature.name + '+' + id;
}

ProofCheck refused(ProofCheck check, ProofCheck::Fault fault, std::string problem)
{
    check.valid = false;
    check.fault = fault;
    check.problem = std::move(problem);
    return check;
}

} // namespace

std::string hashBase64(const Hash& hash)
{
    return base64Encode(std::string_view(reinterpret_cast<const char*>(hash.data()), hash.size()));
}

std::optional<Hash> hashFromBase64(std::string_view text)
{
    const auto bytes = base64Decode(text);
    if (!bytes || bytes->size() != Hash().size()) {
        return std::nullopt;
    }
    Hash hash{};
    std::copy(bytes->begin(), bytes->end(), hash.begin());
    return hash;
}

std::string checkpointText(const Checkpoint& checkpoint)
{
    return checkpoint.origin + '\n' + std::to_string(checkpoint.size) + '\n' + hashBase64(checkpoint.root) +
           '\n';
}

std::optional<Checkpoint> parseCheckpoint(std::string_view text, std::string& error)
{
    std::string_view rest = text;
    std::string_view lines[3];
    for (std::string_view& line : lines) {
        if (!takeLine(rest, line)) {
            error = "a checkpoint is three lines, each ending with a newline: origin, tree size and root";
            return std::nullopt;
        }
    }
    Checkpoint checkpoint;
    if (lines[0].empty()) {
        error = "the checkpoint has no origin";
        return std::nullopt;
    }
    checkpoint.origin = std::string(lines[0]);
    const auto size = parseDecimal(lines[1]);
    if (!size) {
        error = "the checkpoint's tree size \"" + std::string(lines[1]) + "\" is not a number without leading zeroes";
        return std::nullopt;
    }
    checkpoint.size = *size;
    const auto root = hashFromBase64(lines[2]);
    if (!root) {
        error = "the checkpoint's root is not the base64 of a 32-byte hash";
        return std::nullopt;
    }
    checkpoint.root = *root;
    if (!rest.empty()) {
        error = "the checkpoint has extension lines, which OrvCamera does not read";
        return std::nullopt;
    }
    return checkpoint;
}

std::string proofText(const TlogProof& proof)
{
    std::string text(kProofHeader);
    text += '\n';
    if (proof.extra) {
        text += kExtraPrefix;
        text += base64Encode(*proof.extra);
        text += '\n';
    }
    text += kIndexPrefix;
    text += std::to_string(proof.index);
    text += '\n';
    for (const Hash& hash : proof.path) {
        text += hashBase64(hash);
        text += '\n';
    }
    text += '\n';
    text += proof.checkpoint;
    return text;
}

std::optional<TlogProof> parseProof(std::string_view text, std::string& error)
{
    std::string_view rest = text;
    std::string_view line;
    if (!takeLine(rest, line) || line != kProofHeader) {
        error = "the proof does not start with the line " + std::string(kProofHeader);
        return std::nullopt;
    }
    TlogProof proof;
    bool more = takeLine(rest, line);
    if (more && line.starts_with(kExtraPrefix)) {
        proof.extra = base64Decode(line.substr(kExtraPrefix.size()));
        if (!proof.extra) {
            error = "the proof's extra line is not base64";
            return std::nullopt;
        }
        more = takeLine(rest, line);
    }
    if (!more || !line.starts_with(kIndexPrefix)) {
        error = "the proof has no index line";
        return std::nullopt;
    }
    const auto index = parseDecimal(line.substr(kIndexPrefix.size()));
    if (!index) {
        error = "the proof's index \"" + std::string(line.substr(kIndexPrefix.size())) +
                "\" is not a number without leading zeroes";
        return std::nullopt;
    }
    proof.index = *index;
    while (true) {
        if (!takeLine(rest, line)) {
            error = "the proof has no blank line before its checkpoint";
            return std::nullopt;
        }
        if (line.empty()) {
            break;
        }
        const auto hash = hashFromBase64(line);
        if (!hash) {
            error = "hash " + std::to_string(proof.path.size() + 1) + " of the proof is not the base64 of 32 bytes";
            return std::nullopt;
        }
        if (proof.path.size() == kMaxPathLength) {
            error = "the proof has more hashes than any tree needs";
            return std::nullopt;
        }
        proof.path.push_back(*hash);
    }
    proof.checkpoint = std::string(rest);
    const auto note = parseNote(proof.checkpoint, error);
    if (!note) {
        error = "the proof's checkpoint is not a signed note: " + error;
        return std::nullopt;
    }
    if (!parseCheckpoint(note->text, error)) {
        error = "the proof's checkpoint is signed but is not a checkpoint: " + error;
        return std::nullopt;
    }
    return proof;
}

ProofCheck checkProof(const TlogProof& proof, const KeyRing& trusted, const KeyRing& witnesses)
{
    ProofCheck check;
    std::string error;
    const auto note = parseNote(proof.checkpoint, error);
    if (!note) {
        return refused(std::move(check), ProofCheck::Fault::Unreadable, "the checkpoint cannot be read: " + error);
    }
    const auto checkpoint = parseCheckpoint(note->text, error);
    if (!checkpoint) {
        return refused(std::move(check), ProofCheck::Fault::Unreadable, "the checkpoint cannot be read: " + error);
    }
    check.checkpoint = *checkpoint;

    std::string signers;
    for (const NoteSignature& signature : note->signatures) {
        signers += (signers.empty() ? "" : ", ") + keyLabel(signature);
        // A trusted key is looked for among the log's keys and a witness among the witnesses
        // only: a key of the other type under the same name has another id anyway.
        const VerifierKey* key = trusted.find(signature.name, signature.keyId);
        if (key && key->type == KeyType::Ed25519) {
            if (checkSignature(*key, note->text, signature) != SignatureCheck::Verified) {
                return refused(std::move(check), ProofCheck::Fault::BadSignature,
                               "the signature of " + keyLabel(signature) +
                                   " does not verify: the checkpoint was altered");
            }
            check.signedBy.push_back(keyLabel(signature));
        }
        const VerifierKey* witness = witnesses.find(signature.name, signature.keyId);
        if (witness && witness->type == KeyType::Cosignature) {
            if (checkSignature(*witness, note->text, signature) != SignatureCheck::Verified) {
                return refused(std::move(check), ProofCheck::Fault::BadSignature,
                               "the cosignature of witness " + keyLabel(signature) +
                                   " does not verify: the checkpoint was altered after it was witnessed");
            }
            check.cosignedBy.push_back(keyLabel(signature));
        }
    }
    if (check.signedBy.empty()) {
        return refused(std::move(check), ProofCheck::Fault::Untrusted,
                       "the checkpoint is not signed by any trusted key (signed by: " + signers + ")");
    }

    if (!proof.extra) {
        return refused(std::move(check), ProofCheck::Fault::NoEvent, "the proof does not carry the event it is about");
    }
    if (proof.index >= checkpoint->size) {
        return refused(std::move(check), ProofCheck::Fault::NotIncluded,
                       "the event is not in the signed tree: its position " + std::to_string(proof.index) +
                           " is past the checkpoint's " + std::to_string(checkpoint->size) + " events");
    }
    if (!verifyInclusion(proof.index, checkpoint->size, leafHash(*proof.extra), proof.path, checkpoint->root)) {
        return refused(std::move(check), ProofCheck::Fault::NotIncluded,
                       "the event is not in the signed tree: the proof does not lead to the checkpoint's root");
    }
    check.valid = true;
    return check;
}

} // namespace orv::ledger
