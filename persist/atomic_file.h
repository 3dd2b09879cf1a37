#pragma once
// Whole-file reads and crash-safe whole-file replacement for the program's small text files.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orv {

enum class ReadOutcome : std::uint8_t {
    Read,
    Missing, // no such file: callers start from an empty one
    Failed,  // exists but cannot be read (or is absurdly large): callers must not overwrite it
};

struct FileContents
{
    ReadOutcome outcome = ReadOutcome::Missing;
    std::string bytes;
};

// Files beyond this size are not settings or language files; reading one fails.
inline constexpr std::uintmax_t kMaxProfileFileSize = 16u * 1024 * 1024;

FileContents readWholeFile(const std::filesystem::path& file);

// A path as messages and files name it: UTF-8 (on Windows path::string() is the ANSI code page).
std::string pathUtf8(const std::filesystem::path& path);

// Replaces the file's contents with `bytes`: writes a temporary file beside it, flushes it to
// disk and renames it over the target, so the target holds either the old or the new contents,
// never a mix or nothing. An existing target that cannot be opened for writing (read-only,
// locked) is left alone. Returns false when the target was not replaced; no temporary remains.
// `beforeReplacing`, when given, runs once the new contents are whole on the disk, just before they
// take the file's place: false from it leaves the file as it was (what must be recorded before a
// file is handed out, such as a report's hash in the ledger).
// `newFile` says whom a file that did not exist yet is for: the usual permissions (the umask
// applies), or its owner's only (0600 on POSIX systems; a file that holds passwords). A replaced
// file keeps its own.
enum class NewFileAccess : std::uint8_t { Usual, OwnerOnly };
bool replaceFileContents(const std::filesystem::path& file, std::string_view bytes,
                         const std::function<bool()>& beforeReplacing = {},
                         NewFileAccess newFile = NewFileAccess::Usual);

// Test hook: from now on writes of temporary files stop after `bytes` bytes as if the disk were
// full; nullopt restores normal writing.
void simulateDiskFullAfter(std::optional<std::size_t> bytes);

} // namespace orv
