// The ledger's RFC 6962 tree against outside vectors: the hashes, the roots of the reference
// leaves, and every inclusion and consistency probe of tests/data/merkle_vectors; then our own
// proofs of every pair of sizes through the verifiers.
#include "ledger/merkle.h"
#include "ledger/signed_note.h"
#include "ledger/tlog_digest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>

using namespace orv::ledger;

namespace {

Hash fromHex(std::string_view hex)
{
    const auto hash = hashFromHex(hex);
    EXPECT_TRUE(hash) << hex;
    return hash.value_or(Hash{});
}

std::string unhex(std::string_view hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    }
    return bytes;
}

// The eight reference leaves of the vectors and the roots of their trees of 0..8 leaves.
const std::vector<std::string> kLeafInputs = {
    "", "00", "10", "2021", "3031", "40414243", "5051525354555657", "606162636465666768696a6b6c6d6e6f"};
const char* const kRoots[] = {
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
    "6e340b9cffb37a989ca544e6bb780a2c78901d3fb33738768511a30617afa01d",
    "fac54203e7cc696cf0dfcb42c92a1d9dbaf70ad9e621f4bd8d98662f00e3c125",
    "aeb6bcfe274b70a14fb067a5e5578264db0fa9b51af5e0ba159158f329e06e77",
    "d37ee418976dd95753c1c73862b9398fa2a2cf9b4ff0fdfe8b30cd95209614b7",
    "4e3bbb1f7b478dcfe71fb631631519a3bca12c9aefca1612bfce4c13a86264d4",
    "76e67dadbcdf1e10e1b74ddc608abd2f98dfb16fbce75277b5232a127f2087ef",
    "ddb89be403809e325750d3d263cd78929c2942b7942a34b77e122c9594a74c8c",
    "5dc9da79a70659a9ad559cb701ded9a2ab9d823aad2f4960cfe370eff4604328",
};

std::vector<Hash> referenceLeaves()
{
    std::vector<Hash> leaves;
    for (const std::string& input : kLeafInputs) {
        leaves.push_back(leafHash(unhex(input)));
    }
    return leaves;
}

std::vector<Hash> numberedLeaves(std::size_t n)
{
    std::vector<Hash> leaves;
    for (std::size_t i = 0; i < n; ++i) {
        leaves.push_back(leafHash("event " + std::to_string(i)));
    }
    return leaves;
}

// RFC 6962's MTH written out plainly, with the split found by counting.
Hash naiveRoot(std::span<const Hash> leaves)
{
    if (leaves.empty()) {
        return emptyRoot();
    }
    if (leaves.size() == 1) {
        return leaves[0];
    }
    std::size_t k = 1;
    while (k * 2 < leaves.size()) {
        k *= 2;
    }
    return nodeHash(naiveRoot(leaves.first(k)), naiveRoot(leaves.subspan(k)));
}

