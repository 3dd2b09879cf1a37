#pragma once
// One login to the camera through its SDK, made and ended within one button press.

#include "gb28181/network_protocol_config.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace orv::gb28181 {

class CameraSdk;

inline constexpr char kSdkUser[] = "admin";
inline constexpr char kSdkPassword[] = "wrenq";

// Initialises the SDK the first time it is asked; later calls do nothing.
void ensureSdkReady(CameraSdk& sdk);
bool sdkReady();

class SdkSession
{
public:
    explicit SdkSession(CameraSdk& sdk);
    ~SdkSession();
    SdkSession(const SdkSession&) = delete;
    SdkSession& operator=(const SdkSession&) = delete;

    // True once the SDK reported a successful login within the wait (10 ms, 20 ms, ... 290 ms).
    bool Login(const std::string& cameraAddress);
    void Logout();
    int SaveConfig(const NetworkProtocolConfig& record);

    // The SDK's status callback. The context is the session's token, never its address: a status
    // that arrives after the session ended finds no session and is dropped.
    static int OnLoginStatus(int value, int status, void* context);

    // Tests replace the waiting between checks of the login flag; nullptr restores real sleeping.
    using Sleeper = void (*)(std::chrono::milliseconds);
    static void setSleeper(Sleeper sleeper);

    std::int32_t handle = -1;
    std::atomic<std::int32_t> loggedIn{0};
    std::string address;
    std::int32_t port = kSdkPort;
    std::int32_t stream = 0;
    std::int32_t channel = 0;

    void* context() const;

private:
    CameraSdk& sdk_;
    std::uintptr_t token_;
};

} // namespace orv::gb28181
