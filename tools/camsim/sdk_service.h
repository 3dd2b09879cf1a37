#pragma once
// The simulated camera's answer to the stand-in SDK: a listener of its own, on a thread of its
// own, serving a few connections at a time.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace orv::camsim {

struct SdkServiceHooks
{
    std::function<bool(const std::string& user, const std::string& password)> checkLogin;
    std::function<std::vector<std::uint8_t>()> record;
    std::function<void(std::span<const std::uint8_t>)> setRecord;
    std::function<void(const std::string&)> log;
};

class SdkService
{
public:
    explicit SdkService(SdkServiceHooks hooks);
    ~SdkService();
    SdkService(const SdkService&) = delete;
    SdkService& operator=(const SdkService&) = delete;

    // `address` in host byte order; port 0 takes any free port.
    bool start(std::uint32_t address, std::uint16_t port, std::string* error);
    void stop();
    std::uint16_t port() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace orv::camsim
