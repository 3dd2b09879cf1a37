#include "gb28181/sdk_session.h"

#include "gb28181/camera_sdk.h"

#include <cstdlib>
#include <ctime>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace orv::gb28181 {

namespace {

std::atomic<bool> ready{false};
std::atomic<SdkSession::Sleeper> sleeper{nullptr};

// Live sessions by token. The lock keeps a session from ending while a status is being stored in it.
std::mutex liveMutex;
std::unordered_map<std::uintptr_t, SdkSession*> liveSessions;
std::uintptr_t nextToken = 1;

void pause(std::chrono::milliseconds duration)
{
    if (const SdkSession::Sleeper s = sleeper.load()) {
        s(duration);
    } else {
        std::this_thread::sleep_for(duration);
    }
}

} // namespace

void ensureSdkReady(CameraSdk& sdk)
{
    if (ready.exchange(true)) {
        return;
    }
    sdk.init();
    std::srand(static_cast<unsigned>(std::time(nullptr)));
}

bool sdkReady()
{
    return ready.load();
}

SdkSession::SdkSession(CameraSdk& sdk)
    : sdk_(sdk)
{
    std::lock_guard lock(liveMutex);
    token_ = nextToken++;
    liveSessions.emplace(token_, this);
}

SdkSession::~SdkSession()
{
    {
        std::lock_guard lock(liveMutex);
        liveSessions.erase(token_);
    }
    // A successful status that came after the wait still left a login behind: end it.
    if (loggedIn.load() != 0) {
        sdk_.closeStream(handle, channel, stream);
        Logout();
    }
}

void* SdkSession::context() const
{
    return reinterpret_cast<void*>(token_);
}

void SdkSession::setSleeper(Sleeper s)
{
    sleeper.store(s);
}

bool SdkSession::Login(const std::string& cameraAddress)
{
    address = cameraAddress;
    port = kSdkPort;
    handle = sdk_.login(address.c_str(), port, kSdkUser, kSdkPassword, &SdkSession::OnLoginStatus, context());
    if (handle <= 0) {
        return false;
    }
    for (int step = 10; step <= 290 && loggedIn.load() == 0; step += 10) {
        pause(std::chrono::milliseconds(step));
    }
    return loggedIn.load() != 0;
}

int SdkSession::OnLoginStatus(int /*value*/, int status, void* context)
{
    if (!context) {
        return -1;
    }
    std::lock_guard lock(liveMutex);
    const auto found = liveSessions.find(reinterpret_cast<std::uintptr_t>(context));
    if (found != liveSessions.end()) {
        found->second->loggedIn.store(status == 0 ? 1 : 0);
    }
    return 0;
}

void SdkSession::Logout()
{
    if (loggedIn.load() != 0) {
        sdk_.loginOut(handle);
        loggedIn.store(0);
        handle = -1;
    }
}

int SdkSession::SaveConfig(const NetworkProtocolConfig& record)
{
    return sdk_.setConfig(handle, channel, kSetConfigCommand, record.data(),
                          static_cast<int>(NetworkProtocolConfig::kSize));
}

} // namespace orv::gb28181
