#pragma once
// The ledger's Merkle tree: RFC 6962 section 2.1 over the events in number order (leaf i is event
// i + 1, its data the event's canonical form). Leaf hash SHA-256(0x00 || data), node hash
// SHA-256(0x01 || left || right), the split at the largest power of two below the size. Proofs
// are those of RFC 9162 section 2.1.3 (inclusion) and 2.1.4 (consistency), so that any
// implementation of those sections checks ours.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv::ledger {

using Hash = std::array<unsigned char, 32>;

Hash leafHash(std::string_view data);
Hash nodeHash(const Hash& left, const Hash& right);
// The root of the tree of no leaves: SHA-256 of nothing.
Hash emptyRoot();

std::string hashHex(const Hash& hash);
std::optional<Hash> hashFromHex(std::string_view hex);

// A tree that grows one leaf at a time and keeps only the roots of its perfect subtrees, largest
// first (at most 64): its root at any size costs O(log n), never a pass over the leaves. A tree
// grown from a kept state continues exactly as the one it was taken from.
class CompactRange
{
public:
    CompactRange() = default;
    // The state of a tree of `size` leaves as nodes() gave it; nullopt when the count of nodes is
    // not the number of one bits of `size`.
    static std::optional<CompactRange> fromNodes(std::uint64_t size, std::vector<Hash> nodes);

    void append(const Hash& leaf);
    std::uint64_t size() const { return size_; }
    Hash root() const; // emptyRoot() for no leaf
    const std::vector<Hash>& nodes() const { return nodes_; }

private:
    std::uint64_t size_ = 0;
    std::vector<Hash> nodes_;
};

// The root of the tree whose leaf hashes are `leaves`.
Hash rootOf(std::span<const Hash> leaves);

// The inclusion proof of leaf `index` in the tree of `leaves` (RFC 9162 2.1.3.1): from the leaf's
// sibling up to the root's child. Empty for a tree of one leaf; index must be below the size.
std::vector<Hash> inclusionProof(std::span<const Hash> leaves, std::uint64_t index);
// A tree whose every perfect subtree is kept (twice the leaves' hashes in all), for many proofs
// of one tree: its root and each inclusion proof cost O(log² n), never a pass over the leaves.
class MerkleTree
{
public:
    explicit MerkleTree(std::vector<Hash> leaves);

    std::uint64_t size() const { return levels_.front().size(); }
    Hash root() const; // emptyRoot() for no leaf
    // As inclusionProof(leaves, index) gives it; empty when index is not below the size.
    std::vector<Hash> inclusionProof(std::uint64_t index) const;

private:
    // The root of leaves [start, start + count), count above 0, as the tree splits them.
    Hash rangeRoot(std::uint64_t start, std::uint64_t count) const;
    void path(std::uint64_t index, std::uint64_t start, std::uint64_t count, std::vector<Hash>& proof) const;

    std::vector<std::vector<Hash>> levels_; // levels_[h][j]: the perfect subtree of 2^h leaves from j * 2^h
};
// Whether `proof` binds `leaf` at `index` to `root` in a tree of `size` leaves (RFC 9162 2.1.3.2).
bool verifyInclusion(std::uint64_t index, std::uint64_t size, const Hash& leaf, std::span<const Hash> proof,
                     const Hash& root);

// The consistency proof from the tree of the first `oldSize` of `leaves` to the tree of all of
// them (RFC 9162 2.1.4.1). Empty when oldSize is 0 or the whole size; oldSize must not exceed it.
std::vector<Hash> consistencyProof(std::span<const Hash> leaves, std::uint64_t oldSize);
// Whether `proof` shows that the tree of `oldSize` leaves with `oldRoot` is a prefix of the tree of
// `newSize` leaves with `newRoot` (RFC 9162 2.1.4.2; sizes equal: the roots must be, with no proof,
// and for size 0 both must be emptyRoot()). An old size of 0 below the new one is refused, as other
// verifiers refuse it: every tree extends the empty one, so a holder of an empty tree has nothing
// to check.
bool verifyConsistency(std::uint64_t oldSize, std::uint64_t newSize, const Hash& oldRoot, const Hash& newRoot,
                       std::span<const Hash> proof);

} // namespace orv::ledger
