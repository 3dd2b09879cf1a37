#include "link/frame.h"

#include <cstring>

namespace orv {

void putLe16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void putLe32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

std::uint16_t getLe16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t getLe32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
         | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void writeFrameHeader(std::uint8_t* buf, std::uint16_t command, std::size_t payloadLength)
{
    std::memcpy(buf, kFrameMagic.data(), kFrameMagic.size());
    putLe16(buf + 4, kFrameFixedWord);
    putLe32(buf + 6, static_cast<std::uint32_t>(payloadLength + 2));
    putLe16(buf + 10, command);
}

FrameHeader readFrameHeader(const std::uint8_t* buf)
{
    FrameHeader h;
    h.magicOk = std::memcmp(buf, kFrameMagic.data(), kFrameMagic.size()) == 0;
    h.fixedWord = getLe16(buf + 4);
    h.length = getLe32(buf + 6);
    h.command = getLe16(buf + 10);
    return h;
}

} // namespace orv
