#pragma once
// Whole-file replacement that leaves the old file whole when anything fails.

#include <filesystem>
#include <string>
#include <string_view>

namespace orv::ledger::detail {

// Writes `bytes` to a new temporary file beside `file`, flushes it to disk and renames it over
// `file`. On failure `file` is as it was, no temporary remains, and `error` says why.
bool writeFileAtomically(const std::filesystem::path& file, std::string_view bytes, std::string& error);

} // namespace orv::ledger::detail
