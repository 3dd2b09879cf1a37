#include "lang/utf.h"

#include <gtest/gtest.h>

namespace orv::utf {
namespace {

struct RoundTrip
{
    const char* name;
    std::string utf8;
    std::u16string utf16;
};

class UtfRoundTrip : public ::testing::TestWithParam<RoundTrip>
{
};

TEST_P(UtfRoundTrip, ConvertsBothWays)
{
    EXPECT_EQ(toUtf16(GetParam().utf8), GetParam().utf16);
    EXPECT_EQ(toUtf8(GetParam().utf16), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(Texts, UtfRoundTrip,
                         ::testing::Values(RoundTrip{"empty", "", u""},
                                           RoundTrip{"ascii", "ID_Text_Language", u"ID_Text_Language"},
                                           RoundTrip{"twoByte", "\xC3\xA9", u"\u00E9"},
                                           RoundTrip{"cjk", "\xE8\xAF\xAD\xE8\xA8\x80", u"\u8BED\u8A00"},
                                           RoundTrip{"outsideBmp", "\xF0\x9F\x93\xB7", u"\U0001F4F7"},
                                           RoundTrip{"highestScalar", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"}),
                         [](const auto& info) { return info.param.name; });

struct Malformed
{
    const char* name;
    std::string utf8;
    std::u16string expected;
};

class UtfMalformed : public ::testing::TestWithParam<Malformed>
{
};

TEST_P(UtfMalformed, EachBadByteBecomesOneReplacement)
{
    EXPECT_EQ(toUtf16(GetParam().utf8), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Bytes, UtfMalformed,
                         ::testing::Values(Malformed{"loneContinuation", "a\x80z", u"a\uFFFDz"},
                                           Malformed{"overlong", "\xC0\x80", u"\uFFFD\uFFFD"},
                                           Malformed{"encodedSurrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
                                           Malformed{"truncatedAtEnd", "x\xE8\xAF", u"x\uFFFD\uFFFD"},
                                           Malformed{"truncatedBeforeAscii", "\xE8\xAFq", u"\uFFFD\uFFFDq"},
                                           Malformed{"beyondUnicode", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
                                           Malformed{"gbkBytes", "\xD3\xEF", u"\uFFFD\uFFFD"}),
                         [](const auto& info) { return info.param.name; });

TEST(Utf, LoneSurrogatesBecomeReplacementsInUtf8)
{
    EXPECT_EQ(toUtf8(std::u16string{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)}), "a\xEF\xBF\xBD"
                                                                                      "b\xEF\xBF\xBD");
}

TEST(Utf, CaseIsIgnoredForAsciiLettersOnly)
{
    EXPECT_TRUE(equalsIgnoreAsciiCase(u"LangKey", u"LANGKEY"));
    EXPECT_FALSE(equalsIgnoreAsciiCase(u"LangKey", u"LangKe"));
    EXPECT_FALSE(equalsIgnoreAsciiCase(u"[", u"{")); // '[' + 32 is '{', not a letter
    EXPECT_FALSE(equalsIgnoreAsciiCase(u"\u00C9", u"\u00E9"));
}

} // namespace
} // namespace orv::utf
