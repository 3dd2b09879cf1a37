// What the tools' events say of the setup file: the very bytes the plan came from.
#include "ledger/ledger.h"
#include "persist/setup_document.h"
#include "provision/ledger_events.h"
#include "tests/core/cli/scratch_folder.h"

#include <gtest/gtest.h>

namespace orv::test {
namespace {

TEST(SetupInTheEvent, AFileReplacedAfterPlanningLeavesTheEventNamingWhatWasPlanned)
{
    ScratchFolder folder;
    const std::filesystem::path file = folder / "unit.xml";
    // GBK, as older installations wrote it: the hash is of the bytes, not of the text they were read as.
    const std::string planned = "<root><device policeid=\"\xD5\xC5\xC8\xFD\"/></root>";
    writeFile(file, planned);
    const SetupReadResult read = loadSetupFile(file);
    ASSERT_TRUE(read.ok()) << read.message;
    ASSERT_TRUE(read.fromGbk);
    const std::vector<provision::GroupPlan> plan = provision::planSetup(read.elements);
    writeFile(file, "<root><device policeid=\"OTHER\"/></root>");

    ledger::Event event;
    provision::noteSetupFile(event, file, read.bytes);
    EXPECT_EQ(event.setupName, "unit.xml");
    EXPECT_EQ(event.setupSha256, ledger::sha256Hex(planned));
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].assignments[0].text, u"\u5F20\u4E09");
}

} // namespace
} // namespace orv::test
