#pragma once
// A simulated camera on a loopback address of the test's own, and a raw client for it.

#include "tests/core/camsim/raw_client.h"

#include <gtest/gtest.h>

#include <memory>

namespace orv::camsim::test {

class CameraFixture : public ::testing::Test
{
protected:
    void startCamera(int host, CameraOptions options = {})
    {
        options.listenAddress = hostAddress(host);
        options.port = kCameraPort;
        options.log = log.sink();
        camera = std::make_unique<SimulatedCamera>(options);
        std::string error;
        ASSERT_TRUE(camera->start(&error)) << error;
        address = options.listenAddress;
        ASSERT_TRUE(client.connect(address));
    }

    // Sends a request and reads a reply of `payloadSize` payload bytes (fewer when it fails).
    Bytes exchange(const Bytes& request, std::size_t payloadSize)
    {
        EXPECT_TRUE(client.send(request));
        return client.read(kFrameHeaderSize + payloadSize);
    }

    LogLines log; // before the camera, which writes to it until it stops
    std::unique_ptr<SimulatedCamera> camera;
    RawClient client;
    std::string address;
};

} // namespace orv::camsim::test
