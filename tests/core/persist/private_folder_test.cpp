// OrvCamera's own folders and what is written in them are their owner's only, whatever the umask;
// files elsewhere keep the permissions they have. Modes are read with stat, which tells the same
// as root as it does for anyone.

#include "persist/private_folder.h"

#include "persist/atomic_file.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace orv {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32

unsigned modeOf(const fs::path& path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFF;
}

// The usual umask of a desktop session, which alone would give 0755 folders and 0644 files.
class PrivateFolder : public ::testing::Test
{
protected:
    void SetUp() override { savedUmask = ::umask(022); }
    void TearDown() override { ::umask(savedUmask); }

    mode_t savedUmask = 0;
    test::TempFolder folder;
};

TEST_F(PrivateFolder, MissingFoldersAreMadeForTheirOwnerOnly)
{
    const fs::path config = folder / "home" / ".config";
    const fs::path own = config / "OrvCamera";
    ASSERT_TRUE(usePrivateFolder(own));
    EXPECT_EQ(modeOf(own), 0700u);
    EXPECT_EQ(modeOf(config), 0700u);
    EXPECT_EQ(modeOf(folder / "home"), 0700u);
    EXPECT_TRUE(isPrivateFolder(own));
    EXPECT_TRUE(isPrivateFolder(config / "." / "OrvCamera" / ""));
    EXPECT_FALSE(isPrivateFolder(config));
}

TEST_F(PrivateFolder, AnExistingFolderIsTightenedAndItsParentsLeftAlone)
{
    const fs::path own = folder / "OrvCamera";
    fs::create_directory(own);
    fs::permissions(own, fs::perms::owner_all | fs::perms::group_all | fs::perms::others_read | fs::perms::others_exec);
    const unsigned parentMode = modeOf(folder.path());
    ASSERT_TRUE(usePrivateFolder(own));
    EXPECT_EQ(modeOf(own), 0700u);
    EXPECT_EQ(modeOf(folder.path()), parentMode);
}

TEST_F(PrivateFolder, WhatCannotBeAFolderIsRefused)
{
    test::writeBytes(folder / "file", "x");
    EXPECT_FALSE(usePrivateFolder(folder / "file"));
    EXPECT_FALSE(usePrivateFolder(folder / "file" / "below"));
    EXPECT_FALSE(isPrivateFolder(folder / "file"));
    EXPECT_FALSE(usePrivateFolder({}));
}

TEST_F(PrivateFolder, FilesWrittenThereAreTheOwnersOnly)
{
    const fs::path own = folder / "OrvCamera";
    ASSERT_TRUE(usePrivateFolder(own));
    ASSERT_TRUE(replaceFileContents(own / "orv_setup.ini", "[User]\n"));
    EXPECT_EQ(modeOf(own / "orv_setup.ini"), 0600u);

    // One an older version left readable to everyone.
    test::writeBytes(own / "orv_searchtool.ini", "[Window]\n");
    fs::permissions(own / "orv_searchtool.ini",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    ASSERT_TRUE(replaceFileContents(own / "orv_searchtool.ini", "[Ledger]\n"));
    EXPECT_EQ(modeOf(own / "orv_searchtool.ini"), 0600u);
    EXPECT_EQ(test::readBytes(own / "orv_searchtool.ini"), "[Ledger]\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(own), {}), 2); // no temporary left
}

TEST_F(PrivateFolder, FilesElsewhereKeepTheirPermissions)
{
    ASSERT_TRUE(usePrivateFolder(folder / "OrvCamera"));
    const fs::path program = folder / "program";
    fs::create_directory(program);
    ASSERT_TRUE(replaceFileContents(program / "orv_setup.ini", "new"));
    EXPECT_EQ(modeOf(program / "orv_setup.ini"), 0644u);
    fs::permissions(program / "orv_setup.ini",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::group_write);
    ASSERT_TRUE(replaceFileContents(program / "orv_setup.ini", "again"));
    EXPECT_EQ(modeOf(program / "orv_setup.ini"), 0660u);

    // A link in the private folder to a file of the operator's elsewhere: that file stays as it was.
    fs::create_symlink(program / "orv_setup.ini", folder / "OrvCamera" / "linked.ini");
    ASSERT_TRUE(replaceFileContents(folder / "OrvCamera" / "linked.ini", "through"));
    EXPECT_EQ(modeOf(program / "orv_setup.ini"), 0660u);
}

TEST_F(PrivateFolder, RestrictToOwnerTakesOnlyGroupAndOtherBitsOff)
{
    const fs::path file = folder / "orv_ledger.db";
    test::writeBytes(file, "");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::group_write | fs::perms::others_read);
    EXPECT_TRUE(restrictToOwner(file));
    EXPECT_EQ(modeOf(file), 0600u);
    fs::permissions(file, fs::perms::owner_read);
    EXPECT_TRUE(restrictToOwner(file));
    EXPECT_EQ(modeOf(file), 0400u);
    EXPECT_FALSE(restrictToOwner(folder / "missing"));
}

#endif

TEST(PrivateFolderPaths, SameFolderWhateverTheSpelling)
{
    test::TempFolder folder;
    EXPECT_TRUE(sameFolder(folder / "a", folder / "b" / ".." / "a"));
    EXPECT_TRUE(sameFolder(folder / "a" / "", folder / "a"));
    EXPECT_FALSE(sameFolder(folder / "a", folder / "b"));
}

} // namespace
} // namespace orv
