// Signed notes, keys, cosignatures, checkpoints and tlog-proofs, byte for byte against the
// published examples, and every malformed text refused; the event's canonical form read back, and
// a proof of an event read as a reader without the ledger reads it.
#include "ledger/checkpoint.h"
#include "ledger/ledger.h"
#include "ledger/proof_reading.h"
#include "ledger/signed_note.h"

#include <gtest/gtest.h>

#include <limits>

using namespace orv::ledger;

namespace {

const std::string kDash = "\xE2\x80\x94";

const std::string kGoSigner = "PRIVATE+KEY+PeterNeumann+c74f20a3+AYEKFALVFGyNhPJEMzD1QIDr+Y7hfZx09iUvxdXHKDFz";
const std::string kGoVerifier = "PeterNeumann+c74f20a3+ARpc2QcUPDhMQegwxbzhKqiBfsVkmqq/LDE4izWy10TW";
const std::string kGoText =
    "If you think cryptography is the answer to your problem,\nthen you don't know what your problem is.\n";
const std::string kGoNote =
    kGoText + "\n" + kDash +
    " PeterNeumann x08go/ZJkuBS9UG/SffcvIAQxVBtiFupLLr8pAcElZInNIuGUgYN1FFYC2pZSNXgKvqfqdngotpRZ"
    "b6KE6RyyBwJnAM=\n";

const std::string kExampleVerifier = "example.com/foo+530d903a+AekyeRrm56hApGFkyQR4ZCbV54Id2LKaANYcrnKv3U2k";
const std::string kExampleNote =
    "This is an example message.\n\n" + kDash +
    " example.com/foo Uw2QOkn8srV1yJGh2VYRlL1Tnagv1YEq6TfXppzi2ONncAlTgK7Ztg1ERYNZXsYjOBH3m"
    "FXmRKuwHjG1Yu72IneyaQM=\n";

const std::string kSofaText = "example.com/behind-the-sofa\n20852163\nCsUYapGGPo4dkMgIAUqom/Xajj7h2fB2MPA3j2jxq2I=\n";

SignerKey makeKey(const std::string& name, KeyType type, char seedByte)
{
    std::string error;
    auto key = SignerKey::fromSeed(name, type, std::string(32, seedByte), error);
    EXPECT_TRUE(key) << error;
    return key.value();
}

VerifierKey verifierOf(const std::string& text)
{
    std::string error;
    auto key = parseVerifierKey(text, error);
    EXPECT_TRUE(key) << error;
    return key.value();
}

Note noteOf(const std::string& message)
{
    std::string error;
    auto note = parseNote(message, error);
    EXPECT_TRUE(note) << error;
    return note.value_or(Note{});
}

// "name+hexid", as the problems of a proof name keys.
std::string labelOf(const SignerKey& key)
{
    const std::string text = verifierKeyText(key.verifier());
    return text.substr(0, text.find('+', text.find('+') + 1));
}

// A text that must be refused, and a piece of the reason it must be refused for.
struct Refusal
{
    std::string text;
    std::string reason;
};

template <typename Parse>
void expectRefused(const std::vector<Refusal>& rows, Parse parse)
{
    for (const Refusal& row : rows) {
        std::string error;
        EXPECT_FALSE(parse(row.text, error)) << row.text;
        EXPECT_NE(error.find(row.reason), std::string::npos) << row.text << "\n -> " << error;
    }
}

TEST(NoteBase64, IsRfc4648AndStrict)
{
    const std::pair<std::string, std::string> vectors[] = {{"", ""},
                                                           {"f", "Zg=="},
                                                           {"fo", "Zm8="},
                                                           {"foo", "Zm9v"},
                                                           {"foob", "Zm9vYg=="},
                                                           {"fooba", "Zm9vYmE="},
                                                           {"foobar", "Zm9vYmFy"}};
    for (const auto& [bytes, text] : vectors) {
        EXPECT_EQ(base64Encode(bytes), text);
        EXPECT_EQ(base64Decode(text), bytes);
    }
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all += static_cast<char>(i);
        EXPECT_EQ(base64Decode(base64Encode(all)), all);
    }
    for (const char* bad : {"Zg", "Zg=", "Zh==", "Zm9=", "Zg==Zg==", "Z===", "====", "Zm9v\n", " Zm9v", "Zm9v=", "Zm-v",
                            "Zm_v", "Zm9vYg=a", "Zm=v", "Zg=A"}) {
        EXPECT_FALSE(base64Decode(bad)) << bad;
    }
    // Nothing past the end of the text is read.
    EXPECT_FALSE(base64Decode(std::string_view("Zm9vYmFy").substr(0, 6)));
}

