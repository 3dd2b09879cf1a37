// The RFC 6962 tree, its compact form and the proofs of RFC 9162. The proofs are built by the
// recursive definitions of RFC 9162 2.1.3.1 and 2.1.4.1 and checked by the iterative algorithms of
// 2.1.3.2 and 2.1.4.2, so that each half is checked against the other as well as against outside
// vectors.
#include "ledger/merkle.h"
#include "ledger/tlog_digest.h"

#include <openssl/evp.h>

#include <bit>
#include <cstdlib>
#include <memory>

namespace orv::ledger {
namespace detail {
namespace {

struct DigestContextFree
{
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

} // namespace

Hash sha256(std::initializer_list<std::string_view> parts)
{
    const std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    Hash digest{};
    unsigned length = 0;
    bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
    for (const std::string_view part : parts) {
        ok = ok && EVP_DigestUpdate(context.get(), part.data(), part.size()) == 1;
    }
    ok = ok && EVP_DigestFinal_ex(context.get(), digest.data(), &length) == 1 && length == digest.size();
    if (!ok) {
        std::abort();
    }
    return digest;
}

Hash nodeHashOfBytes(std::string_view left, std::string_view right)
{
    return sha256({std::string_view("\x01", 1), left, right});
}

} // namespace detail

namespace {

std::string_view bytesOf(const Hash& hash)
{
    return {reinterpret_cast<const char*>(hash.data()), hash.size()};
}

// The largest power of two strictly below n (n >= 2): where RFC 6962 splits a tree.
std::size_t splitOf(std::size_t n)
{
    return std::bit_floor(n - 1);
}

Hash subtreeRoot(std::span<const Hash> leaves)
{
    if (leaves.empty()) {
        return emptyRoot();
    }
    if (leaves.size() == 1) {
        return leaves[0];
    }
    const std::size_t k = splitOf(leaves.size());
    return nodeHash(subtreeRoot(leaves.first(k)), subtreeRoot(leaves.subspan(k)));
}

// PATH(m, D[n]) of RFC 9162 2.1.3.1.
void inclusionPath(std::size_t m, std::span<const Hash> leaves, std::vector<Hash>& out)
{
    if (leaves.size() <= 1) {
        return;
    }
    const std::size_t k = splitOf(leaves.size());
    if (m < k) {
        inclusionPath(m, leaves.first(k), out);
        out.push_back(subtreeRoot(leaves.subspan(k)));
    } else {
        inclusionPath(m - k, leaves.subspan(k), out);
        out.push_back(subtreeRoot(leaves.first(k)));
    }
}

// SUBPROOF(m, D[n], b) of RFC 9162 2.1.4.1, for 0 < m <= n.
void consistencyPath(std::size_t m, std::span<const Hash> leaves, bool whole, std::vector<Hash>& out)
{
    if (m == leaves.size()) {
        if (!whole) {
            out.push_back(subtreeRoot(leaves));
        }
        return;
    }
    const std::size_t k = splitOf(leaves.size());
    if (m <= k) {
        consistencyPath(m, leaves.first(k), whole, out);
        out.push_back(subtreeRoot(leaves.subspan(k)));
    } else {
        consistencyPath(m - k, leaves.subspan(k), false, out);
        out.push_back(subtreeRoot(leaves.first(k)));
    }
}

bool lsb(std::uint64_t v)
{
    return (v & 1u) != 0;
}

} // namespace

int detail::hexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

Hash leafHash(std::string_view data)
{
    return detail::sha256({std::string_view("\x00", 1), data});
}

Hash nodeHash(const Hash& left, const Hash& right)
{
    return detail::nodeHashOfBytes(bytesOf(left), bytesOf(right));
}

Hash emptyRoot()
{
    return detail::sha256({});
}

std::string hashHex(const Hash& hash)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(hash.size() * 2);
    for (const unsigned char b : hash) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 0x0F];
    }
    return hex;
}

