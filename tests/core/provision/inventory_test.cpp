// The fleet inventory: opened (and created with its header) before anything is sent, appended to
// under its own header only, older files kept in their own form, and read back for a retry.
#include "provision/inventory.h"
#include "tests/core/cli/scratch_folder.h"

#include <gmock/gmock.h>

#include <fstream>
#include <iterator>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace orv::test {
namespace {

using ::testing::HasSubstr;

std::string readAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

const provision::FleetInventoryRow kRow{
    "2026-03-05 14:07:09", "usb0 192.168.2.158", u"CAM-1", u"=P1", "differs", "wifi.ssid, device.policeId", -3};

TEST(FleetInventory, AppendsUnderItsOwnHeaderOnlyAndNeverRewrites)
{
    ScratchFolder folder;
    const auto file = folder / "inv.csv";
    const std::string withClock(provision::kFleetInventoryHeader);
    const std::string withoutClock(provision::kFleetInventoryHeaderWithoutClock);
    struct Row
    {
        const char* before; // nullptr: no file
        bool opens;
        const char* rowEnd; // how the row appended ends
    };
    const Row rows[] = {
        {nullptr, true, ",-3\r\n"},
        {"", true, ",-3\r\n"},
        {"time,interface_or_address,device_id,officer_id,result,differences,clock_offset_s\r\nold row\r\n", true,
         ",-3\r\n"},
        // Written before the clock was measured: the rows keep that file's six columns.
        {"time,interface_or_address,device_id,officer_id,result,differences\r\nold row\r\n", true, "\r\n"},
        {"time,device_id,officer_id,result\r\n", false, ""}, // the one-camera inventory: other columns
        {"time,interface", false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.before ? row.before : "(no file)");
        std::filesystem::remove(file);
        if (row.before) {
            writeFile(file, row.before);
        }
        provision::FleetInventory inventory;
        std::string error;
        ASSERT_EQ(inventory.open(file, error), row.opens) << error;
        if (!row.opens) {
            EXPECT_THAT(error, HasSubstr("first line"));
            EXPECT_EQ(readAll(file), row.before) << "a refused file is left as it was";
            continue;
        }
        const std::string kept = row.before && *row.before ? row.before : withClock;
        EXPECT_EQ(readAll(file), kept) << "the header is there before any camera is worked on";
        ASSERT_TRUE(inventory.append(kRow));
        const std::string line =
            "2026-03-05 14:07:09,usb0 192.168.2.158,CAM-1,'=P1,differs,\"wifi.ssid, device.policeId\"";
        EXPECT_EQ(readAll(file), kept + line + row.rowEnd);
    }
}

TEST(FleetInventory, AFileThatCannotBeCreatedIsFoundBeforeAnythingIsSent)
{
    ScratchFolder folder;
    provision::FleetInventory inventory;
    std::string error;
    EXPECT_FALSE(inventory.open(folder / "no such folder" / "inv.csv", error));
    EXPECT_THAT(error, HasSubstr("cannot be created"));
    EXPECT_FALSE(inventory.append(kRow)) << "nothing is taken once the open failed";

    provision::Inventory single;
    EXPECT_FALSE(single.open(folder / "no such folder" / "inv.csv", error));
    ASSERT_TRUE(single.open(folder / "single.csv", error)) << error;
    EXPECT_EQ(readAll(folder / "single.csv"), provision::kInventoryHeader);
}

#ifndef _WIN32
// An inventory names officers and cameras: one OrvCamera creates is its owner's only, whatever the
// umask; one that was there keeps the permissions its owner gave it.
TEST(FleetInventory, ANewFileIsTheOwnersOnly)
{
    ScratchFolder folder;
    const mode_t saved = ::umask(022);
    const auto modeOf = [](const std::filesystem::path& file) {
        struct stat st
        {
        };
        return ::stat(file.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFFu;
    };
    std::string error;
    provision::FleetInventory fleet;
    EXPECT_TRUE(fleet.open(folder / "orv_inventory.csv", error)) << error;
    EXPECT_TRUE(fleet.append(kRow));
    provision::Inventory single;
    EXPECT_TRUE(single.open(folder / "single.csv", error)) << error;

    writeFile(folder / "shared.csv", std::string(provision::kFleetInventoryHeader));
    std::filesystem::permissions(folder / "shared.csv", std::filesystem::perms::group_write,
                                 std::filesystem::perm_options::add);
    provision::FleetInventory shared;
    EXPECT_TRUE(shared.open(folder / "shared.csv", error)) << error;
    EXPECT_TRUE(shared.append(kRow));
    ::umask(saved);

    EXPECT_EQ(modeOf(folder / "orv_inventory.csv"), 0600u);
    EXPECT_EQ(modeOf(folder / "single.csv"), 0600u);
    EXPECT_EQ(modeOf(folder / "shared.csv"), 0664u);
}
#endif

TEST(FleetInventory, TheLastOutcomeOfEachCameraIsReadBack)
{
    ScratchFolder folder;
    const auto file = folder / "inv.csv";
    {
        provision::FleetInventory inventory;
        std::string error;
        ASSERT_TRUE(inventory.open(file, error)) << error;
        const auto row = [](const char* where, const char16_t* id, const char* result) {
            return provision::FleetInventoryRow{"2026-03-05 14:07:09", where, id, u"P", result, "", std::nullopt};
        };
        ASSERT_TRUE(inventory.append(row("usb0", u"CAM-1", "failed: no connection: refused")));
        ASSERT_TRUE(inventory.append(row("usb1", u"CAM-2", "ok")));
        ASSERT_TRUE(inventory.append(row("usb0", u"CAM-1", "ok"))); // retried, now ok
        ASSERT_TRUE(inventory.append(row("usb1", u"CAM-2", "check: differs")));
        ASSERT_TRUE(inventory.append(row("usb2", u"", "failed: login refused for user admin")));
        ASSERT_TRUE(inventory.append(row("usb3", u"-CAM, \"4\"", "differs")));
        // What only looks like a guard is kept as it is; a place is read back as it was given.
        ASSERT_TRUE(inventory.append(row("=usb4", u"", "'-failed")));
        ASSERT_TRUE(inventory.append(row("usb5", u"'+CAM-5", "ok")));
    }
    const provision::InventoryHistory history = provision::readInventoryHistory(file);
    ASSERT_EQ(history.problem, "");
    EXPECT_EQ(history.byDevice.at(u"CAM-1"), "ok");
    EXPECT_EQ(history.byDevice.at(u"CAM-2"), "check: differs");
    EXPECT_EQ(history.byDevice.at(u"-CAM, \"4\""), "differs") << "quoted and guarded cells come back as written";
    EXPECT_EQ(history.byPlace.at("usb2"), "failed: login refused for user admin");
    EXPECT_EQ(history.byPlace.at("=usb4"), "'-failed");
    EXPECT_EQ(history.byDevice.at(u"'+CAM-5"), "ok");
    EXPECT_TRUE(provision::outcomeIsOk("check: ok"));
    EXPECT_FALSE(provision::outcomeIsOk("check: differs"));

    writeFile(folder / "other.csv", "time,device_id,officer_id,result\r\n");
    EXPECT_THAT(provision::readInventoryHistory(folder / "other.csv").problem, HasSubstr("first line"));
    EXPECT_EQ(provision::readInventoryHistory(folder / "none.csv").problem, "it cannot be read");

    // A row cut short (a power cut, a hand edit) is named, not passed over: Retry failed would
    // otherwise take its camera for one never tried.
    writeFile(folder / "torn.csv", readFile(file) + "2026-03-05 14:07:1\r\n\r\n2026-03-05 14:08:00,usb1,CAM-2\r\n");
    EXPECT_EQ(provision::readInventoryHistory(folder / "torn.csv").problem,
              "line 10, line 12: fewer than the five columns up to the result (a row cut short?)");
}

} // namespace
} // namespace orv::test