TEST(NoteKeys, NamesFollowTheNoteRules)
{
    for (const char* good : {"a", "example.com/foo", "PeterNeumann", "\xC3\xBC\x6E\xC3\xAF", "\xE5\xBC\xA0"}) {
        EXPECT_TRUE(isValidKeyName(good)) << good;
    }
    for (const char* bad :
         {"", "a b", "a+b", "a\tb", "a\nb", "a\xC2\xA0z", "a\xE3\x80\x80z", "a\xE2\x80\xA8z", "a\xC2\x85z", "a\x7F",
          "a\x01", "\xFF", "\xC0\xAF", "\xED\xA0\x80", "\xE2\x80", "\xF4\x90\x80\x80", "\xE0\x9F\xBF"}) {
        EXPECT_FALSE(isValidKeyName(bad)) << bad;
        // What a station is called by (a computer or an account of any spelling) becomes a name.
        EXPECT_TRUE(isValidKeyName(keyNameFrom(bad))) << bad;
    }
    EXPECT_FALSE(isValidKeyName(std::string_view("a\xE2\x80\x94", 3)));
    EXPECT_EQ(keyNameFrom("DESK 3+\xE5\xBC\xA0\xE3\x80\x80\xFF"), "DESK_3_\xE5\xBC\xA0__");
    EXPECT_EQ(keyNameFrom("example.com/foo"), "example.com/foo");
}

TEST(NoteKeys, GoVectorSignsAndVerifiesByteForByte)
{
    std::string error;
    const auto signer = SignerKey::parse(kGoSigner, error);
    ASSERT_TRUE(signer) << error;
    EXPECT_EQ(signer->text(), kGoSigner);
    EXPECT_EQ(signer->id(), 0xc74f20a3u);
    EXPECT_EQ(keyIdOf(signer->name(), KeyType::Ed25519, signer->verifier().publicKey), 0xc74f20a3u);
    EXPECT_EQ(verifierKeyText(signer->verifier()), kGoVerifier);

    const Note note{kGoText, {signNoteText(*signer, kGoText)}};
    EXPECT_EQ(noteMessage(note), kGoNote);

    const VerifierKey verifier = verifierOf(kGoVerifier);
    EXPECT_EQ(verifier, signer->verifier());
    EXPECT_EQ(keyFingerprint(verifier), "c7a9d541f116ae828b693ee8c89482bbe3ec786faa1df159677bd65150394f0f");
    const Note read = noteOf(kGoNote);
    EXPECT_EQ(read.text, kGoText);
    ASSERT_EQ(read.signatures.size(), 1u);
    EXPECT_EQ(checkSignature(verifier, read.text, read.signatures[0]), SignatureCheck::Verified);
}

TEST(NoteKeys, PublishedExampleNoteVerifiesWithItsKey)
{
    const VerifierKey key = verifierOf(kExampleVerifier);
    EXPECT_EQ(key.id, 0x530d903au);
    EXPECT_EQ(keyIdOf("example.com/foo", KeyType::Ed25519, key.publicKey), 0x530d903au);
    EXPECT_EQ(verifierKeyText(key), kExampleVerifier);
    const Note note = noteOf(kExampleNote);
    ASSERT_EQ(note.signatures.size(), 1u);
    EXPECT_EQ(checkSignature(key, note.text, note.signatures[0]), SignatureCheck::Verified);
    EXPECT_EQ(checkSignature(key, "This is an example message!\n", note.signatures[0]), SignatureCheck::Invalid);
}

TEST(NoteKeys, GeneratedKeysOfBothTypesRoundTrip)
{
    for (const KeyType type : {KeyType::Ed25519, KeyType::Cosignature}) {
        std::string error;
        const auto key = SignerKey::generate("station.example/desk-1", type, error);
        ASSERT_TRUE(key) << error;
        EXPECT_EQ(key->type(), type);
        const auto again = SignerKey::parse(key->text(), error);
        ASSERT_TRUE(again) << error;
        EXPECT_EQ(again->verifier(), key->verifier());
        EXPECT_EQ(again->sign("x"), key->sign("x"));
        EXPECT_EQ(verifierOf(verifierKeyText(key->verifier())), key->verifier());
    }
    std::string error;
    EXPECT_FALSE(SignerKey::generate("two words", KeyType::Ed25519, error));
    EXPECT_NE(error.find("two words"), std::string::npos);
    EXPECT_FALSE(SignerKey::fromSeed("a", KeyType::Ed25519, std::string(31, 'k'), error));
    EXPECT_FALSE(SignerKey::fromSeed("a", static_cast<KeyType>(2), std::string(32, 'k'), error));
}

