#pragma once
// The link frame: a 12-byte header (magic, fixed word, length, command) and the payload.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orv {

inline constexpr std::uint16_t kCameraPort = 19436;
// Where every camera answers when it leaves the factory, each behind a USB adapter of its own.
inline constexpr std::string_view kFactoryCameraAddress = "192.168.2.158";
inline constexpr std::size_t kFrameBufferSize = 20480;
inline constexpr std::size_t kFrameHeaderSize = 12;
inline constexpr std::size_t kMaxPayloadSize = kFrameBufferSize - kFrameHeaderSize;
inline constexpr std::array<std::uint8_t, 4> kFrameMagic{0x9A, 0x42, 0xEC, 0x75};
inline constexpr std::uint16_t kFrameFixedWord = 1;
inline constexpr std::size_t kConfigSelectorSize = 6; // GetConfig's request payload

// Every command the console sends. No other codes are used.
enum class Command : std::uint16_t {
    GetTime = 780,
    SetTime = 781,
    GetUsers = 782,
    ChangePassword = 783,
    FactoryReset = 784,
    GetConfig = 896,
    SetConfig = 897,
    GetProxy = 912,
    SetProxy = 913,
    FormatCard = 1544,
};

struct FrameHeader
{
    bool magicOk = false;
    std::uint16_t fixedWord = 0;
    std::uint32_t length = 0; // bytes after the length field: 2 + payload
    std::uint16_t command = 0;

    std::size_t payloadLength() const { return length >= 2 ? length - 2 : 0; }
};

// Writes the header for a frame with `payloadLength` payload bytes into buf[0..12).
void writeFrameHeader(std::uint8_t* buf, std::uint16_t command, std::size_t payloadLength);
FrameHeader readFrameHeader(const std::uint8_t* buf);

void putLe16(std::uint8_t* p, std::uint16_t v);
void putLe32(std::uint8_t* p, std::uint32_t v);
std::uint16_t getLe16(const std::uint8_t* p);
std::uint32_t getLe32(const std::uint8_t* p);

} // namespace orv
