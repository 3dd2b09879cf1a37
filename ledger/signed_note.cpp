// Signed notes, their keys and cosignatures. Everything read here may come from someone who wants
// it misread, so every reader is strict: one text form for each value, no second way to write
// the same thing that a re-serialisation would not give back.
#include "ledger/signed_note.h"
#include "ledger/tlog_digest.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <limits>
#include <memory>

namespace orv::ledger {
namespace {

constexpr std::string_view kEmDashSpace = "\xE2\x80\x94 ";
constexpr std::string_view kPrivateKeyPrefix = "PRIVATE+KEY+";
constexpr std::size_t kMaxSignatures = 100;
constexpr std::size_t kKeyBytes = 32;
constexpr std::size_t kSignatureBytes = 64;
constexpr std::size_t kTimestampBytes = 8;

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Value(char c)
{
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

// The code point at text[i], advancing i past it; -1 for bytes that are not UTF-8 (overlong
// forms, surrogates and values past U+10FFFF included).
long nextCodePoint(std::string_view text, std::size_t& i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t length = 0;
    long cp = 0;
    long least = 0;
    if (lead >= 0xC0 && lead < 0xE0) {
        length = 2;
        cp = lead & 0x1F;
        least = 0x80;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        length = 3;
        cp = lead & 0x0F;
        least = 0x800;
    } else if (lead >= 0xF0 && lead < 0xF8) {
        length = 4;
        cp = lead & 0x07;
        least = 0x10000;
    } else {
        return -1;
    }
    if (text.size() - i < length) {
        return -1;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            return -1;
        }
        cp = cp << 6 | (next & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return -1;
    }
    i += length;
    return cp;
}

bool isUnicodeSpace(long cp)
{
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F ||
           cp == 0x3000;
}

bool isControl(long cp)
{
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

std::string idHex(std::uint32_t id)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex(8, '0');
    for (int i = 7; i >= 0; --i) {
        hex[static_cast<std::size_t>(i)] = kDigits[id & 0x0F];
        id >>= 4;
    }
    return hex;
}

std::optional<std::uint32_t> idFromHex(std::string_view hex)
{
    if (hex.size() != 8) {
        return std::nullopt;
    }
    std::uint32_t id = 0;
    for (const char c : hex) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        }
        if (digit < 0) {
            return std::nullopt;
        }
        id = id << 4 | static_cast<std::uint32_t>(digit);
    }
    return id;
}

std::string bigEndian32(std::uint32_t v)
{
    std::string bytes(4, '\0');
    for (int i = 3; i >= 0; --i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(v & 0xFF);
        v >>= 8;
    }
    return bytes;
}

std::uint64_t readBigEndian(std::string_view bytes)
{
    std::uint64_t v = 0;
    for (const char c : bytes) {
        v = v << 8 | static_cast<unsigned char>(c);
    }
    return v;
}

std::optional<KeyType> keyTypeOf(unsigned char byte)
{
    switch (byte) {
        case static_cast<unsigned char>(KeyType::Ed25519):
            return KeyType::Ed25519;
        case static_cast<unsigned char>(KeyType::Cosignature):
            return KeyType::Cosignature;
        default:
            return std::nullopt;
    }
}

bool isKnownType(KeyType type)
{
    return keyTypeOf(static_cast<unsigned char>(type)).has_value();
}

const unsigned char* bytesOf(std::string_view s)
{
    // OpenSSL is handed a real pointer even for no bytes.
    return reinterpret_cast<const unsigned char*>(s.empty() ? "" : s.data());
}

struct PkeyFree
{
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct DigestContextFree
{
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

// libcrypto's failures leave entries in a per-thread queue that nothing here reads.
template <typename T>
T failed(T value)
{
    ERR_clear_error();
    return value;
}

Pkey privateKeyOf(std::string_view seed)
{
    return Pkey(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, bytesOf(seed), seed.size()));
}

std::optional<std::string> publicKeyOf(std::string_view seed)
{
    const Pkey key = privateKeyOf(seed);
    std::string publicKey(kKeyBytes, '\0');
    std::size_t length = publicKey.size();
    if (!key ||
        EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char*>(publicKey.data()), &length) != 1 ||
        length != kKeyBytes) {
        return failed(std::optional<std::string>());
    }
    return publicKey;
}

bool ed25519Verify(std::string_view publicKey, std::string_view message, std::string_view signature)
{
    if (publicKey.size() != kKeyBytes || signature.size() != kSignatureBytes) {
        return false;
    }
    const Pkey key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, bytesOf(publicKey), publicKey.size()));
    const DigestContext context(EVP_MD_CTX_new());
    const bool ok =
        key && context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
        EVP_DigestVerify(context.get(), bytesOf(signature), signature.size(), bytesOf(message), message.size()) == 1;
    return ok ? true : failed(false);
}

