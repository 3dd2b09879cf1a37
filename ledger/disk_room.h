#pragma once
// Room on the station's disk for what a camera's work will record. A camera is not started while
// the disk that keeps its outcome (the ledger file, or the station's spool) has too little left:
// otherwise the camera would be set and its outcome then refused.

#include <cstdint>
#include <filesystem>
#include <string>

namespace orv::ledger {

// What is kept free. An outcome takes some 2.5 KB on average, but the step in which SQLite copies
// its write-ahead log into the database takes more at once: at most 144 KB for a ledger file and
// 192 KB for a spool over 2 000 events (ledger_bench --benchmark_filter=DiskPerOutcome). 1 MB
// covers that step five times over, and a few hundred outcomes.
inline constexpr std::uintmax_t kRoomForOutcomes = 1024 * 1024;

// Whether the disk that holds `file` has kRoomForOutcomes free. False with `why` ("NAMED: its disk
// has N KB free, ..."); true when the system cannot tell (the write itself says then).
bool diskHasRoomForOutcomes(const std::filesystem::path& file, const std::string& named, std::string& why);

} // namespace orv::ledger
