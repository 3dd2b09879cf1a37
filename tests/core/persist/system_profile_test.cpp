// The settings file against the system's own private-profile functions (Windows builds only; the
// cross build runs it under Wine). Files of the original program were written and read by those
// functions, so ours must read what they wrote, write what they read, and refuse what they refuse.

#include "persist/ini_file.h"
#include "persist/login_record.h"
#include "persist/profile_struct.h"
#include "persist/settings.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace orv {
namespace {

namespace fs = std::filesystem;

// The records a file holds: the first-run one, a remembered login whose texts are not ASCII and
// whose user name fills its field, and every byte value (so the checksum wraps many times).
std::vector<LoginRecord> sampleRecords()
{
    LoginRecord first;
    first.setDefaults();
    LoginRecord remembered;
    remembered.setDefaults();
    remembered.setIp(u"10.20.30.40");
    remembered.setUser(u"\u8B66\u5458-0123456789abcdefghijklmnopqrstuvwxyz");
    remembered.setPassword(u"p\u00E4ss w\u00F6rd \u20AC");
    remembered.setPort(LoginRecord::kLoginPort);
    remembered.setHold(1);
    LoginRecord everyByte;
    for (std::size_t i = 0; i < LoginRecord::kSize; ++i) {
        everyByte.bytes[i] = static_cast<std::uint8_t>(255 - i * 3);
    }
    return {first, remembered, everyByte};
}

std::optional<LoginRecord> systemStruct(const fs::path& file)
{
    LoginRecord r;
    if (!GetPrivateProfileStructW(L"User", L"UserKey", r.bytes.data(), static_cast<UINT>(r.bytes.size()),
                                  file.c_str())) {
        return std::nullopt;
    }
    return r;
}

std::int32_t systemInt(const fs::path& file, const wchar_t* section, const wchar_t* key)
{
    return static_cast<std::int32_t>(GetPrivateProfileIntW(section, key, -7, file.c_str()));
}

// The bytes of the first line of `bytes` that starts with the ASCII text `start`, line break
// included, in the file's own encoding (UTF-16 with byte-order mark, otherwise 8-bit).
std::string lineStartingWith(const std::string& bytes, std::string_view start)
{
    const bool le = bytes.starts_with("\xFF\xFE");
    const bool be = bytes.starts_with("\xFE\xFF");
    const std::size_t width = le || be ? 2 : 1;
    std::size_t at = le || be ? 2 : (bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0);
    auto unit = [&](std::size_t i) -> unsigned {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        if (width == 1) {
            return b0;
        }
        const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        return le ? b0 | (b1 << 8) : (b0 << 8) | b1;
    };
    while (at + width <= bytes.size()) {
        std::size_t end = at;
        while (end + width <= bytes.size() && unit(end) != '\n') {
            end += width;
        }
        end = std::min(end + width, bytes.size());
        bool matches = end - at >= start.size() * width;
        for (std::size_t i = 0; matches && i < start.size(); ++i) {
            matches = unit(at + i * width) == static_cast<unsigned char>(start[i]);
        }
        if (matches) {
            return bytes.substr(at, end - at);
        }
        at = end;
    }
    return {};
}

// What is in the file before either side writes: nothing, or a shipped file in each encoding the
// system's functions know. The existing section must be found and kept, the encoding kept.
struct StartRow
{
    const char* name;
    bool exists;
    std::string bytes;
};

// Rows print as their names: the test names ctest lists stay readable.
void PrintTo(const StartRow& row, std::ostream* os)
{
    *os << row.name;
}

const std::u16string kShipped = u"; site defaults\r\n[Lang]\r\nLangKey=1\r\n";

std::string utf16be(std::u16string_view text)
{
    std::string out = "\xFE\xFF";
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c >> 8));
        out.push_back(static_cast<char>(c & 0xFF));
    }
    return out;
}

const std::string kShippedAscii(kShipped.begin(), kShipped.end());

class SystemProfile : public ::testing::TestWithParam<StartRow>
{
protected:
    void start(const fs::path& file) const
    {
        if (GetParam().exists) {
            test::writeBytes(file, GetParam().bytes);
        }
    }
    test::TempFolder folder;
};

TEST_P(SystemProfile, ReadsWhatTheSettingsWrite)
{
    CSettings settings;
    settings.Init(folder.path());
    start(settings.setupPath);
    settings.LoadUser();
    settings.SaveLanguage(2);
    settings.SavePlatform(258);
    EXPECT_EQ(systemInt(settings.setupPath, L"Lang", L"LangKey"), 2);
    EXPECT_EQ(systemInt(settings.setupPath, L"Proc", L"Platform"), 258);
    LoginRecord first;
    first.setDefaults();
    EXPECT_EQ(systemStruct(settings.setupPath), first);

    settings.RememberLogin(true, u"10.20.30.40", u"\u8B66\u5458", u"p\u00E4ss \u20AC");
    EXPECT_EQ(systemStruct(settings.setupPath), *settings.login);
    for (const LoginRecord& r : sampleRecords()) {
        ASSERT_TRUE(IniFile::writeStruct(settings.setupPath, kUserSection, kUserKey, r.bytes));
        EXPECT_EQ(systemStruct(settings.setupPath), r);
    }
    for (std::int32_t value : {0, 1, -1, 255, INT_MIN, INT_MAX}) {
        ASSERT_TRUE(IniFile::writeInt(settings.setupPath, kLanguageSection, kLanguageKey, value));
        EXPECT_EQ(systemInt(settings.setupPath, L"lang", L"langkey"), value);
    }
}