TEST(MerkleHashing, Rfc6962Vectors)
{
    EXPECT_EQ(hashHex(emptyRoot()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hashHex(leafHash("")), "6e340b9cffb37a989ca544e6bb780a2c78901d3fb33738768511a30617afa01d");
    EXPECT_EQ(hashHex(leafHash("L123456")), "395aa064aa4c29f7010acfe3f25db9485bbd4b91897b6ad7ad547639252b4d56");
    EXPECT_EQ(hashHex(detail::nodeHashOfBytes("N123", "N456")),
              "aa217fe888e47007fa15edab33c2b492a722cb106c64667fc2b044444de66bbb");
    const Hash a = leafHash("Hello");
    const Hash b = leafHash("World");
    EXPECT_NE(nodeHash(a, b), nodeHash(b, a));
}

TEST(MerkleHashing, HexRoundTripsAndRefusesOtherTexts)
{
    const Hash root = fromHex(kRoots[8]);
    EXPECT_EQ(hashHex(root), kRoots[8]);
    EXPECT_EQ(hashFromHex("5DC9DA79A70659A9AD559CB701DED9A2AB9D823AAD2F4960CFE370EFF4604328"), root);
    for (const std::string& bad : {std::string(kRoots[8]).substr(2), std::string(kRoots[8]) + "00",
                                   "g" + std::string(kRoots[8]).substr(1), std::string()}) {
        EXPECT_FALSE(hashFromHex(bad)) << bad;
    }
}

TEST(MerkleTree, ReferenceRootsAndCompactNodes)
{
    const std::vector<Hash> leaves = referenceLeaves();
    CompactRange range;
    for (std::size_t n = 0; n <= leaves.size(); ++n) {
        const std::span<const Hash> prefix(leaves.data(), n);
        EXPECT_EQ(hashHex(rootOf(prefix)), kRoots[n]) << n;
        EXPECT_EQ(hashHex(range.root()), kRoots[n]) << n;
        if (n == 7) { // the perfect subtrees, largest first: leaves 0..3, 4..5, 6
            EXPECT_EQ(range.nodes(),
                      (std::vector<Hash>{rootOf(prefix.first(4)), rootOf(prefix.subspan(4, 2)), leaves[6]}));
        }
        if (n < leaves.size()) {
            range.append(leaves[n]);
        }
    }
}

TEST(MerkleTree, CompactRangeAgreesWithTheTreeAtEverySizeAndResumes)
{
    const std::vector<Hash> leaves = numberedLeaves(300);
    CompactRange range;
    for (std::size_t n = 0; n <= leaves.size(); ++n) {
        const std::span<const Hash> prefix(leaves.data(), n);
        const Hash expected = naiveRoot(prefix);
        ASSERT_EQ(rootOf(prefix), expected) << n;
        ASSERT_EQ(range.root(), expected) << n;
        ASSERT_EQ(range.size(), n);
        if (n % 37 == 0) {
            auto resumed = CompactRange::fromNodes(range.size(), range.nodes());
            ASSERT_TRUE(resumed);
            for (std::size_t m = n; m < std::min(n + 40, leaves.size()); ++m) {
                resumed->append(leaves[m]);
            }
            EXPECT_EQ(resumed->root(), naiveRoot(std::span<const Hash>(leaves.data(), resumed->size()))) << n;
            std::vector<Hash> extra = range.nodes();
            extra.push_back(leaves[0]);
            EXPECT_FALSE(CompactRange::fromNodes(n, extra)) << n;
        }
        if (n < leaves.size()) {
            range.append(leaves[n]);
        }
    }
}

// One probe file: a flat JSON object of numbers, booleans, base64 strings and the proof, an array
// of base64 strings or null. Values are kept as their text, strings without their quotes.
struct Probe
{
    std::string path;
    std::map<std::string, std::string> fields;

    std::uint64_t number(const char* name) const { return std::stoull(fields.at(name)); }
    bool wantErr() const { return fields.at("wantErr") == "true"; }
    std::string bytes(const std::string& name) const { return base64Decode(fields.at(name)).value(); }
    // A value of another length than a hash, widened with zero bytes: an equal value stays equal,
    // and none of the probes' short values widens into a real hash.
    Hash hash(const char* name) const { return widened(bytes(name)); }
    std::vector<Hash> proof() const
    {
        static const std::regex item(R"re("([^"]*)")re");
        std::vector<Hash> proof;
        const std::string& items = fields.at("proof");
        for (auto it = std::sregex_iterator(items.begin(), items.end(), item); it != std::sregex_iterator(); ++it) {
            proof.push_back(widened(base64Decode((*it)[1].str()).value()));
        }
        return proof;
    }
    static Hash widened(const std::string& bytes)
    {
        Hash hash{};
        std::copy_n(bytes.begin(), std::min(bytes.size(), hash.size()), hash.begin());
        return hash;
    }
};

std::vector<Probe> readProbes(const std::string& kind)
{
    static const std::regex field(R"re("(\w+)":\s*(?:"([^"]*)"|(\[[^\]]*\]|\w+)))re");
    std::vector<Probe> probes;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(std::string(ORV_MERKLE_VECTORS) + "/" + kind)) {
        if (entry.path().extension() != ".json") {
            continue;
        }
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        Probe probe{entry.path().string(), {}};
        for (auto it = std::sregex_iterator(text.begin(), text.end(), field); it != std::sregex_iterator(); ++it) {
            probe.fields[(*it)[1].str()] = (*it)[2].matched ? (*it)[2].str() : (*it)[3].str();
        }
        EXPECT_EQ(probe.fields.size(), 7u) << probe.path;
        probes.push_back(std::move(probe));
    }
    return probes;
}

TEST(MerkleVectors, EveryInclusionProbe)
{
    const std::vector<Probe> probes = readProbes("inclusion");
    ASSERT_EQ(probes.size(), 98u);
    const std::vector<Hash> leaves = referenceLeaves();
    std::size_t proofsCompared = 0;
    for (const Probe& p : probes) {
        const std::uint64_t index = p.number("leafIdx");
        const std::uint64_t size = p.number("treeSize");
        // A leaf hash of another length cannot be a leaf of ours (nor of any verifier's).
        const bool accepted = p.bytes("leafHash").size() == sizeof(Hash) &&
                              verifyInclusion(index, size, p.hash("leafHash"), p.proof(), p.hash("root"));
        EXPECT_EQ(accepted, !p.wantErr()) << p.path;
        if (accepted && size <= leaves.size() && hashHex(p.hash("root")) == kRoots[size]) {
            EXPECT_EQ(inclusionProof(std::span<const Hash>(leaves.data(), size), index), p.proof()) << p.path;
            const MerkleTree tree(std::vector<Hash>(leaves.begin(), leaves.begin() + static_cast<std::ptrdiff_t>(size)));
            EXPECT_EQ(tree.inclusionProof(index), p.proof()) << p.path;
            EXPECT_EQ(tree.root(), p.hash("root")) << p.path;
            ++proofsCompared;
        }
    }
    EXPECT_EQ(proofsCompared, 5u);
}

TEST(MerkleVectors, EveryConsistencyProbe)
{
    const std::vector<Probe> probes = readProbes("consistency");
    ASSERT_EQ(probes.size(), 98u);
    const std::vector<Hash> leaves = referenceLeaves();
    std::size_t proofsCompared = 0;
    for (const Probe& p : probes) {
        const std::uint64_t size1 = p.number("size1");
        const std::uint64_t size2 = p.number("size2");
        const bool accepted = verifyConsistency(size1, size2, p.hash("root1"), p.hash("root2"), p.proof());
        EXPECT_EQ(accepted, !p.wantErr()) << p.path;
        if (accepted && size2 <= leaves.size() && hashHex(p.hash("root2")) == kRoots[size2]) {
            EXPECT_EQ(consistencyProof(std::span<const Hash>(leaves.data(), size2), size1), p.proof()) << p.path;
            ++proofsCompared;
        }
    }
    EXPECT_EQ(proofsCompared, 5u);
}

Hash flipped(Hash h, std::size_t bit)
{
    h[bit / 8 % h.size()] ^= static_cast<unsigned char>(1u << (bit % 8));
    return h;
}

// The tree that keeps its levels answers as the one computed from the leaves each time, at every
// size up to three powers of two and past them.
TEST(MerkleProofs, AKeptTreeGivesTheSameRootAndProofsAtEverySize)
{
    const std::vector<Hash> all = numberedLeaves(70);
    EXPECT_EQ(MerkleTree({}).root(), emptyRoot());
    EXPECT_TRUE(MerkleTree({}).inclusionProof(0).empty());
    for (std::size_t n = 1; n <= all.size(); ++n) {
        const std::span<const Hash> leaves(all.data(), n);
        const MerkleTree tree(std::vector<Hash>(leaves.begin(), leaves.end()));
        ASSERT_EQ(tree.root(), rootOf(leaves)) << n;
        for (std::uint64_t i = 0; i <= n; ++i) {
            ASSERT_EQ(tree.inclusionProof(i), inclusionProof(leaves, i)) << n << " " << i;
        }
    }
}

TEST(MerkleProofs, InclusionOfEveryLeafOfEverySizeTo40)
{
    const std::vector<Hash> all = numberedLeaves(41);
    for (std::uint64_t n = 1; n <= 40; ++n) {
        const std::span<const Hash> leaves(all.data(), n);
        const Hash root = rootOf(leaves);
        for (std::uint64_t i = 0; i < n; ++i) {
            std::vector<Hash> proof = inclusionProof(leaves, i);
            ASSERT_TRUE(verifyInclusion(i, n, leaves[i], proof, root)) << n << " " << i;
            EXPECT_FALSE(verifyInclusion(i, n, all[n], proof, root));
            EXPECT_FALSE(verifyInclusion(i, n, leaves[i], proof, flipped(root, i)));
            if (i + 1 < n) {
                EXPECT_FALSE(verifyInclusion(i + 1, n, leaves[i], proof, root));
            }
            for (std::size_t k = 0; k < proof.size(); ++k) {
                std::vector<Hash> altered = proof;
                altered[k] = flipped(altered[k], k * 11 + i);
                EXPECT_FALSE(verifyInclusion(i, n, leaves[i], altered, root)) << n << " " << i << " " << k;
            }
            // One hash more than the tree's height, even one that leads to the root given.
            proof.push_back(root);
            EXPECT_FALSE(verifyInclusion(i, n, leaves[i], proof, root));
            EXPECT_FALSE(verifyInclusion(i, n, leaves[i], proof, nodeHash(root, root)));
            proof.pop_back();
            if (!proof.empty()) {
                proof.pop_back();
                EXPECT_FALSE(verifyInclusion(i, n, leaves[i], proof, root));
            }
        }
        EXPECT_TRUE(inclusionProof(leaves, n).empty());
        EXPECT_FALSE(verifyInclusion(n, n, leaves[0], {}, root));
    }
}

TEST(MerkleProofs, ConsistencyOfEveryPairOfSizesTo40)
{
    const std::vector<Hash> all = numberedLeaves(40);
    for (std::uint64_t n = 1; n <= 40; ++n) {
        const std::span<const Hash> leaves(all.data(), n);
        const Hash newRoot = rootOf(leaves);
        for (std::uint64_t m = 1; m <= n; ++m) {
            const Hash oldRoot = rootOf(leaves.first(m));
            std::vector<Hash> proof = consistencyProof(leaves, m);
            ASSERT_TRUE(verifyConsistency(m, n, oldRoot, newRoot, proof)) << m << " " << n;
            EXPECT_EQ(proof.empty(), m == n);
            EXPECT_FALSE(verifyConsistency(m, n, flipped(oldRoot, m), newRoot, proof)) << m << " " << n;
            EXPECT_FALSE(verifyConsistency(m, n, oldRoot, flipped(newRoot, n), proof)) << m << " " << n;
            if (m < n) {
                EXPECT_FALSE(verifyConsistency(m + 1, n, oldRoot, newRoot, proof)) << m << " " << n;
                EXPECT_FALSE(verifyConsistency(m, n, oldRoot, newRoot, {})) << m << " " << n;
                EXPECT_FALSE(verifyConsistency(n, m, newRoot, oldRoot, proof)) << m << " " << n;
            }
            for (std::size_t k = 0; k < proof.size(); ++k) {
                std::vector<Hash> altered = proof;
                altered[k] = flipped(altered[k], k * 7 + m);
                EXPECT_FALSE(verifyConsistency(m, n, oldRoot, newRoot, altered)) << m << " " << n << " " << k;
            }
            proof.push_back(newRoot);
            EXPECT_FALSE(verifyConsistency(m, n, oldRoot, newRoot, proof)) << m << " " << n;
        }
        // Nothing to prove from the empty tree; the empty tree is only itself.
        EXPECT_TRUE(consistencyProof(leaves, 0).empty());
        EXPECT_FALSE(verifyConsistency(0, n, emptyRoot(), newRoot, {}));
        EXPECT_FALSE(verifyConsistency(n, n - 1, newRoot, newRoot, {}));
    }
    // A smaller new tree is refused, even with a proof long enough to walk 64 levels to its root.
    const std::vector<Hash> path(64, all[1]);
    Hash forged = all[0];
    for (const Hash& h : path) {
        forged = nodeHash(forged, h);
    }
    EXPECT_FALSE(verifyConsistency(1, 0, all[0], forged, path));
    EXPECT_TRUE(verifyConsistency(0, 0, emptyRoot(), emptyRoot(), {}));
    EXPECT_FALSE(verifyConsistency(0, 0, all[0], all[0], {}));
}

} // namespace
