#pragma once
// Cuts the byte stream of one connection into request frames. The buffer is fixed: a length
// field is checked before anything is waited for, never used to allocate.

#include "link/frame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace orv::camsim {

class FrameReader
{
public:
    // The biggest frame a request may be: the whole frame buffer of the link.
    static constexpr std::size_t kMaxFrameSize = kFrameBufferSize;
    static constexpr std::uint32_t kMaxLength = static_cast<std::uint32_t>(kMaxFrameSize - 10);

    enum class Status {
        NeedMore, // no complete frame yet
        Frame,    // frame() holds one complete frame until the next call
        BadLength // a header with a length no request can have; the stream cannot be trusted
    };

    // Room for the next receive; never empty while the reader is usable.
    std::span<std::uint8_t> freeSpace();
    void commit(std::size_t count);

    // Call until it says NeedMore after every commit.
    Status next();

    std::span<const std::uint8_t> frame() const { return {buffer_.data(), frameSize_}; }
    // Bytes thrown away while looking for the magic since the last call to takeDiscarded().
    std::size_t takeDiscarded();
    std::uint32_t badLength() const { return badLength_; }
    std::size_t buffered() const { return used_; }

    void reset();

private:
    void drop(std::size_t count);

    std::array<std::uint8_t, kMaxFrameSize> buffer_{};
    std::size_t used_ = 0;
    std::size_t frameSize_ = 0; // size of the frame handed out, removed on the next call
    std::size_t discarded_ = 0;
    std::uint32_t badLength_ = 0;
};

} // namespace orv::camsim
