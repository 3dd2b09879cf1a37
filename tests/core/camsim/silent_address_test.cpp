// The silent candidate that tests and benchmarks use for a camera that does not answer.

#ifndef _WIN32

#include "tests/support/silent_address.h"

#include "tests/core/camsim/raw_client.h"

#include <gtest/gtest.h>

namespace orv::camsim::test {
namespace {

TEST(SilentAddressTest, ConnectNeitherSucceedsNorIsRefused)
{
    const orv::test::SilentAddress silent(hostAddress(90), kCameraPort);
    ASSERT_TRUE(silent.ok()) << silent.error();
    EXPECT_EQ(silent.port(), kCameraPort);
    std::uint32_t address = 0;
    ASSERT_TRUE(net::parseIpv4(hostAddress(90), address));
    ASSERT_TRUE(net::startLibrary());
    // A second caller finds it as silent as the first.
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        const net::SocketHandle s = net::openTcp();
        const auto start = std::chrono::steady_clock::now();
        std::string error;
        EXPECT_FALSE(net::connectWithin(s, address, kCameraPort, 300, &error));
        EXPECT_EQ(error, "no answer within 300 ms");
        EXPECT_GE(std::chrono::steady_clock::now() - start, 290ms);
        net::closeSocket(s);
    }
}

TEST(SilentAddressTest, AnyFreePortAndOnlyLoopback)
{
    const orv::test::SilentAddress anyPort(hostAddress(91), 0);
    ASSERT_TRUE(anyPort.ok()) << anyPort.error();
    EXPECT_NE(anyPort.port(), 0);
    const orv::test::SilentAddress notLoopback("10.0.0.1", 0);
    EXPECT_FALSE(notLoopback.ok()) << "refused before any socket is made";
}

} // namespace
} // namespace orv::camsim::test

#endif // _WIN32
