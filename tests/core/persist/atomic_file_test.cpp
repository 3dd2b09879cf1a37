#include "persist/atomic_file.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

namespace fs = std::filesystem;

class AtomicFile : public ::testing::Test
{
protected:
    void TearDown() override { simulateDiskFullAfter(std::nullopt); }

    test::TempFolder folder;
    fs::path file = folder / "orv_setup.ini";
};

TEST_F(AtomicFile, AFullDiskLeavesTheOldFileAndNoTemporary)
{
    test::writeBytes(file, "[User]\nUserKey=1234\n");
    for (std::size_t after : {0u, 3u}) {
        simulateDiskFullAfter(after);
        EXPECT_FALSE(replaceFileContents(file, "[User]\nUserKey=5678\n")) << after;
        EXPECT_EQ(test::readBytes(file), "[User]\nUserKey=1234\n");
        EXPECT_EQ(folder.entryCount(), 1u);
    }
}

#ifndef _WIN32 // POSIX permission bits and links without special privileges
TEST_F(AtomicFile, KeepsThePermissionsOfTheFileItReplaces)
{
    test::writeBytes(file, "x");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(replaceFileContents(file, "y"));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(AtomicFile, WritesThroughALinkToTheFileItNames)
{
    const auto real = folder / "real.ini";
    test::writeBytes(real, "old");
    fs::create_symlink(real, file);
    ASSERT_TRUE(replaceFileContents(file, "new"));
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(test::readBytes(real), "new");
}
#endif

} // namespace
} // namespace orv