TEST(NoteKeys, MalformedKeysAreRefused)
{
    const std::string publicKey = verifierOf(kExampleVerifier).publicKey;
    const auto keyText = [](const std::string& prefix, char type, const std::string& bytes) {
        return prefix + "+" + base64Encode(std::string(1, type) + bytes);
    };
    expectRefused({{"", "name+id+key"},
                   {"example.com/foo", "name+id+key"},
                   {"example.com/foo+530d903a", "name+id+key"},
                   {"+530d903a+AekyeRrm56hApGFkyQR4ZCbV54Id2LKaANYcrnKv3U2k", "not allowed"},
                   {"exa\xC2\xA0mple+530d903a+AekyeRrm56hApGFkyQR4ZCbV54Id2LKaANYcrnKv3U2k", "not allowed"},
                   {"example.com/foo+530D903A+AekyeRrm56hApGFkyQR4ZCbV54Id2LKaANYcrnKv3U2k", "8 lower-case hex"},
                   {"example.com/foo+530d903+AekyeRrm56hApGFkyQR4ZCbV54Id2LKaANYcrnKv3U2k", "8 lower-case hex"},
                   {"example.com/foo+530d903b+AekyeRrm56hApGFkyQR4ZCbV54Id2LKaANYcrnKv3U2k", "was altered"},
                   {"example.com/bar+530d903a+AekyeRrm56hApGFkyQR4ZCbV54Id2LKaANYcrnKv3U2k", "was altered"},
                   {"example.com/foo+530d903a+AekyeRrm56hApGFkyQR4ZCbV54Id2LKaANYcrnKv3U2k\n", "not base64"},
                   {"example.com/foo+530d903a+", "not base64"},
                   {keyText("example.com/foo+530d903a", 2, publicKey), "type"},
                   {keyText("example.com/foo+530d903a", 1, publicKey.substr(1)), "32 bytes"},
                   {keyText("example.com/foo+530d903a", 1, publicKey + "x"), "32 bytes"}},
                  [](const std::string& text, std::string& error) { return parseVerifierKey(text, error); });

    const std::string goBody = kGoSigner.substr(12);
    expectRefused({{goBody, "PRIVATE+KEY+"},
                   {"PRIVATE+KEY+PeterNeumann+c74f20a4+" + kGoSigner.substr(34), "was altered"},
                   {"PRIVATE+KEY+" + keyText("PeterNeumann+c74f20a3", 4, std::string(32, 'k')), "was altered"},
                   {"PRIVATE+KEY+" + keyText("PeterNeumann+c74f20a3", 3, std::string(32, 'k')), "type"},
                   {"PRIVATE+KEY+" + keyText("PeterNeumann+c74f20a3", 1, std::string(16, 'k')), "32 bytes"}},
                  [](const std::string& text, std::string& error) { return SignerKey::parse(text, error); });
}

TEST(SignedNote, ReadsTextsAndSignaturesAndWritesThemBack)
{
    const std::string b64 = base64Encode(std::string("\x01\x02\x03\x04", 4) + std::string(64, 's'));
    std::string hundred;
    for (int i = 0; i < 100; ++i) {
        hundred += kDash + " k" + std::to_string(i) + " " + b64 + "\n";
    }
    const std::string messages[] = {
        kGoNote,
        "first\n\nsecond after a blank line\n\n\n" + kDash + " a " + b64 + "\n" + kDash + " b\xC3\xBC AAAAAAA=\n",
        "\n\n" + kDash + " only-a-key-id AQIDBA==\n",
        "text\n\n" + hundred,
    };
    for (const std::string& message : messages) {
        const Note note = noteOf(message);
        EXPECT_EQ(noteMessage(note), message);
    }
    const Note second = noteOf(messages[1]);
    EXPECT_EQ(second.text, "first\n\nsecond after a blank line\n\n");
    ASSERT_EQ(second.signatures.size(), 2u);
    EXPECT_EQ(second.signatures[0], (NoteSignature{"a", 0x01020304u, std::string(64, 's')}));
    EXPECT_EQ(second.signatures[1], (NoteSignature{"b\xC3\xBC", 0u, std::string(1, '\0')}));
    EXPECT_EQ(noteOf(messages[2]).signatures[0].signature, "");
}

TEST(SignedNote, MalformedNotesAreRefused)
{
    const std::string sig = " AQIDBAUG\n";
    std::string tooMany = "text\n\n";
    for (int i = 0; i < 101; ++i) {
        tooMany += kDash + " k" + sig;
    }
    expectRefused({{"text\n\n" + kDash + " k AQIDBAUG", "end with a newline"},
                   {"text\n" + kDash + " k" + sig, "no blank line"},
                   {"text\n\n", "no signature"},
                   {"te\xFFxt\n\n" + kDash + " k" + sig, "UTF-8"},
                   {"te\xE2\x80xt\n\n" + kDash + " k" + sig, "UTF-8"},
                   {"text\r\n\n" + kDash + " k" + sig, "control character"},
                   {"te\txt\n\n" + kDash + " k" + sig, "control character"},
                   {"text\n\n- k" + sig, "signature line 1 is not"},
                   {"text\n\n" + kDash + "k" + sig, "signature line 1 is not"},
                   {"text\n\n" + kDash + " k" + sig + kDash + " k  AQIDBAUG\n", "signature line 2: the signature"},
                   {"text\n\n" + kDash + " k AQIDBAUG \n", "not base64"},
                   {"text\n\n" + kDash + "  AQIDBAUG\n", "not allowed"},
                   {"text\n\n" + kDash + " a+b" + sig, "not allowed"},
                   {"text\n\n" + kDash + " k AQIDBAV=\n", "not base64"},
                   {"text\n\n" + kDash + " k AQID\n", "shorter than a key id"},
                   {"text\n\n" + kDash + " k\n", "signature line 1 is not"},
                   {tooMany, "more than 100"}},
                  [](const std::string& text, std::string& error) { return parseNote(text, error); });
}

