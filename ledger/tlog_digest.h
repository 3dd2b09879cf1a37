#pragma once
// SHA-256 as the tree, the notes and the keys use it; private to ledger/ (and its tests).

#include "ledger/merkle.h"

#include <initializer_list>
#include <string_view>

namespace orv::ledger::detail {

// SHA-256 over the parts in order. Aborts when libcrypto refuses SHA-256, as event_hash.cpp does:
// a ledger without hashes must not be written.
Hash sha256(std::initializer_list<std::string_view> parts);

// SHA-256(0x01 || left || right) for children of any length: nodeHash itself, reachable by the
// RFC 6962 vector whose children are not hashes.
Hash nodeHashOfBytes(std::string_view left, std::string_view right);

// The value of one hex digit (either case), or -1.
int hexDigit(char c);

} // namespace orv::ledger::detail
