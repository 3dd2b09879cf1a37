// Arbitrary bytes through the link's text codec, as an incoming field of any width and as UTF-16
// going out into a field of 1..64 bytes. Beyond not crashing, checks what the records rely on:
// - the encoder writes nothing past its field, never half a two-byte character, one terminating
//   zero when there is room, and leaves the bytes after that zero as they were;
// - an incoming field written back unchanged is the same bytes (a read-modify-write keeps texts);
// - a text the link can carry reads back as the same text.
// Input: byte 0 picks the outgoing width, byte 1 the incoming one (0xFF: all of it), the rest is
// the payload.

#include "link/link_text.h"

#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

namespace {

using namespace orv;

constexpr std::size_t kMaxWidth = 64;
constexpr std::size_t kGuard = 8;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "link_text_fuzz: %s\n", what);
        std::abort();
    }
}

std::uint8_t fillByte(std::size_t i)
{
    return static_cast<std::uint8_t>(0xA5 ^ (i * 29));
}

bool isLeadByte(std::uint8_t b)
{
    return b >= 0x81 && b <= 0xFE;
}

bool isTrailByte(std::uint8_t b)
{
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

// The code page's own answer for one pair, independent of the link's tables.
bool gbkPairIs(std::uint8_t lead, std::uint8_t trail, char16_t expected)
{
    static iconv_t cd = iconv_open("UTF-16LE", "GBK");
    check(cd != reinterpret_cast<iconv_t>(-1), "no GBK converter");
    char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    char out[8] = {};
    char* inPtr = in;
    char* outPtr = out;
    std::size_t inLeft = sizeof in;
    std::size_t outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || sizeof out - outLeft != 2) {
        return false;
    }
    const auto c = static_cast<char16_t>(static_cast<std::uint8_t>(out[0]) | (static_cast<std::uint8_t>(out[1]) << 8));
    return c == expected;
}

// What the encoder should write into a field of `width`: each character's bytes in an unbounded
// field, for as many whole characters as fit.
struct Expected
{
    std::string bytes;
    std::size_t units = 0;     // text units whose bytes are in `bytes`
    bool representable = true; // every character written reads back as itself
};

Expected expectedEncoding(std::u16string_view text, std::size_t width)
{
    Expected e;
    bool lastWasLoneLead = false;
    for (std::size_t i = 0; i < text.size() && text[i] != 0;) {
        const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                          text[i + 1] <= 0xDFFF;
        const std::size_t n = pair ? 2 : 1;
        const std::string one = linkBytes(text.substr(i, n));
        check(one.size() == 1 || one.size() == 2, "one character is not one or two bytes");
        if (e.bytes.size() + one.size() > width) {
            break;
        }
        const auto first = static_cast<std::uint8_t>(one[0]);
        if (n == 2) {
            check(one == "?", "a character outside the BMP is not '?'");
            e.representable = false;
        } else if (text[i] <= 0xFF) {
            check(one.size() == 1 && first == text[i], "U+0001..U+00FF is not its own byte");
        } else if (one.size() == 1) {
            check(one == "?", "a character without a GBK pair is not '?'");
            e.representable = false;
        } else {
            check(isLeadByte(first) && isTrailByte(static_cast<std::uint8_t>(one[1])), "not a GBK pair");
            check(gbkPairIs(first, static_cast<std::uint8_t>(one[1]), text[i]), "the GBK pair is another character");
        }
        // A lone byte 0x81..0xFE followed by a possible trail byte reads back as a pair: the wire
        // cannot tell them apart, so such a text is not one the link can carry.
        if (lastWasLoneLead && isTrailByte(first)) {
            e.representable = false;
        }
        lastWasLoneLead = one.size() == 1 && isLeadByte(first);
        e.bytes += one;
        i += n;
        e.units = i;
    }
    return e;
}

void checkEncoder(std::u16string_view text, std::size_t width)
{
    const std::size_t total = width + kGuard;
    const auto field = std::make_unique<std::uint8_t[]>(total);
    for (std::size_t i = 0; i < total; ++i) {
        field[i] = fillByte(i);
    }
    encodeLinkText(text, field.get(), width);

    const Expected e = expectedEncoding(text, width);
    const std::size_t n = e.bytes.size();
    check(std::memcmp(field.get(), e.bytes.data(), n) == 0, "the field does not hold the whole characters that fit");
    if (n < width) {
        check(field[n] == 0, "a shorter text does not end with a zero");
    }
    for (std::size_t i = std::min(n + 1, width); i < total; ++i) {
        check(field[i] == fillByte(i), i < width ? "bytes after the terminator changed" : "wrote past the field");
    }
    if (e.representable) {
        check(decodeLinkText(field.get(), width) == text.substr(0, e.units), "the text does not read back");
    }

    const std::string unbounded = linkBytes(text);
    check(unbounded == expectedEncoding(text, std::numeric_limits<std::size_t>::max()).bytes,
          "linkBytes differs from the encoder in an unbounded field");
}

void checkDecoder(const std::uint8_t* bytes, std::size_t width)
{
    // A field of its own, so that reading one byte past it is caught.
    const auto field = std::make_unique<std::uint8_t[]>(width);
    std::copy_n(bytes, width, field.get());
    const std::u16string text = decodeLinkText(field.get(), width);
    check(text.size() <= width, "more characters than bytes");
    check(text.find(u'\0') == std::u16string::npos, "a zero inside the text");

    const auto again = std::make_unique<std::uint8_t[]>(width);
    std::copy_n(bytes, width, again.get());
    encodeLinkText(text, again.get(), width);
    check(std::equal(field.get(), field.get() + width, again.get()), "an unchanged text does not write back as read");

    checkEncoder(text, 1 + width % kMaxWidth);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) {
        return 0;
    }
    const std::size_t outWidth = 1 + data[0] % kMaxWidth;
    const std::uint8_t* payload = data + 2;
    const std::size_t length = size - 2;

    checkDecoder(payload, data[1] == 0xFF ? length : data[1] % (length + 1));

    std::u16string text;
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        text.push_back(static_cast<char16_t>(payload[i] | (payload[i + 1] << 8)));
    }
    checkEncoder(text, outWidth);
    return 0;
}