std::string nameRule(std::string_view name)
{
    return "the key name \"" + std::string(name) +
           "\" is not allowed: it must not be empty and must hold no space, '+' or control character";
}

// "name+hexid+base64(type || 32 bytes)", the shape shared by verifier and signer keys. The key
// bytes may hold '+', so only the first two plus signs separate.
struct KeyParts
{
    std::string name;
    std::uint32_t id = 0;
    KeyType type = KeyType::Ed25519;
    std::string material;
};

std::optional<KeyParts> splitKeyText(std::string_view text, std::string& error)
{
    const std::size_t firstPlus = text.find('+');
    const std::size_t secondPlus = firstPlus == std::string_view::npos ? firstPlus : text.find('+', firstPlus + 1);
    if (secondPlus == std::string_view::npos) {
        error = "a key is written name+id+key";
        return std::nullopt;
    }
    KeyParts parts;
    parts.name = std::string(text.substr(0, firstPlus));
    if (!isValidKeyName(parts.name)) {
        error = nameRule(parts.name);
        return std::nullopt;
    }
    const auto id = idFromHex(text.substr(firstPlus + 1, secondPlus - firstPlus - 1));
    if (!id) {
        error = "the key id of " + parts.name + " is not 8 lower-case hex digits";
        return std::nullopt;
    }
    parts.id = *id;
    const auto bytes = base64Decode(text.substr(secondPlus + 1));
    if (!bytes || bytes->empty()) {
        error = "the key of " + parts.name + " is not base64";
        return std::nullopt;
    }
    const auto type = keyTypeOf(static_cast<unsigned char>((*bytes)[0]));
    if (!type) {
        error = "the key of " + parts.name + " is of a type OrvCamera does not know (" +
                std::to_string(static_cast<unsigned char>((*bytes)[0])) + ")";
        return std::nullopt;
    }
    parts.type = *type;
    parts.material = bytes->substr(1);
    if (parts.material.size() != kKeyBytes) {
        error = "the key of " + parts.name + " is not 32 bytes long";
        return std::nullopt;
    }
    return parts;
}

} // namespace

std::string base64Encode(std::string_view bytes)
{
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t triple = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            triple = triple << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            text += k <= n ? kBase64Alphabet[(triple >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return text;
}

std::optional<std::string> base64Decode(std::string_view text)
{
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        std::uint32_t quad = 0;
        std::size_t padding = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            int value = 0;
            if (c == '=') {
                // Padding only ends the text, and never takes more than two places.
                if (!last || k < 2) {
                    return std::nullopt;
                }
                ++padding;
            } else {
                value = base64Value(c);
                if (value < 0 || padding > 0) {
                    return std::nullopt;
                }
            }
            quad = quad << 6 | static_cast<std::uint32_t>(value);
        }
        // The bits that padding leaves over must be zero, else two texts would give the same bytes.
        if ((padding == 1 && (quad & 0xFF) != 0) || (padding == 2 && (quad & 0xFFFF) != 0)) {
            return std::nullopt;
        }
        bytes += static_cast<char>(quad >> 16);
        if (padding < 2) {
            bytes += static_cast<char>((quad >> 8) & 0xFF);
        }
        if (padding < 1) {
            bytes += static_cast<char>(quad & 0xFF);
        }
    }
    return bytes;
}

bool isValidKeyName(std::string_view name)
{
    if (name.empty()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size();) {
        const long cp = nextCodePoint(name, i);
        if (cp < 0 || cp == '+' || isUnicodeSpace(cp) || isControl(cp)) {
            return false;
        }
    }
    return true;
}

std::string keyNameFrom(std::string_view text)
{
    std::string name;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        const long cp = nextCodePoint(text, i);
        if (cp < 0) {
            i = start + 1; // a byte that starts no character
        }
        if (cp < 0 || cp == '+' || isUnicodeSpace(cp) || isControl(cp)) {
            name += '_';
        } else {
            name.append(text.substr(start, i - start));
        }
    }
    return name.empty() ? "_" : name;
}

std::uint32_t keyIdOf(std::string_view name, KeyType type, std::string_view publicKey)
{
    const char header[2] = {'\n', static_cast<char>(type)};
    const Hash digest = detail::sha256({name, std::string_view(header, 2), publicKey});
    return static_cast<std::uint32_t>(digest[0]) << 24 | static_cast<std::uint32_t>(digest[1]) << 16 |
           static_cast<std::uint32_t>(digest[2]) << 8 | static_cast<std::uint32_t>(digest[3]);
}

