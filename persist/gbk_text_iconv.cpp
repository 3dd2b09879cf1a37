// GBK decoding through iconv, on every platform but Windows.
#include "persist/gbk_text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

namespace orv {

std::u16string gbkToUtf16(std::string_view bytes)
{
    std::u16string out;
    iconv_t cd = iconv_open("UTF-16LE", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        out.assign(bytes.size(), u'\uFFFD');
        return out;
    }
    out.reserve(bytes.size());
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buffer[4096];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int error = result == static_cast<std::size_t>(-1) ? errno : 0;
        const std::size_t produced = sizeof buffer - outLeft;
        for (std::size_t i = 0; i + 1 < produced; i += 2) {
            out.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(buffer[i]) |
                                                (static_cast<std::uint8_t>(buffer[i + 1]) << 8)));
        }
        if (error == E2BIG) {
            continue;
        }
        if (error != 0) {
            // EILSEQ or EINVAL (a lead byte cut off at the end): replace one byte and go on.
            out.push_back(u'\uFFFD');
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

} // namespace orv