TEST(SignedNote, SignaturesOfOtherKeysAreUnknownAndAlteredOnesInvalid)
{
    const SignerKey key = makeKey("log.example/a", KeyType::Ed25519, 'a');
    const std::string text = "a text\nto sign\n";
    const NoteSignature signature = signNoteText(key, text);
    EXPECT_EQ(checkSignature(key.verifier(), text, signature), SignatureCheck::Verified);

    VerifierKey renamed = key.verifier();
    renamed.name = "log.example/b";
    VerifierKey otherId = key.verifier();
    otherId.id ^= 1;
    EXPECT_EQ(checkSignature(renamed, text, signature), SignatureCheck::Unknown);
    EXPECT_EQ(checkSignature(otherId, text, signature), SignatureCheck::Unknown);

    VerifierKey otherKey = makeKey("log.example/a", KeyType::Ed25519, 'b').verifier();
    otherKey.id = key.id(); // an id collision: the name and id match, the key does not
    EXPECT_EQ(checkSignature(otherKey, text, signature), SignatureCheck::Invalid);
    EXPECT_EQ(checkSignature(key.verifier(), "a text\nto sigN\n", signature), SignatureCheck::Invalid);
    for (const std::string& bytes : {signature.signature.substr(1), signature.signature + "x", std::string(),
                                     std::string(signature.signature).replace(10, 1, "?")}) {
        NoteSignature altered = signature;
        altered.signature = bytes;
        EXPECT_EQ(checkSignature(key.verifier(), text, altered), SignatureCheck::Invalid);
    }
}

TEST(NoteCosignature, PublishedExampleDecodes)
{
    const Note note =
        noteOf(kSofaText + "\n" + kDash +
               " example.com/behind-the-sofa Az3grlgtzPICa5OS8npVmf1Myq/5IZniMp+ZJurmRDeOoRDe4URYN7u5/"
               "Zhcyv2q1gGzGku9nTo+zyWE+xeMcTOAYQ8=\n" +
               kDash +
               " witness.example.com/w1 jWbPPwAAAABkGFDLEZMHwSRaJNiIDoe9DYn/zXcrtPHeolMI5OWXEhZCB9dlrDJsX3b2"
               "oyin1nPZqhf5nNo0xUe+mbIUBkBIfZ+qnA==\n");
    ASSERT_EQ(note.signatures.size(), 2u);
    const NoteSignature& cosignature = note.signatures[1];
    EXPECT_EQ(cosignature.keyId, 0x8d66cf3fu);
    ASSERT_EQ(cosignature.signature.size(), 72u);
    std::uint64_t timestamp = 0;
    for (int i = 0; i < 8; ++i) {
        timestamp = timestamp << 8 | static_cast<unsigned char>(cosignature.signature[static_cast<std::size_t>(i)]);
    }
    EXPECT_EQ(timestamp, 1679315147u);
    EXPECT_EQ(cosignatureMessage(note.text, timestamp), "cosignature/v1\ntime 1679315147\n" + kSofaText);
}

TEST(NoteCosignature, OursVerifiesAndCatchesEveryChange)
{
    const SignerKey witness = makeKey("witness.example/w1", KeyType::Cosignature, 'w');
    const std::uint64_t when = 1679315147;
    const NoteSignature cosignature = cosignCheckpoint(witness, kSofaText, when);
    ASSERT_EQ(cosignature.signature.size(), 72u);
    std::uint64_t timestamp = 0;
    EXPECT_EQ(checkSignature(witness.verifier(), kSofaText, cosignature, &timestamp), SignatureCheck::Verified);
    EXPECT_EQ(timestamp, when);

    std::string altered = kSofaText;
    altered[30] ^= 1;
    EXPECT_EQ(checkSignature(witness.verifier(), altered, cosignature), SignatureCheck::Invalid);
    NoteSignature retimed = cosignature;
    retimed.signature[7] ^= 1;
    EXPECT_EQ(checkSignature(witness.verifier(), kSofaText, retimed), SignatureCheck::Invalid);

    // The same seed and name as a note key: another id, so another key.
    const SignerKey noteKey = makeKey("witness.example/w1", KeyType::Ed25519, 'w');
    EXPECT_NE(noteKey.id(), witness.id());
    EXPECT_EQ(checkSignature(noteKey.verifier(), kSofaText, cosignature), SignatureCheck::Unknown);
    VerifierKey sameId = noteKey.verifier();
    sameId.id = witness.id();
    EXPECT_EQ(checkSignature(sameId, kSofaText, cosignature), SignatureCheck::Invalid);
    NoteSignature plain = signNoteText(witness, kSofaText);
    EXPECT_EQ(checkSignature(witness.verifier(), kSofaText, plain), SignatureCheck::Invalid);

    const std::uint64_t latest = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(checkSignature(witness.verifier(), kSofaText, cosignCheckpoint(witness, kSofaText, latest)),
              SignatureCheck::Verified);
    EXPECT_EQ(checkSignature(witness.verifier(), kSofaText, cosignCheckpoint(witness, kSofaText, latest + 1)),
              SignatureCheck::Invalid);
}

