#pragma once
// Appending to a file that is only ever added to (an inventory, a list of device ids): each piece
// whole or not at all. A disk that fills takes part of what was written; that part is cut off
// again, so the file holds what it held and no line is torn.

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace orv {

// Writes `bytes` at the end of `stream` (opened for appending) and through to the disk, or leaves
// the file as it was and returns false with errno set.
bool appendWhole(std::FILE* stream, std::string_view bytes);

// The same for a file opened, created when missing (with the usual permissions), and closed
// again. False with `error` (the system's reason) when it could not be done; a file this call made
// is then removed again.
bool appendWholeToFile(const std::filesystem::path& file, std::string_view bytes, std::string& error);

// The same for text, written as UTF-16LE without a byte-order mark (the lists and logs that
// Windows programs of the field read).
bool appendUtf16LeToFile(const std::filesystem::path& file, std::u16string_view text, std::string& error);

} // namespace orv
