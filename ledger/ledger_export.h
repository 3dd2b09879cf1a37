#pragma once
// The ledger as JSON Lines: everything needed to verify it with no database, exactly as stored.
//
//   {"format":"orvcamera-ledger","version":1,"origin":"...","head":{"number":N,"hash":"..."}}
//   {"event":{"number":1,"time_utc":"...", ... every field by its canonical name ...,
//             "previous_hash":"...","hash":"..."}}
//   ...
//   {"checkpoint":{"id":1,"tree_size":N,"recorded_utc":"...","note":"..."}}
//
// Texts are JSON strings (UTF-8 as stored), numbers JSON integers, an absent clock offset null.
// Each event's canonical form (event_hash.cpp) is rebuilt from its object, so any JSON reader can
// recompute the chain and the tree.

#include "ledger/ledger.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orv::ledger {

// The text of the export of `snapshot` (events that could not be read are left out, and said so
// by the gap they leave).
std::string jsonLinesExport(const LedgerSnapshot& snapshot);
// Written whole or not at all.
bool exportJsonLines(const LedgerSnapshot& snapshot, const std::filesystem::path& file, std::string& error);

// Reads an export back. Nullopt with `error` ("line 7: ...") when a line is not JSON, not one of
// the three records, or a value is missing or of the wrong type.
std::optional<LedgerSnapshot> parseJsonLinesExport(std::string_view text, std::string& error);
std::optional<LedgerSnapshot> readJsonLinesExport(const std::filesystem::path& file, std::string& error);

} // namespace orv::ledger
