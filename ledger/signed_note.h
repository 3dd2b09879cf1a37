#pragma once
// Signed notes (C2SP signed-note v1.0.0) with Ed25519 keys, and timestamped checkpoint
// cosignatures (C2SP tlog-cosignature v1.0.1): the keys' text forms, signing and checking. The
// keys are OpenSSL's Ed25519 (RFC 8032). Every reader here takes text from outside (a database,
// a file someone handed over) and answers with a value or a specific error, never a guess.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv::ledger {

// RFC 4648 section 4, with padding. Decoding is strict: only the canonical encoding of some bytes
// is accepted (no spaces, no missing or extra padding, no stray bits).
std::string base64Encode(std::string_view bytes);
std::optional<std::string> base64Decode(std::string_view text);

enum class KeyType : std::uint8_t {
    Ed25519 = 0x01,     // signatures over a note's text
    Cosignature = 0x04, // timestamped Ed25519 checkpoint cosignatures (cosignature/v1)
};

// Whether `name` may name a key: non-empty UTF-8 with no Unicode space, no '+' and no control
// character.
bool isValidKeyName(std::string_view name);
// `text` made a valid key name: every character a name may not hold (and every byte that is not
// UTF-8) becomes '_'; an empty text is "_".
std::string keyNameFrom(std::string_view text);

// The first four bytes, big-endian, of SHA-256(name || 0x0A || type || publicKey).
std::uint32_t keyIdOf(std::string_view name, KeyType type, std::string_view publicKey);

// A verifier key: "name+hexid+base64(type || public key)".
struct VerifierKey
{
    std::string name;
    std::uint32_t id = 0;
    KeyType type = KeyType::Ed25519;
    std::string publicKey; // 32 bytes

    bool operator==(const VerifierKey&) const = default;
};
// Refuses a name the note rules forbid, an id that is not the one the key and name give, a type
// other than the two above, or a key that is not 32 bytes.
std::optional<VerifierKey> parseVerifierKey(std::string_view text, std::string& error);
std::string verifierKeyText(const VerifierKey& key);
// SHA-256 of the public key, as 64 hex digits: what a person compares over the telephone.
std::string keyFingerprint(const VerifierKey& key);
// "name+1a2b3c4d": a key as messages name it.
std::string keyLabel(std::string_view name, std::uint32_t id);
// "a, b, c": keys, witnesses or events as messages list them.
std::string commaList(const std::vector<std::string>& items);

// A key that signs. Its text form is "PRIVATE+KEY+name+hexid+base64(type || 32-byte seed)".
class SignerKey
{
public:
    // A new random key; nullopt with `error` when the name is not a valid key name or OpenSSL
    // cannot make one.
    static std::optional<SignerKey> generate(std::string name, KeyType type, std::string& error);
    static std::optional<SignerKey> parse(std::string_view text, std::string& error);
    // From a name and the 32-byte seed (RFC 8032's private key).
    static std::optional<SignerKey> fromSeed(std::string name, KeyType type, std::string_view seed, std::string& error);

    std::string text() const;
    VerifierKey verifier() const { return verifier_; }
    const std::string& name() const { return verifier_.name; }
    std::uint32_t id() const { return verifier_.id; }
    KeyType type() const { return verifier_.type; }

    // The 64-byte Ed25519 signature of `message`.
    std::string sign(std::string_view message) const;

private:
    SignerKey() = default;

    std::string seed_;
    VerifierKey verifier_;
};

struct NoteSignature
{
    std::string name;
    std::uint32_t keyId = 0;
    std::string signature; // the bytes after the key id: 64 (Ed25519), 72 (timestamp and Ed25519)

    bool operator==(const NoteSignature&) const = default;
};

struct Note
{
    std::string text; // ends with a newline; may hold empty lines
    std::vector<NoteSignature> signatures;
};

// Reads a signed note: its text, the blank line, one or more signature lines
// ("— name base64(keyid || signature)"). Refuses text that is not UTF-8 or holds a control
// character other than newline, a missing blank line, a signature line of another form, a name the
// rules forbid, a signature shorter than its key id, and more than 100 signatures.
std::optional<Note> parseNote(std::string_view message, std::string& error);
// The note as text: its text, a blank line, each signature line.
std::string noteMessage(const Note& note);
// "— name base64(keyid || signature)\n"
std::string signatureLine(const NoteSignature& signature);

// An Ed25519 note signature of `text` by `key` (KeyType::Ed25519).
NoteSignature signNoteText(const SignerKey& key, std::string_view text);
// The cosignature/v1 message: "cosignature/v1\ntime T\n" followed by the checkpoint's note text.
std::string cosignatureMessage(std::string_view checkpointText, std::uint64_t timestamp);
// A cosignature of the checkpoint `checkpointText` by `key` (KeyType::Cosignature) at `timestamp`
// (POSIX seconds).
NoteSignature cosignCheckpoint(const SignerKey& key, std::string_view checkpointText, std::uint64_t timestamp);

enum class SignatureCheck : std::uint8_t {
    Verified,
    Unknown, // the key's name or id is not the signature's: another key made it
    Invalid, // the key's name and id, but the signature does not verify (or is malformed)
};
// Checks `signature` of the note text `text` against `key`: an Ed25519 signature of the text, or
// (KeyType::Cosignature) a cosignature/v1 of it, whose timestamp is given back in `timestamp`.
SignatureCheck checkSignature(const VerifierKey& key, std::string_view text, const NoteSignature& signature,
                              std::uint64_t* timestamp = nullptr);

// Keys that are trusted: read from a file IT hands out, one verifier key a line (what
// `orvctl ledger key` prints first); blank lines and lines starting with '#' are ignored, so is
// anything after the first space of a line.
struct KeyRing
{
    std::vector<VerifierKey> keys;

    // The key with this name and id, if trusted.
    const VerifierKey* find(std::string_view name, std::uint32_t id) const;
    // Adds `key` unless it is already there.
    void add(const VerifierKey& key);
};
// Nullopt with `error` naming the first line that is not a verifier key ("line 3: ...").
std::optional<KeyRing> parseKeyRing(std::string_view text, std::string& error);

} // namespace orv::ledger
