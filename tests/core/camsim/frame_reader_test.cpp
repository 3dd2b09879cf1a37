// Cutting a request stream into frames: splits, garbage, impossible lengths.

#include "tools/camsim/frame_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace orv::camsim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes frameBytes(std::uint16_t command, const Bytes& payload)
{
    Bytes out(kFrameHeaderSize);
    writeFrameHeader(out.data(), command, payload.size());
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

// Feeds `stream` in pieces cut at `cuts` and collects the frames.
std::vector<Bytes> feed(FrameReader& reader, const Bytes& stream, std::vector<std::size_t> cuts,
                        FrameReader::Status* last = nullptr)
{
    std::vector<Bytes> frames;
    cuts.push_back(stream.size());
    std::size_t at = 0;
    for (const std::size_t cut : cuts) {
        while (at < cut) {
            const auto space = reader.freeSpace();
            const std::size_t n = std::min(space.size(), cut - at);
            std::copy_n(stream.begin() + static_cast<long>(at), n, space.begin());
            reader.commit(n);
            at += n;
            for (;;) {
                const auto status = reader.next();
                if (last) {
                    *last = status;
                }
                if (status != FrameReader::Status::Frame) {
                    break;
                }
                frames.emplace_back(reader.frame().begin(), reader.frame().end());
            }
        }
    }
    return frames;
}

TEST(FrameReaderTest, TwoFramesCutAnywhereComeOutWhole)
{
    const Bytes first = frameBytes(896, {2, 0, 0, 0, 0, 0});
    const Bytes second = frameBytes(1544, {});
    Bytes stream = first;
    stream.insert(stream.end(), second.begin(), second.end());
    for (std::size_t a = 0; a <= stream.size(); ++a) {
        for (std::size_t b = a; b <= stream.size(); ++b) {
            FrameReader reader;
            const auto frames = feed(reader, stream, {a, b});
            ASSERT_EQ(frames, (std::vector<Bytes>{first, second})) << a << "/" << b;
            EXPECT_EQ(reader.buffered(), 0u);
        }
    }
}

TEST(FrameReaderTest, GarbageBeforeTheMagicIsCounted)
{
    const Bytes frame = frameBytes(782, {});
    Bytes stream{1, 2, 0x9A, 0x9A, 0x42, 0xEC, 0x00, 0x9A, 0x42};
    stream.insert(stream.end(), frame.begin(), frame.end());
    FrameReader reader;
    EXPECT_EQ(feed(reader, stream, {8}), std::vector<Bytes>{frame}) << "a magic prefix at a cut is kept";
    EXPECT_EQ(reader.takeDiscarded(), 9u);
    EXPECT_EQ(reader.takeDiscarded(), 0u);
}

TEST(FrameReaderTest, ImpossibleLengthsStopTheReader)
{
    for (const std::uint32_t length : {0u, 1u, FrameReader::kMaxLength + 1, 0xFFFFFFFFu}) {
        Bytes header = frameBytes(782, {});
        putLe32(header.data() + 6, length);
        FrameReader reader;
        FrameReader::Status last{};
        EXPECT_TRUE(feed(reader, header, {}, &last).empty());
        EXPECT_EQ(last, FrameReader::Status::BadLength) << length;
        EXPECT_EQ(reader.badLength(), length);
    }
}

TEST(FrameReaderTest, LargestFrameFitsAndNoiseNeverFillsTheBuffer)
{
    const Bytes largest = frameBytes(4242, Bytes(kMaxPayloadSize, 0x9A));
    FrameReader reader;
    EXPECT_EQ(feed(reader, largest, {1000, 20000}), std::vector<Bytes>{largest});

    FrameReader noisy;
    EXPECT_TRUE(feed(noisy, Bytes(3 * kFrameBufferSize, 0x42), {}).empty());
    EXPECT_EQ(noisy.buffered(), 0u);
    EXPECT_FALSE(noisy.freeSpace().empty());
}

} // namespace
} // namespace orv::camsim
