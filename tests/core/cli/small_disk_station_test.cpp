// The station's spool and a device-id export on a disk that fills: a small file system of the
// test's own (tests/faults/small_disk_run.sh) holds the station's folder (its key, witness file
// and spool for a real PostgreSQL database) or the export, and is filled to the last byte before
// orvctl writes there. Skipped unless ORV_SMALL_DISK names such a disk.
#include "ledger/spool.h"
#include "tests/core/cli/orvctl_fixture.h"
#include "tests/support/small_disk.h"
#include "tests/support/start_postgres.h"

#include <gmock/gmock.h>

#include <cstdlib>

namespace orv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class SmallDiskStation : public OrvctlTest
{
protected:
    void SetUp() override
    {
        const auto disk = smallDisk();
        if (!disk) {
            GTEST_SKIP() << "no small disk of the test's own (tests/faults/small_disk_run.sh gives one)";
        }
        disk_ = *disk;
        emptyFolder(disk_);
        OrvctlTest::SetUp();
    }
    void TearDown() override
    {
        ::unsetenv("ORV_STATION_FOLDER");
        if (!disk_.empty()) {
            emptyFolder(disk_);
        }
        OrvctlTest::TearDown();
    }

    void fullSpoolStartsNoCamera(bool heldOpen);

    std::filesystem::path disk_;
};

// With and without another program of the account holding the spool open (its write-ahead log
// and shared memory then stay, and opening it needs no room): either way no camera is started
// while the spool has no room for its outcome, and the message says which file and why.
void SmallDiskStation::fullSpoolStartsNoCamera(bool heldOpen)
{
    PostgresServer& server = PostgresServer::shared();
    START_POSTGRES(server, database);
    const std::string location = server.socketLocation(database);
    const std::filesystem::path station = disk_ / "station";
    ::setenv("ORV_STATION_FOLDER", station.c_str(), 1);
    const OrvctlRun first = run({"--ledger", location, "set", "wifi", "ssid=Before"});
    ASSERT_EQ(first.code, 0) << first.err;
    const std::filesystem::path spoolFile = ledger::Spool::fileFor(station, location);
    ASSERT_TRUE(std::filesystem::exists(spoolFile));
    std::unique_ptr<ledger::Spool> held;
    if (heldOpen) {
        std::string error;
        held = ledger::Spool::open(spoolFile, error);
        ASSERT_TRUE(held) << error;
    }
    const std::string spoolBefore = readFile(spoolFile);
    const std::size_t frames = camera->receivedFrames().size();

    ASSERT_TRUE(fillDisk(disk_));
    const OrvctlRun full = run({"--ledger", location, "set", "wifi", "ssid=Full"});
    EXPECT_NE(full.code, 0) << full.out;
    EXPECT_THAT(full.err, HasSubstr("the station's spool " + spoolFile.string() + ": "));
    EXPECT_THAT(full.err, HasSubstr("nothing was sent"));
    EXPECT_THAT(full.err, Not(HasSubstr("not a SQLite database"))) << "a full disk is no damaged spool";
    EXPECT_EQ(camera->receivedFrames().size(), frames) << "a camera was started whose outcome had no room";
    EXPECT_EQ(readFile(spoolFile), spoolBefore);

    makeRoom(disk_);
    const OrvctlRun after = run({"--ledger", location, "set", "wifi", "ssid=After"});
    EXPECT_EQ(after.code, 0) << after.err;
    held.reset();
    const OrvctlRun verify = run({"--ledger", location, "ledger", "verify"});
    EXPECT_EQ(verify.code, 0) << verify.out << verify.err;
    EXPECT_THAT(verify.out, HasSubstr("intact: 2 events"));
}

TEST_F(SmallDiskStation, AFullDiskStartsNoCameraWhoseOutcomeTheSpoolCannotKeep)
{
    fullSpoolStartsNoCamera(false);
}

TEST_F(SmallDiskStation, AFullDiskStartsNoCameraWhileAnotherProgramHoldsTheSpool)
{
    fullSpoolStartsNoCamera(true);
}

// A new device-id list that the full disk takes no byte of is not left behind empty.
TEST_F(SmallDiskStation, ANewDeviceIdExportIsNotLeftBehind)
{
    const std::filesystem::path ids = disk_ / "ids.txt";
    ASSERT_TRUE(fillDisk(disk_));
    const OrvctlRun full = run({"export-id", ids.string()});
    EXPECT_NE(full.code, 0) << full.out;
    EXPECT_THAT(full.err, HasSubstr(ids.string()));
    EXPECT_FALSE(std::filesystem::exists(ids)) << "an empty list was left behind";

    makeRoom(disk_);
    const OrvctlRun after = run({"export-id", ids.string()});
    EXPECT_EQ(after.code, 0) << after.err;
    const std::u16string line = u"ORV202600001\r\n";
    EXPECT_EQ(std::filesystem::file_size(ids), line.size() * 2);
}

} // namespace
} // namespace orv::test