std::optional<Hash> hashFromHex(std::string_view hex)
{
    Hash hash{};
    if (hex.size() != hash.size() * 2) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < hash.size(); ++i) {
        const int high = detail::hexDigit(hex[2 * i]);
        const int low = detail::hexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        hash[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return hash;
}

std::optional<CompactRange> CompactRange::fromNodes(std::uint64_t size, std::vector<Hash> nodes)
{
    if (nodes.size() != static_cast<std::size_t>(std::popcount(size))) {
        return std::nullopt;
    }
    CompactRange range;
    range.size_ = size;
    range.nodes_ = std::move(nodes);
    return range;
}

void CompactRange::append(const Hash& leaf)
{
    nodes_.push_back(leaf);
    // Each trailing one bit of the old size is a perfect subtree of the new leaf's height to merge.
    for (std::uint64_t s = size_; lsb(s); s >>= 1) {
        const Hash merged = nodeHash(nodes_[nodes_.size() - 2], nodes_.back());
        nodes_.pop_back();
        nodes_.back() = merged;
    }
    ++size_;
}

Hash CompactRange::root() const
{
    if (nodes_.empty()) {
        return emptyRoot();
    }
    Hash root = nodes_.back();
    for (std::size_t i = nodes_.size() - 1; i-- > 0;) {
        root = nodeHash(nodes_[i], root);
    }
    return root;
}

Hash rootOf(std::span<const Hash> leaves)
{
    return subtreeRoot(leaves);
}

std::vector<Hash> inclusionProof(std::span<const Hash> leaves, std::uint64_t index)
{
    std::vector<Hash> proof;
    if (index < leaves.size()) {
        inclusionPath(static_cast<std::size_t>(index), leaves, proof);
    }
    return proof;
}

MerkleTree::MerkleTree(std::vector<Hash> leaves)
{
    levels_.push_back(std::move(leaves));
    while (levels_.back().size() > 1) {
        const std::vector<Hash>& below = levels_.back();
        std::vector<Hash> level;
        level.reserve(below.size() / 2);
        for (std::size_t j = 0; j + 1 < below.size(); j += 2) {
            level.push_back(nodeHash(below[j], below[j + 1]));
        }
        levels_.push_back(std::move(level));
    }
}

Hash MerkleTree::rangeRoot(std::uint64_t start, std::uint64_t count) const
{
    if (std::has_single_bit(count)) {
        // Every subtree the tree splits into starts at a multiple of its own (power of two) size.
        const auto height = static_cast<std::size_t>(std::countr_zero(count));
        return levels_[height][static_cast<std::size_t>(start >> height)];
    }
    const std::uint64_t k = splitOf(static_cast<std::size_t>(count));
    return nodeHash(rangeRoot(start, k), rangeRoot(start + k, count - k));
}

Hash MerkleTree::root() const
{
    return size() == 0 ? emptyRoot() : rangeRoot(0, size());
}

void MerkleTree::path(std::uint64_t index, std::uint64_t start, std::uint64_t count, std::vector<Hash>& proof) const
{
    if (count <= 1) {
        return;
    }
    const std::uint64_t k = splitOf(static_cast<std::size_t>(count));
    if (index < start + k) {
        path(index, start, k, proof);
        proof.push_back(rangeRoot(start + k, count - k));
    } else {
        path(index, start + k, count - k, proof);
        proof.push_back(rangeRoot(start, k));
    }
}

std::vector<Hash> MerkleTree::inclusionProof(std::uint64_t index) const
{
    std::vector<Hash> proof;
    if (index < size()) {
        path(index, 0, size(), proof);
    }
    return proof;
}

bool verifyInclusion(std::uint64_t index, std::uint64_t size, const Hash& leaf, std::span<const Hash> proof,
                     const Hash& root)
{
    if (index >= size) {
        return false;
    }
    std::uint64_t fn = index;
    std::uint64_t sn = size - 1;
    Hash r = leaf;
    for (const Hash& p : proof) {
        if (sn == 0) {
            return false;
        }
        if (lsb(fn) || fn == sn) {
            r = nodeHash(p, r);
            while (!lsb(fn) && fn != 0) {
                fn >>= 1;
                sn >>= 1;
            }
        } else {
            r = nodeHash(r, p);
        }
        fn >>= 1;
        sn >>= 1;
    }
    return sn == 0 && r == root;
}

std::vector<Hash> consistencyProof(std::span<const Hash> leaves, std::uint64_t oldSize)
{
    std::vector<Hash> proof;
    if (oldSize > 0 && oldSize < leaves.size()) {
        consistencyPath(static_cast<std::size_t>(oldSize), leaves, true, proof);
    }
    return proof;
}

bool verifyConsistency(std::uint64_t oldSize, std::uint64_t newSize, const Hash& oldRoot, const Hash& newRoot,
                       std::span<const Hash> proof)
{
    if (oldSize > newSize) {
        return false;
    }
    if (oldSize == newSize) {
        return proof.empty() && oldRoot == newRoot && (oldSize > 0 || oldRoot == emptyRoot());
    }
    // Every tree extends the empty one: such a proof proves nothing and is refused, as other
    // verifiers refuse it.
    if (oldSize == 0 || proof.empty()) {
        return false;
    }
    std::size_t next = 0;
    Hash seed = oldRoot;
    if (!std::has_single_bit(oldSize)) {
        seed = proof[0];
        next = 1;
    }
    std::uint64_t fn = oldSize - 1;
    std::uint64_t sn = newSize - 1;
    while (lsb(fn)) {
        fn >>= 1;
        sn >>= 1;
    }
    Hash fr = seed;
    Hash sr = seed;
    for (; next < proof.size(); ++next) {
        const Hash& c = proof[next];
        if (sn == 0) {
            return false;
        }
        if (lsb(fn) || fn == sn) {
            fr = nodeHash(c, fr);
            sr = nodeHash(c, sr);
            while (!lsb(fn) && fn != 0) {
                fn >>= 1;
                sn >>= 1;
            }
        } else {
            sr = nodeHash(sr, c);
        }
        fn >>= 1;
        sn >>= 1;
    }
    return fr == oldRoot && sr == newRoot && sn == 0;
}

} // namespace orv::ledger