std::optional<VerifierKey> parseVerifierKey(std::string_view text, std::string& error)
{
    auto parts = splitKeyText(text, error);
    if (!parts) {
        return std::nullopt;
    }
    VerifierKey key{std::move(parts->name), parts->id, parts->type, std::move(parts->material)};
    if (keyIdOf(key.name, key.type, key.publicKey) != key.id) {
        error = "the key id of " + key.name + " is not the one its key gives: the key was altered";
        return std::nullopt;
    }
    return key;
}

std::string verifierKeyText(const VerifierKey& key)
{
    return keyLabel(key.name, key.id) + '+' + base64Encode(std::string(1, static_cast<char>(key.type)) + key.publicKey);
}

std::string keyFingerprint(const VerifierKey& key)
{
    return hashHex(detail::sha256({key.publicKey}));
}

std::optional<SignerKey> SignerKey::generate(std::string name, KeyType type, std::string& error)
{
    std::string seed(kKeyBytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(seed.data()), static_cast<int>(seed.size())) != 1) {
        error = "OpenSSL gave no random bytes for a new key";
        return failed(std::optional<SignerKey>());
    }
    return fromSeed(std::move(name), type, seed, error);
}

std::optional<SignerKey> SignerKey::parse(std::string_view text, std::string& error)
{
    if (!text.starts_with(kPrivateKeyPrefix)) {
        error = "a signing key starts with " + std::string(kPrivateKeyPrefix);
        return std::nullopt;
    }
    auto parts = splitKeyText(text.substr(kPrivateKeyPrefix.size()), error);
    if (!parts) {
        return std::nullopt;
    }
    auto key = fromSeed(std::move(parts->name), parts->type, parts->material, error);
    if (key && key->id() != parts->id) {
        error = "the key id of " + key->name() + " is not the one its key gives: the key was altered";
        return std::nullopt;
    }
    return key;
}

std::optional<SignerKey> SignerKey::fromSeed(std::string name, KeyType type, std::string_view seed, std::string& error)
{
    if (!isValidKeyName(name)) {
        error = nameRule(name);
        return std::nullopt;
    }
    if (!isKnownType(type)) {
        error = "a key is of type Ed25519 or cosignature";
        return std::nullopt;
    }
    if (seed.size() != kKeyBytes) {
        error = "a signing key is 32 bytes long";
        return std::nullopt;
    }
    auto publicKey = publicKeyOf(seed);
    if (!publicKey) {
        error = "OpenSSL cannot make an Ed25519 key";
        return std::nullopt;
    }
    SignerKey key;
    key.seed_ = std::string(seed);
    key.verifier_.name = std::move(name);
    key.verifier_.type = type;
    key.verifier_.id = keyIdOf(key.verifier_.name, type, *publicKey);
    key.verifier_.publicKey = std::move(*publicKey);
    return key;
}

std::string SignerKey::text() const
{
    return std::string(kPrivateKeyPrefix) + keyLabel(name(), id()) + '+' +
           base64Encode(std::string(1, static_cast<char>(type())) + seed_);
}

std::string SignerKey::sign(std::string_view message) const
{
    const Pkey key = privateKeyOf(seed_);
    const DigestContext context(EVP_MD_CTX_new());
    std::string signature(kSignatureBytes, '\0');
    std::size_t length = signature.size();
    const bool ok = key && context && EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
                    EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                                   bytesOf(message), message.size()) == 1 &&
                    length == kSignatureBytes;
    // No signature at all rather than a wrong one: whoever checks it finds it malformed.
    return ok ? signature : failed(std::string());
}

std::optional<Note> parseNote(std::string_view message, std::string& error)
{
    for (std::size_t i = 0; i < message.size();) {
        const long cp = nextCodePoint(message, i);
        if (cp < 0) {
            error = "the note is not UTF-8 text";
            return std::nullopt;
        }
        if (cp < 0x20 && cp != '\n') {
            error = "the note holds a control character";
            return std::nullopt;
        }
    }
    if (!message.ends_with('\n')) {
        error = "the note does not end with a newline";
        return std::nullopt;
    }
    const std::size_t split = message.rfind("\n\n");
    if (split == std::string_view::npos) {
        error = "the note has no blank line before its signatures";
        return std::nullopt;
    }
    Note note;
    note.text = std::string(message.substr(0, split + 1));
    std::string_view lines = message.substr(split + 2);
    if (lines.empty()) {
        error = "the note has no signature";
        return std::nullopt;
    }
    for (std::size_t number = 1; !lines.empty(); ++number) {
        if (number > kMaxSignatures) {
            error = "the note has more than " + std::to_string(kMaxSignatures) + " signatures";
            return std::nullopt;
        }
        const std::size_t end = lines.find('\n');
        std::string_view line = lines.substr(0, end);
        lines.remove_prefix(end + 1);

        const std::string where = "signature line " + std::to_string(number);
        const std::size_t space =
            line.starts_with(kEmDashSpace) ? line.find(' ', kEmDashSpace.size()) : std::string_view::npos;
        if (space == std::string_view::npos) {
            error = where + " is not \"\xE2\x80\x94 name signature\"";
            return std::nullopt;
        }
        const std::string_view name = line.substr(kEmDashSpace.size(), space - kEmDashSpace.size());
        if (!isValidKeyName(name)) {
            error = where + ": " + nameRule(name);
            return std::nullopt;
        }
        const auto bytes = base64Decode(line.substr(space + 1));
        if (!bytes) {
            error = where + ": the signature is not base64";
            return std::nullopt;
        }
        if (bytes->size() < 4) {
            error = where + ": the signature is shorter than a key id";
            return std::nullopt;
        }
        note.signatures.push_back(
            {std::string(name), static_cast<std::uint32_t>(readBigEndian(bytes->substr(0, 4))), bytes->substr(4)});
    }
    return note;
}

