#pragma once
// Files the ledger's evidence keeps on the station's own disk, at the level of the system's file
// descriptors: what is written is on the disk before it counts, several programs add to one file
// one at a time, and a file made once is never replaced. Private to ledger/.

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace orv::ledger::detail {

using Descriptor = int;

// Opened for reading and adding at its end, made 0600 when missing; -1 with errno otherwise.
Descriptor openForAppending(const std::filesystem::path& file);
// All of `bytes` written, then flushed to the disk.
bool writeThrough(Descriptor fd, std::string_view bytes);
void closeDescriptor(Descriptor fd);
// Waits until no other program holds the file; held until the descriptor is closed.
bool lockExclusively(Descriptor fd);
std::int64_t sizeOf(Descriptor fd); // -1 when it cannot be told
bool readAt(Descriptor fd, std::int64_t at, char* into, unsigned length);
// Cut back to `size` bytes, on the disk.
bool truncateTo(Descriptor fd, std::int64_t size);
// A new file's name is durable once its folder is (nothing to do on Windows).
void syncFolder(const std::filesystem::path& folder);

// Writes `bytes` as `file` only when there is no such file yet: a file two processes make at once
// is one of the two, never a mix, and never replaced once made. False with errno when it cannot be
// written; true with `existed` when another was there first.
bool createFileOnce(const std::filesystem::path& file, std::string_view bytes, bool& existed);

} // namespace orv::ledger::detail
