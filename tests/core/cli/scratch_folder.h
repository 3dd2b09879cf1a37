#pragma once
// The tests' one temporary folder (tests/support/temp_folder.h) under the names the orvctl,
// provision and setup tests use: a fresh folder per test for setup files, inventories and exports.

#include "tests/support/temp_folder.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace orv::test {

using ScratchFolder = TempFolder;

inline void writeFile(const std::filesystem::path& file, std::string_view bytes)
{
    writeBytes(file, bytes);
}

inline std::string readFile(const std::filesystem::path& file)
{
    return readBytes(file);
}

} // namespace orv::test