std::string noteMessage(const Note& note)
{
    std::string message = note.text;
    message += '\n';
    for (const NoteSignature& signature : note.signatures) {
        message += signatureLine(signature);
    }
    return message;
}

std::string signatureLine(const NoteSignature& signature)
{
    std::string line(kEmDashSpace);
    line += signature.name;
    line += ' ';
    line += base64Encode(bigEndian32(signature.keyId) + signature.signature);
    line += '\n';
    return line;
}

NoteSignature signNoteText(const SignerKey& key, std::string_view text)
{
    return {key.name(), key.id(), key.sign(text)};
}

std::string cosignatureMessage(std::string_view checkpointText, std::uint64_t timestamp)
{
    std::string message = "cosignature/v1\ntime " + std::to_string(timestamp) + '\n';
    message += checkpointText;
    return message;
}

NoteSignature cosignCheckpoint(const SignerKey& key, std::string_view checkpointText, std::uint64_t timestamp)
{
    std::string stamped(kTimestampBytes, '\0');
    for (std::size_t i = 0; i < kTimestampBytes; ++i) {
        stamped[i] = static_cast<char>(timestamp >> (8 * (kTimestampBytes - 1 - i)));
    }
    const std::string signature = key.sign(cosignatureMessage(checkpointText, timestamp));
    return {key.name(), key.id(), signature.empty() ? std::string() : stamped + signature};
}

SignatureCheck checkSignature(const VerifierKey& key, std::string_view text, const NoteSignature& signature,
                              std::uint64_t* timestamp)
{
    if (signature.name != key.name || signature.keyId != key.id) {
        return SignatureCheck::Unknown;
    }
    const std::string_view bytes = signature.signature;
    switch (key.type) {
        case KeyType::Ed25519:
            return ed25519Verify(key.publicKey, text, bytes) ? SignatureCheck::Verified : SignatureCheck::Invalid;
        case KeyType::Cosignature: {
            if (bytes.size() != kTimestampBytes + kSignatureBytes) {
                return SignatureCheck::Invalid;
            }
            const std::uint64_t time = readBigEndian(bytes.substr(0, kTimestampBytes));
            if (time > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ||
                !ed25519Verify(key.publicKey, cosignatureMessage(text, time), bytes.substr(kTimestampBytes))) {
                return SignatureCheck::Invalid;
            }
            if (timestamp) {
                *timestamp = time;
            }
            return SignatureCheck::Verified;
        }
    }
    return SignatureCheck::Invalid;
}

const VerifierKey* KeyRing::find(std::string_view name, std::uint32_t id) const
{
    for (const VerifierKey& key : keys) {
        if (key.name == name && key.id == id) {
            return &key;
        }
    }
    return nullptr;
}

void KeyRing::add(const VerifierKey& key)
{
    for (const VerifierKey& known : keys) {
        if (known == key) {
            return;
        }
    }
    keys.push_back(key);
}

std::optional<KeyRing> parseKeyRing(std::string_view text, std::string& error)
{
    KeyRing ring;
    for (std::size_t number = 1; !text.empty(); ++number) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // A file written on Windows keeps its carriage returns.
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos || line[start] == '#') {
            continue;
        }
        line = line.substr(start);
        line = line.substr(0, line.find_first_of(" \t"));
        std::string why;
        const auto key = parseVerifierKey(line, why);
        if (!key) {
            error = "line " + std::to_string(number) + ": " + why;
            return std::nullopt;
        }
        ring.add(*key);
    }
    return ring;
}

std::string keyLabel(std::string_view name, std::uint32_t id)
{
    std::string label(name);
    label += '+';
    label += idHex(id);
    return label;
}

std::string commaList(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text;
}

} // namespace orv::ledger
