// Arbitrary bytes as each text form of the transparency log: a signed note, a verifier key, a
// signing key, a checkpoint, a tlog-proof, a key ring, base64; and as the numbers and hashes of a
// proof. Beyond not crashing, checks what a court's expert relies on:
// - every text that is read writes back as exactly the same bytes (one text for each value, so
//   nothing signed can be re-read as something else);
// - a signature or cosignature verifies for the text it was made over and for no text one byte
//   away, nor at another time;
// - a proof that verifies names a leaf inside its tree, and an old tree no larger than the new;
// - an event's canonical form that is read writes back as exactly the same bytes, and a proof
//   read as a ledger event's is valid only with such a form numbered by its place.

#include "ledger/checkpoint.h"
#include "ledger/ledger.h"
#include "ledger/merkle.h"
#include "ledger/proof_reading.h"
#include "ledger/signed_note.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace orv::ledger;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "tlog_fuzz: %s\n", what);
        std::abort();
    }
}

const SignerKey& fixedKey(KeyType type)
{
    static const auto make = [](const char* name, KeyType t, char seed) {
        std::string error;
        auto key = SignerKey::fromSeed(name, t, std::string(32, seed), error);
        check(key.has_value(), "no fixed key");
        return *key;
    };
    static const SignerKey log = make("fuzz.example/log", KeyType::Ed25519, 'f');
    static const SignerKey witness = make("fuzz.example/witness", KeyType::Cosignature, 'w');
    return type == KeyType::Ed25519 ? log : witness;
}

std::string oneByteChanged(std::string_view text, std::size_t at)
{
    std::string changed(text);
    if (changed.empty()) {
        changed = "x";
    } else {
        changed[at % changed.size()] ^= static_cast<char>(1u << (at % 8));
    }
    return changed;
}

void checkSignatures(std::string_view text)
{
    const SignerKey& log = fixedKey(KeyType::Ed25519);
    const NoteSignature signature = signNoteText(log, text);
    check(checkSignature(log.verifier(), text, signature) == SignatureCheck::Verified, "our signature fails");
    check(checkSignature(log.verifier(), oneByteChanged(text, text.size() * 7), signature) == SignatureCheck::Invalid,
          "a signature verifies for another text");

    const SignerKey& witness = fixedKey(KeyType::Cosignature);
    std::uint64_t time = 0;
    std::memcpy(&time, text.data(), std::min(text.size(), sizeof time));
    time &= 0x7FFFFFFFFFFFFFFFu;
    const NoteSignature cosignature = cosignCheckpoint(witness, text, time);
    std::uint64_t seen = 0;
    check(checkSignature(witness.verifier(), text, cosignature, &seen) == SignatureCheck::Verified && seen == time,
          "our cosignature fails");
    check(checkSignature(witness.verifier(), oneByteChanged(text, time), cosignature) == SignatureCheck::Invalid,
          "a cosignature verifies for another text");
    NoteSignature retimed = cosignature;
    retimed.signature[7] ^= 1;
    check(checkSignature(witness.verifier(), text, retimed) == SignatureCheck::Invalid,
          "a cosignature verifies at another time");
    VerifierKey asNoteKey = witness.verifier();
    asNoteKey.type = KeyType::Ed25519;
    check(checkSignature(asNoteKey, text, cosignature) == SignatureCheck::Invalid,
          "a cosignature passes for a note signature");
}

void checkNote(std::string_view input)
{
    std::string error;
    const auto note = parseNote(input, error);
    if (!note) {
        check(!error.empty(), "a note refused without a reason");
        return;
    }
    check(noteMessage(*note) == input, "a note does not write back as read");
    check(!note->signatures.empty() && note->signatures.size() <= 100, "a note read with 0 or over 100 signatures");
    const SignerKey& log = fixedKey(KeyType::Ed25519);
    for (const NoteSignature& signature : note->signatures) {
        if (checkSignature(log.verifier(), note->text, signature) == SignatureCheck::Verified) {
            check(checkSignature(log.verifier(), oneByteChanged(note->text, input.size()), signature) ==
                      SignatureCheck::Invalid,
                  "a note's signature verifies for another text");
        }
    }
    if (const auto checkpoint = parseCheckpoint(note->text, error)) {
        check(checkpointText(*checkpoint) == note->text, "a signed checkpoint does not write back as read");
    }
}