TEST_P(SystemProfile, WritesWhatTheSettingsReadInTheSameStructLine)
{
    const fs::path ours = folder / "ours.ini";
    const fs::path system = folder / "system.ini";
    start(ours);
    start(system);
    for (const LoginRecord& r : sampleRecords()) {
        ASSERT_TRUE(WritePrivateProfileStructW(L"User", L"UserKey", const_cast<std::uint8_t*>(r.bytes.data()),
                                               static_cast<UINT>(r.bytes.size()), system.c_str()));
        ASSERT_TRUE(IniFile::writeStruct(ours, kUserSection, kUserKey, r.bytes));
        LoginRecord read;
        EXPECT_TRUE(IniFile::load(system).readStruct(kUserSection, kUserKey, read.bytes));
        EXPECT_EQ(read, r);

        const std::string oursLine = lineStartingWith(test::readBytes(ours), "UserKey=");
        ASSERT_FALSE(oursLine.empty());
        EXPECT_EQ(lineStartingWith(test::readBytes(system), "UserKey="), oursLine);
    }
    ASSERT_TRUE(WritePrivateProfileStringW(L"Lang", L"LangKey", L"2", system.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(L"Proc", L"Platform", L"258", system.c_str()));
    const IniFile read = IniFile::load(system);
    EXPECT_EQ(read.readInt(kLanguageSection, kLanguageKey, -7), 2);
    EXPECT_EQ(read.readInt(kPlatformSection, kPlatformKey, -7), 258);
    EXPECT_EQ(read.encoding(), IniFile::load(ours).encoding());
}

INSTANTIATE_TEST_SUITE_P(Files, SystemProfile,
                         ::testing::Values(StartRow{"noFile", false, ""}, StartRow{"ascii", true, kShippedAscii},
                                           StartRow{"utf8Bom", true, "\xEF\xBB\xBF" + kShippedAscii},
                                           StartRow{"utf16le", true, test::utf16le(kShipped)},
                                           StartRow{"utf16be", true, utf16be(kShipped)}),
                         [](const auto& info) { return info.param.name; });

// A struct line as a person or another program may leave it: both sides accept the same values
// and refuse the same ones, a wrong checksum above all.
struct StructLineRow
{
    const char* name;
    std::string (*line)(); // after "[User]"
    bool accepted;
};

void PrintTo(const StructLineRow& row, std::ostream* os)
{
    *os << row.name;
}

LoginRecord firstRunRecord()
{
    LoginRecord r;
    r.setDefaults();
    return r;
}

std::string ascii(std::u16string_view s)
{
    return {s.begin(), s.end()};
}

std::string firstRunDigits(std::size_t bytes = LoginRecord::kSize)
{
    std::vector<std::uint8_t> record(firstRunRecord().bytes.begin(), firstRunRecord().bytes.end());
    record.resize(bytes, 0);
    return ascii(encodeProfileStruct(record));
}

class SystemProfileStructLine : public ::testing::TestWithParam<StructLineRow>
{
};

TEST_P(SystemProfileStructLine, IsAcceptedOrRefusedByBothSides)
{
    test::TempFolder folder;
    const fs::path file = folder / "orv_setup.ini";
    test::writeBytes(file, "[User]\r\n" + GetParam().line() + "\r\n");

    LoginRecord ours;
    EXPECT_EQ(IniFile::load(file).readStruct(kUserSection, kUserKey, ours.bytes), GetParam().accepted);
    const std::optional<LoginRecord> system = systemStruct(file);
    EXPECT_EQ(system.has_value(), GetParam().accepted);
    if (GetParam().accepted) {
        EXPECT_EQ(ours, firstRunRecord());
        EXPECT_EQ(system, firstRunRecord());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SystemProfileStructLine,
    ::testing::Values(
        StructLineRow{"asWritten", [] { return "UserKey=" + firstRunDigits(); }, true},
        StructLineRow{"lowerCaseDigits",
                      [] {
                          std::string d = firstRunDigits();
                          for (char& c : d) {
                              c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                          }
                          return "UserKey=" + d;
                      },
                      true},
        StructLineRow{"blanksAroundAndNameCase", [] { return "  userKEY =  " + firstRunDigits() + "  "; }, true},
        StructLineRow{"wrongChecksum",
                      [] {
                          std::string d = firstRunDigits();
                          d.back() = d.back() == '0' ? '1' : '0';
                          return "UserKey=" + d;
                      },
                      false},
        StructLineRow{"oneByteShort", [] { return "UserKey=" + firstRunDigits(LoginRecord::kSize - 1); }, false},
        StructLineRow{"oneByteMore", [] { return "UserKey=" + firstRunDigits(LoginRecord::kSize + 1); }, false},
        StructLineRow{"notHex",
                      [] {
                          std::string d = firstRunDigits();
                          d[1] = 'G';
                          return "UserKey=" + d;
                      },
                      false},
        StructLineRow{"quoted", [] { return "UserKey=\"" + firstRunDigits() + "\""; }, false}),
    [](const auto& info) { return info.param.name; });

// Integer keys written as text by the system (a person's edit, as the system stores it): both
// readers give the same number.
TEST(SystemProfileInt, BothReadersAgreeOnWhatTheSystemWrote)
{
    test::TempFolder folder;
    const fs::path file = folder / "orv_setup.ini";
    for (const wchar_t* text :
         {L"2", L"258", L"-1", L"+4", L"12ab", L"ab", L"", L"\"3\"", L"4294967298", L"-2147483648", L"2147483648"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(text)));
        ASSERT_TRUE(WritePrivateProfileStringW(L"Proc", L"Platform", text, file.c_str()));
        EXPECT_EQ(IniFile::load(file).readInt(kPlatformSection, kPlatformKey, -7),
                  systemInt(file, L"Proc", L"Platform"));
    }
}

} // namespace
} // namespace orv
