#pragma once
// Runs orvctl in-process against a simulated camera on a loopback address of the test's own. Every
// run records into a ledger in a temporary folder, never the user's: the program's own by default,
// the test's own in OrvctlTest.

#include "ledger/ledger.h"
#include "orvctl/orvctl.h"
#include "tests/core/cli/scratch_folder.h"
#include "tests/support/camera_on_loopback.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace orv::test {

struct OrvctlRun
{
    int code = -1;
    std::string out;
    std::string err;
};

// Short waits: every camera in these tests is on loopback, and a silent one should fail fast.
inline constexpr const char* kTestTimeoutMs = "400";

inline OrvctlRun runOrvctlWith(std::vector<std::string> args, const std::string& input = {},
                               cli::CliContext* prepared = nullptr)
{
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    cli::CliContext context(in, out, err);
    if (prepared) {
        context.interrupted = prepared->interrupted;
        context.onProvisionEvent = prepared->onProvisionEvent;
    }
    OrvctlRun run;
    run.code = cli::runOrvctl(args, context);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// The user's data folder, where the default ledger lives: XDG_DATA_HOME on POSIX systems (Windows
// takes the known folder, which the tests' Wine prefix keeps inside the build tree). Empty unsets.
inline void setDataHome(const std::string& folder)
{
#ifndef _WIN32
    if (folder.empty()) {
        ::unsetenv("XDG_DATA_HOME");
    } else {
        ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
    }
#else
    (void)folder;
#endif
}

// The program's data folder for the tests that start no fixture of their own, set before any test.
class TestDataHome : public ::testing::Environment
{
public:
    void SetUp() override
    {
        const char* before = std::getenv("XDG_DATA_HOME");
        before_ = before ? std::optional<std::string>(before) : std::nullopt;
        folder_.emplace();
        setDataHome((*folder_ / "data").string());
    }
    void TearDown() override
    {
        setDataHome(before_.value_or(""));
        folder_.reset();
    }
    static std::string folder() { return (*instance->folder_ / "data").string(); }

    static inline TestDataHome* instance = nullptr;

private:
    std::optional<std::string> before_;
    std::optional<ScratchFolder> folder_;
};

inline const ::testing::Environment* const kTestDataHome = [] {
    TestDataHome::instance = new TestDataHome;
    return ::testing::AddGlobalTestEnvironment(TestDataHome::instance);
}();

inline std::vector<std::uint8_t> payloadOf(const camsim::ReceivedFrame& frame)
{
    return {frame.bytes.begin() + kFrameHeaderSize, frame.bytes.end()};
}

inline void putText(std::vector<std::uint8_t>& record, const Field& field, std::u16string_view text)
{
    encodeLinkText(text, record.data() + field.offset, field.width);
}

class OrvctlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setDataHome((folder / "data").string());
        // The id the expected texts show, whatever address the camera gets.
        camsim::CameraOptions options;
        options.deviceId = "ORV202600001";
        camera = startCameraOnLoopback(options);
        ASSERT_TRUE(camera);
    }

    void TearDown() override { setDataHome(TestDataHome::folder()); }

    // orvctl --ip <the camera> --timeout-ms ... ARGS
    OrvctlRun run(std::initializer_list<std::string> args, const std::string& input = {})
    {
        std::vector<std::string> all{"--ip", camera.address, "--timeout-ms", kTestTimeoutMs};
        all.insert(all.end(), args.begin(), args.end());
        return runOrvctlWith(all, input);
    }

    // Writes are not answered: wait until the camera has taken them.
    void awaitFrames(std::size_t count)
    {
        ASSERT_TRUE(camera->waitForFrames(count, std::chrono::seconds(5)))
            << "camera received " << camera->receivedFrames().size() << " frames, expected " << count;
    }

    std::vector<std::uint16_t> commands() const
    {
        std::vector<std::uint16_t> list;
        for (const auto& frame : camera->receivedFrames()) {
            list.push_back(frame.command);
        }
        return list;
    }

    LoopbackCamera camera;
    ScratchFolder folder;
};

// Every event of the ledger at `location`, in number order (a failure to read fails the test).
inline std::vector<ledger::Event> eventsIn(const std::string& location)
{
    std::string error;
    const std::unique_ptr<ledger::Ledger> opened = ledger::openLedger(location, error);
    std::vector<ledger::Event> events;
    EXPECT_TRUE(opened) << error;
    if (opened) {
        EXPECT_TRUE(opened->readEvents({}, events)) << opened->error();
    }
    return events;
}

} // namespace orv::test