void checkKeys(std::string_view input)
{
    std::string error;
    if (const auto key = parseVerifierKey(input, error)) {
        check(verifierKeyText(*key) == input, "a verifier key does not write back as read");
        check(isValidKeyName(key->name) && key->publicKey.size() == 32, "a verifier key read with a bad part");
    }
    if (const auto key = SignerKey::parse(input, error)) {
        check(key->text() == input, "a signing key does not write back as read");
        const NoteSignature signature = signNoteText(*key, input);
        const SignatureCheck expected =
            key->type() == KeyType::Ed25519 ? SignatureCheck::Verified : SignatureCheck::Invalid;
        check(checkSignature(key->verifier(), input, signature) == expected, "a read key does not sign");
    }
    if (const auto ring = parseKeyRing(input, error)) {
        for (const VerifierKey& key : ring->keys) {
            std::string again;
            check(parseVerifierKey(verifierKeyText(key), again) == key, "a key ring holds a key that does not read");
            check(ring->find(key.name, key.id) != nullptr, "a key ring does not find its own key");
        }
    }
}

void checkProofText(std::string_view input)
{
    std::string error;
    if (const auto checkpoint = parseCheckpoint(input, error)) {
        check(checkpointText(*checkpoint) == input, "a checkpoint does not write back as read");
    }
    const auto proof = parseProof(input, error);
    if (!proof) {
        return;
    }
    check(proofText(*proof) == input, "a proof does not write back as read");
    KeyRing trusted;
    trusted.add(fixedKey(KeyType::Ed25519).verifier());
    KeyRing witnesses;
    witnesses.add(fixedKey(KeyType::Cosignature).verifier());
    const ProofCheck result = checkProof(*proof, trusted, witnesses);
    check(result.valid == result.problem.empty(), "a proof checked without a reason, or refused with none");
    check(result.valid == (result.fault == ProofCheck::Fault::None), "a proof's fault does not match its verdict");
    if (result.valid) {
        check(proof->index < result.checkpoint.size && !result.signedBy.empty(), "a valid proof outside its tree");
    }
    const ProofReading reading = readProof(input, trusted, witnesses);
    check(reading.valid == reading.problem.empty(), "a proof read without a reason, or refused with none");
    check(!reading.valid || (result.valid && reading.event && *proof->extra == canonicalForm(*reading.event) &&
                             static_cast<std::uint64_t>(reading.event->number) == proof->index + 1),
          "a proof read as valid is not of an event numbered by its place");
}

void checkCanonicalForm(std::string_view input)
{
    std::string error;
    if (const auto event = parseCanonicalForm(input, error)) {
        check(canonicalForm(*event) == input, "a canonical form does not write back as read");
    } else {
        check(!error.empty(), "a canonical form refused without a reason");
    }
}

void checkBase64(std::string_view input)
{
    if (const auto bytes = base64Decode(input)) {
        check(base64Encode(*bytes) == input, "base64 that is not the one encoding of its bytes");
    }
    check(base64Decode(base64Encode(input)) == std::string(input), "base64 does not decode to its bytes");
}

// The first 16 bytes are two sizes, the rest hashes: the verifiers must stay within their input
// and never accept what no tree can be.
void checkVerifiers(std::string_view input)
{
    if (input.size() < 16) {
        return;
    }
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    std::memcpy(&a, input.data(), 8);
    std::memcpy(&b, input.data() + 8, 8);
    // Small sizes most of the time, where a proof of a few hashes can be right.
    if ((a >> 63) == 0) {
        a &= 0xFF;
        b &= 0xFF;
    }
    std::vector<Hash> hashes;
    for (std::size_t at = 16; at + 32 <= input.size(); at += 32) {
        Hash h{};
        std::memcpy(h.data(), input.data() + at, 32);
        hashes.push_back(h);
    }
    if (hashes.size() < 2) {
        return;
    }
    const std::span<const Hash> proof(hashes.data() + 2, hashes.size() - 2);
    if (verifyInclusion(a, b, hashes[0], proof, hashes[1])) {
        check(a < b, "an inclusion proof verifies outside its tree");
    }
    if (verifyConsistency(a, b, hashes[0], hashes[1], proof)) {
        check(a <= b && (a > 0 || b == 0), "a consistency proof verifies from a larger or empty tree");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    checkNote(input);
    checkKeys(input);
    checkProofText(input);
    checkCanonicalForm(input);
    checkBase64(input);
    checkVerifiers(input);
    checkSignatures(input);
    return 0;
}
