#include "persist/ini_file.h"

#include "lang/utf.h"
#include "persist/profile_struct.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <array>

namespace orv {
namespace {

const std::string kSample = "; remembered state\r\n"
                            "stray=before any section\r\n"
                            "[User]\r\n"
                            "UserKey = \"quoted\" \r\n"
                            "Single='x'\r\n"
                            "Inner=\"\"twice\"\"\r\n"
                            "Open=\"half\r\n"
                            "Alone=\"\r\n"
                            "Mixed=\"a'\r\n"
                            ";Commented=no\r\n"
                            "Empty=\r\n"
                            "[ lang ]\r\n"
                            "langkey=2\r\n"
                            "[User]\r\n"
                            "Second=only in the second User section\r\n";

struct StringRow
{
    const char* name;
    const char16_t* section;
    const char16_t* key;
    const char16_t* expected;
};

class IniReadString : public ::testing::TestWithParam<StringRow>
{
};

TEST_P(IniReadString, ReadsAsTheProfileReaderDoes)
{
    const IniFile ini = IniFile::fromBytes(kSample);
    EXPECT_EQ(ini.readString(GetParam().section, GetParam().key, u"dflt"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, IniReadString,
                         ::testing::Values(StringRow{"blanksTrimmedQuotesStripped", u"User", u"UserKey", u"quoted"},
                                           StringRow{"namesIgnoreCase", u"USER", u"userkey", u"quoted"},
                                           StringRow{"sectionNameTrimmed", u"Lang", u"LangKey", u"2"},
                                           StringRow{"singleQuotes", u"User", u"Single", u"x"},
                                           StringRow{"quotesStrippedOnce", u"User", u"Inner", u"\"twice\""},
                                           StringRow{"unclosedQuoteKept", u"User", u"Open", u"\"half"},
                                           StringRow{"loneQuoteKept", u"User", u"Alone", u"\""},
                                           StringRow{"mismatchedQuotesKept", u"User", u"Mixed", u"\"a'"},
                                           StringRow{"emptyValueIsEmpty", u"User", u"Empty", u""},
                                           StringRow{"commentIsNoKey", u"User", u"Commented", u"dflt"},
                                           StringRow{"keyBeforeSectionsIsNoKey", u"", u"stray", u"dflt"},
                                           StringRow{"onlyFirstSectionOfAName", u"User", u"Second", u"dflt"},
                                           StringRow{"missingSection", u"Proc", u"Platform", u"dflt"},
                                           StringRow{"missingKey", u"User", u"Nothing", u"dflt"}),
                         [](const auto& info) { return info.param.name; });

struct IntRow
{
    const char* name;
    std::string value; // empty: key absent
    std::int32_t expected;
};

class IniReadInt : public ::testing::TestWithParam<IntRow>
{
};

TEST_P(IniReadInt, TakesSignAndLeadingDigits)
{
    const std::string file = GetParam().value.empty() ? "[Proc]\n" : "[Proc]\nPlatform=" + GetParam().value + "\n";
    EXPECT_EQ(IniFile::fromBytes(file).readInt(u"Proc", u"Platform", -7), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, IniReadInt,
                         ::testing::Values(IntRow{"plain", "258", 258}, IntRow{"negative", "-5", -5},
                                           IntRow{"plus", "+7", 7}, IntRow{"stopsAtLetter", "12ab", 12},
                                           IntRow{"noDigits", "ab", 0}, IntRow{"signOnly", "-", 0},
                                           IntRow{"quoted", "\"42\"", 42}, IntRow{"wrapsAt32Bits", "4294967297", 1},
                                           IntRow{"emptyGivesDefault", "\"\"", -7}, IntRow{"absent", "", -7}),
                         [](const auto& info) { return info.param.name; });

TEST(IniReadString, CutsToTheBufferWithoutSplittingAPair)
{
    const std::u16string units511(511, u'x');
    const IniFile ini = IniFile::fromBytes("[S]\nfits=" + std::string(511, 'x') + "\nlong=" + std::string(512, 'x') +
                                           "\npair=" + std::string(510, 'x') + "\xF0\x9F\x93\xB7" + "\n");
    EXPECT_EQ(ini.readString(u"S", u"fits", u""), units511);
    EXPECT_EQ(ini.readString(u"S", u"long", u""), units511);
    EXPECT_EQ(ini.readString(u"S", u"pair", u""), std::u16string(510, u'x'));
    EXPECT_EQ(ini.readString(u"S", u"fits", u"", 1), u"");
    EXPECT_EQ(ini.readString(u"S", u"missing", u"Default", 4), u"Def");
}

TEST(ProfileStruct, EncodesUpperCaseDigitsAndChecksum)
{
    const std::array<std::uint8_t, 3> bytes{0x00, 0xFF, 0x1A};
    EXPECT_EQ(encodeProfileStruct(bytes), u"00FF1A19"); // 0xFF + 0x1A = 0x119
}

struct StructRow
{
    const char* name;
    const char16_t* digits;
    bool decodes;
};

class ProfileStructDecode : public ::testing::TestWithParam<StructRow>
{
};

TEST_P(ProfileStructDecode, AcceptsOnlyExactHexWithItsChecksum)
{
    std::array<std::uint8_t, 3> out{9, 9, 9};
    EXPECT_EQ(decodeProfileStruct(GetParam().digits, out), GetParam().decodes);
    const std::array<std::uint8_t, 3> expected =
        GetParam().decodes ? std::array<std::uint8_t, 3>{0x00, 0xFF, 0x1A} : std::array<std::uint8_t, 3>{9, 9, 9};
    EXPECT_EQ(out, expected);
}

INSTANTIATE_TEST_SUITE_P(Values, ProfileStructDecode,
                         ::testing::Values(StructRow{"upper", u"00FF1A19", true}, StructRow{"lower", u"00ff1a19", true},
                                           StructRow{"wrongChecksum", u"00FF1A18", false},
                                           StructRow{"oddLength", u"00FF1A191", false},
                                           StructRow{"tooShort", u"00FF19", false},
                                           StructRow{"tooLong", u"00FF1A0019", false},
                                           StructRow{"badDigit", u"00FG1A19", false},
                                           StructRow{"signInside", u"00FF+A19", false}, StructRow{"empty", u"", false}),
                         [](const auto& info) { return info.param.name; });

class IniEncodings : public ::testing::TestWithParam<std::pair<const char*, IniFile::Encoding>>
{
};

std::string encodeAs(IniFile::Encoding e, std::u16string_view text)
{
    switch (e) {
        case IniFile::Encoding::Utf8:
            return utf::toUtf8(text);
        case IniFile::Encoding::Utf8Bom:
            return "\xEF\xBB\xBF" + utf::toUtf8(text);
        case IniFile::Encoding::Utf16Le:
            return test::utf16le(text);
        case IniFile::Encoding::Utf16Be: {
            std::string out = "\xFE\xFF";
            for (char16_t c : text) {
                out.push_back(static_cast<char>(c >> 8));
                out.push_back(static_cast<char>(c & 0xFF));
            }
            return out;
        }
    }
    return {};
}

TEST_P(IniEncodings, ReadsAndEditsInTheFilesOwnEncoding)
{
    const IniFile::Encoding e = GetParam().second;
    const std::u16string text =
        u"; \u6CE8\u91CA\r\n[English]\r\nID_Text_Time=\u6642\u9593 \U0001F552\r\nlast=no newline";
    const std::string bytes = encodeAs(e, text);
    IniFile ini = IniFile::fromBytes(bytes);
    EXPECT_EQ(ini.encoding(), e);
    EXPECT_EQ(ini.readString(u"english", u"id_text_time", u""), u"\u6642\u9593 \U0001F552");
    EXPECT_EQ(ini.toBytes(), bytes);

    ini.setValue(u"Lang", u"LangKey", u"2");
    EXPECT_EQ(ini.toBytes(), encodeAs(e, text + u"\r\n\r\n[Lang]\r\nLangKey=2\r\n"));
}

INSTANTIATE_TEST_SUITE_P(Files, IniEncodings,
                         ::testing::Values(std::pair{"utf8", IniFile::Encoding::Utf8},
                                           std::pair{"utf8Bom", IniFile::Encoding::Utf8Bom},
                                           std::pair{"utf16le", IniFile::Encoding::Utf16Le},
                                           std::pair{"utf16be", IniFile::Encoding::Utf16Be}),
                         [](const auto& info) { return info.param.first; });

TEST(IniEdit, ChangesOnlyTheKeysLine)
{
    // Bytes that are not UTF-8 (a comment saved in a Chinese code page) must survive untouched.
    IniFile ini = IniFile::fromBytes("; \xD3\xEF\xD1\xD4\n[user]\n  userkey = OLD\n\n[Proc]\nPlatform=1\n");
    ini.setValue(u"User", u"UserKey", u"NEW");
    EXPECT_EQ(ini.toBytes(), "; \xD3\xEF\xD1\xD4\n[user]\n  userkey = NEW\n\n[Proc]\nPlatform=1\n");
}

TEST(IniEdit, AddsAKeyAfterTheLastKeyOfItsSection)
{
    IniFile ini = IniFile::fromBytes("[Proc]\nOther=1\n; trailing note\n\n[Lang]\nLangKey=1\n");
    ini.setValue(u"PROC", u"Platform", u"0");
    EXPECT_EQ(ini.toBytes(), "[Proc]\nOther=1\nPlatform=0\n; trailing note\n\n[Lang]\nLangKey=1\n");
}

TEST(IniEdit, LineBreaksInAValueCannotAddLines)
{
    IniFile ini;
    ini.setValue(u"User", u"UserKey", u"a\r\n[Lang]\nLangKey=9");
    EXPECT_EQ(ini.readString(u"User", u"UserKey", u""), u"a  [Lang] LangKey=9");
    EXPECT_EQ(ini.readInt(u"Lang", u"LangKey", 0), 0);
}

TEST(IniWrite, CreatesTheFileAndKeepsWhatItHolds)
{
    test::TempFolder folder;
    const auto file = folder / "orv_setup.ini";
    ASSERT_TRUE(IniFile::writeInt(file, u"Lang", u"LangKey", 2));
    ASSERT_TRUE(IniFile::writeString(file, u"Proc", u"Platform", u"1"));
    ASSERT_TRUE(IniFile::writeInt(file, u"lang", u"langkey", -1));
    EXPECT_EQ(test::readBytes(file), test::nativeLines("[Lang]\nLangKey=-1\n\n[Proc]\nPlatform=1\n"));
    EXPECT_EQ(folder.entryCount(), 1u);
}

TEST(IniWrite, NeverReplacesWhatItCannotRead)
{
    test::TempFolder folder;
    const auto notAFile = folder / "orv_setup.ini";
    std::filesystem::create_directory(notAFile);
    EXPECT_FALSE(IniFile::writeInt(notAFile, u"Lang", u"LangKey", 2));
    EXPECT_TRUE(std::filesystem::is_directory(notAFile));
    EXPECT_EQ(IniFile::load(notAFile).readInt(u"Lang", u"LangKey", 5), 5);
}

} // namespace
} // namespace orv