TEST(NoteKeys, KeyRingReadsTheFileItHandsOut)
{
    const SignerKey a = makeKey("log.example/a", KeyType::Ed25519, 'a');
    const SignerKey w = makeKey("witness.example/w", KeyType::Cosignature, 'w');
    const std::string aText = verifierKeyText(a.verifier());
    std::string error;
    const auto ring = parseKeyRing("# station keys\r\n\r\n" + aText + " desk 1, since March\r\n  " +
                                       verifierKeyText(w.verifier()) + "\r\n" + aText,
                                   error);
    ASSERT_TRUE(ring) << error;
    ASSERT_EQ(ring->keys.size(), 2u);
    ASSERT_TRUE(ring->find("log.example/a", a.id()));
    EXPECT_EQ(*ring->find("log.example/a", a.id()), a.verifier());
    EXPECT_FALSE(ring->find("log.example/a", w.id()));
    EXPECT_FALSE(ring->find("log.example/b", a.id()));

    EXPECT_FALSE(parseKeyRing("# keys\n" + aText + "\nnot-a-key\n", error));
    EXPECT_EQ(error.rfind("line 3: ", 0), 0u) << error;
}

TEST(Checkpoint, TextRoundTrips)
{
    std::string error;
    const auto sofa = parseCheckpoint(kSofaText, error);
    ASSERT_TRUE(sofa) << error;
    EXPECT_EQ(sofa->origin, "example.com/behind-the-sofa");
    EXPECT_EQ(sofa->size, 20852163u);
    EXPECT_EQ(base64Encode(std::string(sofa->root.begin(), sofa->root.end())),
              "CsUYapGGPo4dkMgIAUqom/Xajj7h2fB2MPA3j2jxq2I=");
    EXPECT_EQ(checkpointText(*sofa), kSofaText);
    for (const Checkpoint& checkpoint :
         {Checkpoint{"orv", 0, emptyRoot()},
          Checkpoint{"a log+with spaces", std::numeric_limits<std::uint64_t>::max(), leafHash("x")}}) {
        const auto again = parseCheckpoint(checkpointText(checkpoint), error);
        ASSERT_TRUE(again) << error;
        EXPECT_EQ(*again, checkpoint);
    }
}

TEST(Checkpoint, MalformedCheckpointsAreRefused)
{
    const std::string root = "CsUYapGGPo4dkMgIAUqom/Xajj7h2fB2MPA3j2jxq2I=";
    expectRefused({{"", "three lines"},
                   {"o\n1\n", "three lines"},
                   {"o\n1\n" + root, "three lines"},
                   {"\n1\n" + root + "\n", "no origin"},
                   {"o\n01\n" + root + "\n", "tree size \"01\""},
                   {"o\n\n" + root + "\n", "tree size"},
                   {"o\n-1\n" + root + "\n", "tree size"},
                   {"o\n+1\n" + root + "\n", "tree size"},
                   {"o\n1 \n" + root + "\n", "tree size"},
                   {"o\n18446744073709551616\n" + root + "\n", "tree size"},
                   {"o\n1\n\n", "root"},
                   {"o\n1\nCsUYapGGPo4dkMgIAUqom/Xajj7h2fB2MPA3j2jxqw==\n", "root"},
                   {"o\n1\n" + root + "AAAA\n", "root"},
                   {"o\n1\nCsUYapGGPo4dkMgIAUqom/Xajj7h2fB2MPA3j2jxq2IA\n", "root"},
                   {"o\n1\nCsUYapGGPo4dkMgIAUqom/Xajj7h2fB2MPA3j2jxq2J=\n", "root"},
                   {"o\n1\n" + root + "\nextension\n", "extension lines"},
                   {"o\n1\n" + root + "\n\n", "extension lines"}},
                  [](const std::string& text, std::string& error) { return parseCheckpoint(text, error); });
}

// A log of 13 events signed by its station and cosigned by a witness.
class TlogProofTest : public ::testing::Test
{
protected:
    TlogProofTest()
    {
        for (int i = 0; i < 13; ++i) {
            events_.push_back("orv-ledger-event 1\nnumber:" + std::to_string(i + 1) + "\n");
            leaves_.push_back(leafHash(events_.back()));
        }
        text_ = checkpointText({"orv.example/ledger", leaves_.size(), rootOf(leaves_)});
        trusted_.add(log_.verifier());
        witnesses_.add(witness_.verifier());
    }

