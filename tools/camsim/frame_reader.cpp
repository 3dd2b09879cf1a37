#include "tools/camsim/frame_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace orv::camsim {

std::span<std::uint8_t> FrameReader::freeSpace()
{
    drop(frameSize_);
    frameSize_ = 0;
    return {buffer_.data() + used_, buffer_.size() - used_};
}

void FrameReader::commit(std::size_t count)
{
    used_ += std::min(count, buffer_.size() - used_);
}

FrameReader::Status FrameReader::next()
{
    drop(frameSize_);
    frameSize_ = 0;

    // Resynchronise: keep everything from the first place the magic starts, or could start
    // when only a prefix of it has arrived.
    std::size_t start = 0;
    for (; start < used_; ++start) {
        const std::size_t n = std::min(kFrameMagic.size(), used_ - start);
        if (std::memcmp(buffer_.data() + start, kFrameMagic.data(), n) == 0) {
            break;
        }
    }
    if (start > 0) {
        discarded_ += start;
        drop(start);
    }
    if (used_ < kFrameHeaderSize) {
        return Status::NeedMore;
    }
    const FrameHeader header = readFrameHeader(buffer_.data());
    if (header.length < 2 || header.length > kMaxLength) {
        badLength_ = header.length;
        return Status::BadLength;
    }
    const std::size_t size = 10 + static_cast<std::size_t>(header.length);
    if (used_ < size) {
        return Status::NeedMore;
    }
    frameSize_ = size;
    return Status::Frame;
}

std::size_t FrameReader::takeDiscarded()
{
    return std::exchange(discarded_, 0);
}

void FrameReader::reset()
{
    used_ = 0;
    frameSize_ = 0;
    discarded_ = 0;
    badLength_ = 0;
}

void FrameReader::drop(std::size_t count)
{
    count = std::min(count, used_);
    if (count == 0) {
        return;
    }
    std::memmove(buffer_.data(), buffer_.data() + count, used_ - count);
    used_ -= count;
}

} // namespace orv::camsim
