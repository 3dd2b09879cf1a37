#pragma once
// The small protocol between the stand-in of the camera maker's SDK and the simulated camera. The
// maker's own protocol is not known to us; this one only has to carry a login and the 844-byte
// GB28181 record. Every message is: the bytes "QSDK", one byte (an operation in a request, a
// status in a reply, 0 meaning success), the body length as 32-bit little-endian, the body.
//   login: body "user\0password\0"; get: empty body, the reply carries the record; set: the record.
// A connection stays logged in until it closes. A message that breaks these rules ends the
// connection.

#include <array>
#include <cstddef>
#include <cstdint>

namespace orv::camsim::sdk {

inline constexpr std::uint16_t kDefaultPort = 19437;
// The stand-in SDK library reaches the camera on the port this environment variable names, read
// at each login, or on kDefaultPort when it is unset or empty; a value that is no port from 1 to
// 65535 makes the login fail rather than reach whichever camera has the default port.
inline constexpr char kPortVariable[] = "ORV_CAMSIM_SDK_PORT";
inline constexpr std::array<std::uint8_t, 4> kMagic{'Q', 'S', 'D', 'K'};
inline constexpr std::size_t kHeaderSize = 9;
inline constexpr std::size_t kRecordSize = 844;
inline constexpr std::size_t kMaxLoginBody = 128;

enum Operation : std::uint8_t { Login = 1, GetRecord = 2, SetRecord = 3 };
enum Status : std::uint8_t { Ok = 0, Refused = 1, NotLoggedIn = 2 };

// The largest body a message of `operation` may carry; 0 for an unknown operation.
constexpr std::size_t maxBody(std::uint8_t operation)
{
    switch (operation) {
        case Login:
            return kMaxLoginBody;
        case GetRecord:
            return 0;
        case SetRecord:
            return kRecordSize;
        default:
            return 0;
    }
}

inline std::array<std::uint8_t, kHeaderSize> header(std::uint8_t code, std::uint32_t length)
{
    return {kMagic[0],
            kMagic[1],
            kMagic[2],
            kMagic[3],
            code,
            static_cast<std::uint8_t>(length & 0xFF),
            static_cast<std::uint8_t>((length >> 8) & 0xFF),
            static_cast<std::uint8_t>((length >> 16) & 0xFF),
            static_cast<std::uint8_t>(length >> 24)};
}

inline std::uint32_t bodyLength(const std::uint8_t* header)
{
    return static_cast<std::uint32_t>(header[5]) | (static_cast<std::uint32_t>(header[6]) << 8) |
           (static_cast<std::uint32_t>(header[7]) << 16) | (static_cast<std::uint32_t>(header[8]) << 24);
}

inline bool hasMagic(const std::uint8_t* header)
{
    return header[0] == kMagic[0] && header[1] == kMagic[1] && header[2] == kMagic[2] && header[3] == kMagic[3];
}

} // namespace orv::camsim::sdk