    std::string signedCheckpoint(const std::vector<NoteSignature>& extra = {}) const
    {
        Note note{text_, {signNoteText(log_, text_), cosignCheckpoint(witness_, text_, 1700000000)}};
        note.signatures.insert(note.signatures.end(), extra.begin(), extra.end());
        return noteMessage(note);
    }

    TlogProof proofOf(std::size_t index) const
    {
        return {events_[index], index, inclusionProof(leaves_, index), signedCheckpoint()};
    }

    SignerKey log_ = makeKey("orv.example/ledger", KeyType::Ed25519, 'l');
    SignerKey witness_ = makeKey("witness.example/w1", KeyType::Cosignature, 'w');
    std::vector<std::string> events_;
    std::vector<Hash> leaves_;
    std::string text_;
    KeyRing trusted_;
    KeyRing witnesses_;
};

TEST_F(TlogProofTest, TextRoundTripsByteForByte)
{
    TlogProof withoutExtra = proofOf(0);
    withoutExtra.extra.reset();
    TlogProof emptyExtra = proofOf(12);
    emptyExtra.extra = "";
    for (const TlogProof& proof : {proofOf(5), proofOf(12), withoutExtra, emptyExtra}) {
        const std::string text = proofText(proof);
        std::string error;
        const auto read = parseProof(text, error);
        ASSERT_TRUE(read) << error << "\n" << text;
        EXPECT_EQ(read->extra, proof.extra);
        EXPECT_EQ(read->index, proof.index);
        EXPECT_EQ(read->path, proof.path);
        EXPECT_EQ(read->checkpoint, proof.checkpoint);
        EXPECT_EQ(proofText(*read), text);
    }
    const std::string text = proofText(proofOf(3));
    const std::string head = "c2sp.org/tlog-proof@v1\nextra " + base64Encode(events_[3]) + "\nindex 3\n";
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_EQ(text.substr(text.size() - signedCheckpoint().size() - 3), "=\n\n" + signedCheckpoint());
}

TEST_F(TlogProofTest, MalformedProofsAreRefused)
{
    const std::string hash = "CsUYapGGPo4dkMgIAUqom/Xajj7h2fB2MPA3j2jxq2I=\n";
    const std::string note = signedCheckpoint();
    std::string longPath;
    for (int i = 0; i < 65; ++i) {
        longPath += hash;
    }
    expectRefused({{"c2sp.org/tlog-proof@v2\nindex 0\n\n" + note, "does not start"},
                   {"\nc2sp.org/tlog-proof@v1\nindex 0\n\n" + note, "does not start"},
                   {"c2sp.org/tlog-proof@v1\nextra e30\nindex 0\n\n" + note, "extra line"},
                   {"c2sp.org/tlog-proof@v1\nextra e30=\n\n" + note, "no index line"},
                   {"c2sp.org/tlog-proof@v1\nindex 01\n\n" + note, "index \"01\""},
                   {"c2sp.org/tlog-proof@v1\nindex  1\n\n" + note, "index"},
                   {"c2sp.org/tlog-proof@v1\nindex 1\n" + hash + "AAAA\n\n" + note, "hash 2"},
                   {"c2sp.org/tlog-proof@v1\nindex 1\n" + hash + note, "hash 2"},
                   {"c2sp.org/tlog-proof@v1\nindex 1\n" + hash, "no blank line"},
                   {"c2sp.org/tlog-proof@v1\nindex 1\n" + longPath + "\n" + note, "more hashes"},
                   {"c2sp.org/tlog-proof@v1\nindex 1\n\n" + text_, "not a signed note"},
                   {"c2sp.org/tlog-proof@v1\nindex 1\n\n" + note + "\n", "not a signed note"},
                   {"c2sp.org/tlog-proof@v1\nindex 1\n\no\n1\n\n" + note.substr(text_.size() + 1),
                    "signed but is not a checkpoint"}},
                  [](const std::string& text, std::string& error) { return parseProof(text, error); });
}

TEST_F(TlogProofTest, ProofsOfEveryEventCheck)
{
    for (std::size_t i = 0; i < events_.size(); ++i) {
        std::string error;
        const auto proof = parseProof(proofText(proofOf(i)), error);
        ASSERT_TRUE(proof) << error;
        const ProofCheck check = checkProof(*proof, trusted_, witnesses_);
        EXPECT_TRUE(check.valid) << check.problem;
        EXPECT_EQ(check.checkpoint.size, events_.size());
        EXPECT_EQ(check.signedBy, std::vector<std::string>{labelOf(log_)});
        EXPECT_EQ(check.cosignedBy, std::vector<std::string>{labelOf(witness_)});
    }
    // Signatures of keys nobody trusts are passed over, a witness without a cosignature is no fault.
    TlogProof proof = proofOf(4);
    proof.checkpoint = signedCheckpoint({signNoteText(makeKey("stranger", KeyType::Ed25519, 's'), "other\n")});
    KeyRing moreWitnesses = witnesses_;
    moreWitnesses.add(makeKey("witness.example/w2", KeyType::Cosignature, 'v').verifier());
    moreWitnesses.add(log_.verifier()); // a note key is no witness, even when listed as one
    const ProofCheck check = checkProof(proof, trusted_, moreWitnesses);
    EXPECT_TRUE(check.valid) << check.problem;
    EXPECT_EQ(check.cosignedBy, std::vector<std::string>{labelOf(witness_)});
}

TEST_F(TlogProofTest, FaultsAreToldInPlainWords)
{
    const std::string logLabel = labelOf(log_);
    const std::string witnessLabel = labelOf(witness_);
    const SignerKey second = makeKey("orv.example/second", KeyType::Ed25519, '2');
    KeyRing both = trusted_;
    both.add(second.verifier());
    KeyRing cosignerAsLog;
    cosignerAsLog.add(witness_.verifier());

    struct Case
    {
        const char* what;
        TlogProof proof;
        KeyRing trusted;
        std::string problem;
    };
    std::vector<Case> cases;
    const auto add = [&](const char* what, auto change, const KeyRing& trusted, std::string problem) {
        TlogProof proof = proofOf(6);
        change(proof);
        cases.push_back({what, std::move(proof), trusted, std::move(problem)});
    };
    const auto same = [](TlogProof&) {};
    add("no trusted key", same, KeyRing{},
        "the checkpoint is not signed by any trusted key (signed by: " + logLabel + ", " + witnessLabel + ")");
    add("a witness is no log", same, cosignerAsLog, "not signed by any trusted key");
    add(
        "size altered", [&](TlogProof& p) { p.checkpoint.replace(text_.find("\n13\n"), 4, "\n12\n"); }, trusted_,
        "the signature of " + logLabel + " does not verify: the checkpoint was altered");
    add(
        "a second trusted signature fails",
        [&](TlogProof& p) { p.checkpoint = signedCheckpoint({signNoteText(second, "another text\n")}); }, both,
        "the signature of orv.example/second+");
    add(
        "cosignature time altered",
        [&](TlogProof& p) {
            Note note = noteOf(p.checkpoint);
            note.signatures[1].signature[7] ^= 1;
            p.checkpoint = noteMessage(note);
        },
        trusted_, "the cosignature of witness " + witnessLabel + " does not verify");
    add(
        "other event", [&](TlogProof& p) { p.extra = events_[7]; }, trusted_,
        "the event is not in the signed tree: the proof does not lead to the checkpoint's root");
    add(
        "path altered", [&](TlogProof& p) { p.path[1][0] ^= 1; }, trusted_, "the proof does not lead to");
    add(
        "position past the tree", [&](TlogProof& p) { p.index = 13; }, trusted_, "position 13 is past");
    add(
        "no event", [&](TlogProof& p) { p.extra.reset(); }, trusted_, "does not carry the event");
    add(
        "unreadable checkpoint", [&](TlogProof& p) { p.checkpoint = text_; }, trusted_,
        "the checkpoint cannot be read");

    for (const Case& c : cases) {
        const ProofCheck check = checkProof(c.proof, c.trusted, witnesses_);
        EXPECT_FALSE(check.valid) << c.what;
        EXPECT_NE(check.problem.find(c.problem), std::string::npos) << c.what << "\n -> " << check.problem;
    }
}

TEST_F(TlogProofTest, AProofIsReadAsAnEventNumberedByItsPlace)
{
    // The fixture's leaves are no events.
    const ProofReading notEvents = readProof(proofText(proofOf(3)), trusted_, witnesses_);
    EXPECT_FALSE(notEvents.valid);
    EXPECT_EQ(notEvents.problem.find("the proof's extra data is no event of the ledger: the length of number"), 0u)
        << notEvents.problem;
    EXPECT_EQ(notEvents.signedBy, std::vector<std::string>{labelOf(log_)});

    // A tree of three events whose second says it is event 5.
    std::vector<std::string> forms;
    std::vector<Hash> leaves;
    for (const std::int64_t number : {1, 5, 3}) {
        Event e;
        e.number = number;
        e.timeUtc = "2026-03-05T06:07:09.123Z";
        e.officerAfter = "P-" + std::to_string(number);
        forms.push_back(canonicalForm(e));
        leaves.push_back(leafHash(forms.back()));
    }
    const std::string text = checkpointText({"orv.example/ledger", leaves.size(), rootOf(leaves)});
    const std::string note = noteMessage(Note{text, {signNoteText(log_, text)}});
    const auto proofAt = [&](std::uint64_t index) {
        return proofText({forms[index], index, inclusionProof(leaves, index), note});
    };
    const ProofReading first = readProof(proofAt(0), trusted_, witnesses_);
    ASSERT_TRUE(first.valid) << first.problem;
    ASSERT_TRUE(first.event && first.checkpoint);
    EXPECT_EQ(first.event->officerAfter, "P-1");
    EXPECT_EQ(first.checkpoint->size, 3u);
    EXPECT_TRUE(first.cosignedBy.empty());
    EXPECT_EQ(readProof(proofAt(0), trusted_, witnesses_, "orv.example/other").problem,
              "a proof of another ledger: the checkpoint's origin is orv.example/ledger, not orv.example/other");

    const ProofReading misnumbered = readProof(proofAt(1), trusted_, witnesses_);
    EXPECT_FALSE(misnumbered.valid);
    EXPECT_FALSE(misnumbered.event) << "a refused proof shows no event";
    EXPECT_EQ(misnumbered.problem, "the event in the proof says it is event 5, but the proof places it as event 2 of "
                                   "the tree");
    const ProofReading noProof = readProof("c2sp.org/tlog-proof@v1\n", trusted_, witnesses_);
    EXPECT_EQ(noProof.problem.find("it is not a proof of an event: "), 0u) << noProof.problem;
}

// ---- the canonical form read back ----

Event fullEvent()
{
    Event e;
    e.number = 7;
    e.timeUtc = "2026-03-05T06:07:09.123Z";
    e.utcOffsetMinutes = -330;
    e.station = "desk-1";
    e.operatorName = "anna";
    e.tool = "orvctl";
    e.toolVersion = "1.0.0.2";
    e.kind = "provision";
    e.deviceId = "ORV202600001";
    e.where = "usb0 192.168.2.158";
    e.officerAfter = "P-001";
    e.unitAfter = "North\nunit_after:0:\n"; // a value that looks like the next field
    e.setupName = "setup.xml";
    e.setupSha256 = std::string(64, 'a');
    e.groups = "wifi, device";
    e.result = "ok";
    e.clockOffsetSeconds = -12;
    return e;
}

TEST(CanonicalForm, ReadsBackExactlyTheFormItWasRead)
{
    Event noOffset = fullEvent();
    noOffset.clockOffsetSeconds.reset();
    noOffset.number = std::numeric_limits<std::int64_t>::max();
    Event empty;
    for (const Event& e : {fullEvent(), noOffset, empty}) {
        const std::string form = canonicalForm(e);
        std::string error;
        const std::optional<Event> read = parseCanonicalForm(form, error);
        ASSERT_TRUE(read) << error << "\n" << form;
        EXPECT_EQ(canonicalForm(*read), form);
        EXPECT_EQ(read->number, e.number);
        EXPECT_EQ(read->utcOffsetMinutes, e.utcOffsetMinutes);
        EXPECT_EQ(read->unitAfter, e.unitAfter);
        EXPECT_EQ(read->clockOffsetSeconds, e.clockOffsetSeconds);
    }
}

TEST(CanonicalForm, EveryOtherTextIsRefused)
{
    const std::string form = canonicalForm(fullEvent());
    const auto changed = [&](const std::string& from, const std::string& to) {
        std::string text = form;
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    const std::string last = "clock_offset_seconds:3:-12\n";
    expectRefused(
        {{"", "does not start"},
         {"orv-ledger-event 3" + form.substr(18), "does not start"},
         {"orv-ledger-event 2" + form.substr(18), "field 21 is not event_id"},
         {changed("number:1:7\n", "number:2:07\n"), "its number is not a number in plain decimal"},
         {changed("number:1:7\n", "number:2:+7\n"), "its number is not a number"},
         {changed("number:1:7\n", "number:1: \n"), "its number is not a number"},
         {changed("number:1:", "number:01:"), "the length of number is not"},
         {changed("number:1:", "number:+1:"), "the length of number is not"},
         {changed("number:1:", "number:-1:"), "the length of number is not"},
         {changed("officer_after:5:", "officer_after:99999999999999999999:"), "the length of officer_after"},
         {changed("officer_after:5:", "officer_after:5"), "officer_after"},
         {changed("officer_after:5:", "officer_after:4:"), "the value of officer_after does not end"},
         {changed("officer_after:5:", "officer_after:6:"), "the value of officer_after does not end"},
         {changed("utc_offset_minutes:4:-330", "utc_offset_minutes:2:-0"), "utc_offset_minutes is not a number"},
         {changed("utc_offset_minutes:4:-330", "utc_offset_minutes:10:9999999999"),
          "utc_offset_minutes is out of range"},
         {changed(last, "clock_offset_seconds:1:x\n"), "clock_offset_seconds is not a number"},
         {changed("time_utc:", "station:"), "field 2 is not time_utc"},
         {changed("time_utc:", "time_utc "), "field 2 is not time_utc"},
         {form.substr(0, form.size() - last.size()), "field 20 is not clock_offset_seconds"},
         {form.substr(0, form.size() - 1), "the value of clock_offset_seconds does not end"},
         {form + "\n", "there is more after its last field"}},
        [](const std::string& text, std::string& error) { return parseCanonicalForm(text, error); });
}

} // namespace
