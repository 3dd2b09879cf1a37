// The roster: RFC 4180 fields, UTF-8 with or without BOM or GBK, columns by name, and refusal of
// whatever a camera could not take, each with its line.
#include "fleet/roster.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace orv::fleet;
namespace fs = std::filesystem;

namespace {

const std::string kHeader = "device_id,police_id,police_name,company_id,company_name\n";

std::vector<std::string> describedProblems(const RosterLoad& load)
{
    std::vector<std::string> out;
    for (const auto& p : load.problems) {
        out.push_back(describe(p));
    }
    return out;
}

struct AcceptedRow
{
    const char* name;
    std::string bytes;
    RosterEncoding encoding;
    std::u16string deviceId; // the entry looked at
    RosterEntry expected;
    std::size_t size;
};

class RosterAccepts : public ::testing::TestWithParam<AcceptedRow>
{
};

TEST_P(RosterAccepts, Rows)
{
    const auto& row = GetParam();
    const auto load = parseRoster(row.bytes);
    ASSERT_TRUE(load.ok()) << ::testing::PrintToString(describedProblems(load));
    EXPECT_EQ(load.encoding, row.encoding);
    EXPECT_EQ(load.roster.size(), row.size);
    const RosterEntry* e = load.roster.find(row.deviceId);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->deviceId, row.expected.deviceId);
    EXPECT_EQ(e->policeId, row.expected.policeId);
    EXPECT_EQ(e->policeName, row.expected.policeName);
    EXPECT_EQ(e->companyId, row.expected.companyId);
    EXPECT_EQ(e->companyName, row.expected.companyName);
    EXPECT_EQ(e->line, row.expected.line);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RosterAccepts,
    ::testing::Values(
        AcceptedRow{"Plain",
                    kHeader + "D1,P1,Li Lei,C1,North\nD2,P2,Han Mei,C1,North\n",
                    RosterEncoding::Utf8,
                    u"D2",
                    {u"D2", u"P2", u"Han Mei", u"C1", u"North", 3},
                    2},
        // Columns by name in any order and case, padded, with a column of the user's own.
        AcceptedRow{"BomOrderAndCase",
                    "\xEF\xBB\xBF"
                    "Company_Name, POLICE_NAME ,notes,device_id,Police_Id,company_id\r\n"
                    "North,\xE5\xBC\xA0\xE4\xB8\x89,on leave,D7,P7,C1\r\n",
                    RosterEncoding::Utf8WithBom,
                    u"D7",
                    {u"D7", u"P7", u"\u5F20\u4E09", u"C1", u"North", 2},
                    1},
        AcceptedRow{"Gbk",
                    kHeader + "D1,P1,\xD5\xC5\xC8\xFD,C1,\xB9\xAB\xB0\xB2\xBE\xD6\n",
                    RosterEncoding::Gbk,
                    u"D1",
                    {u"D1", u"P1", u"\u5F20\u4E09", u"C1", u"\u516C\u5B89\u5C40", 2},
                    1},
        // Quotes, a comma and a line break inside fields; the next row's line counts both lines.
        AcceptedRow{"Quoted",
                    kHeader + "\"D1\",P1,\"Li, \"\"Lei\"\"\",C1,\"North\r\nStation\"\r\n\r\n,,,,\nD2,P2,\"\",C2,\n",
                    RosterEncoding::Utf8,
                    u"D1",
                    {u"D1", u"P1", u"Li, \"Lei\"", u"C1", u"North\r\nStation", 2},
                    2},
        AcceptedRow{"LineAfterMultiLineRecord",
                    kHeader + "D1,P1,\"a\nb\nc\",C1,X\nD2,P2,N,C2,Y",
                    RosterEncoding::Utf8,
                    u"D2",
                    {u"D2", u"P2", u"N", u"C2", u"Y", 5},
                    2},
        // A text that fills its field exactly needs no terminating zero; 16 GBK characters are 32 bytes.
        AcceptedRow{
            "FullFields",
            kHeader + std::string(32, 'D') + "," + std::string(32, 'P') + "," +
                "\xE5\x85\xAC\xE5\x85\xAC\xE5\x85\xAC\xE5\x85\xAC\xE5\x85\xAC\xE5\x85\xAC\xE5\x85\xAC\xE5\x85\xAC"
                "\xE5\x85\xAC\xE5\x85\xAC\xE5\x85\xAC\xE5\x85\xAC\xE5\x85\xAC\xE5\x85\xAC\xE5\x85\xAC\xE5\x85\xAC" +
                ",\xC3\xA9,C?\n",
            RosterEncoding::Utf8,
            std::u16string(32, u'D'),
            {std::u16string(32, u'D'), std::u16string(32, u'P'), std::u16string(16, u'\u516C'), u"\u00E9", u"C?", 2},
            1},
        // Trailing empty fields (a spreadsheet's empty column) shift nothing.
        AcceptedRow{"TrailingEmptyFields",
                    kHeader + "D1,P1,N,C1,X,,\n",
                    RosterEncoding::Utf8,
                    u"D1",
                    {u"D1", u"P1", u"N", u"C1", u"X", 2},
                    1}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusedRow
{
    const char* name;
    std::string bytes;
    std::vector<std::string> problems;
};

class RosterRefuses : public ::testing::TestWithParam<RefusedRow>
{
};

TEST_P(RosterRefuses, Rows)
{
    const auto& row = GetParam();
    const auto load = parseRoster(row.bytes);
    EXPECT_FALSE(load.ok());
    EXPECT_EQ(describedProblems(load), row.problems);
    EXPECT_EQ(load.roster.size(), 0u) << "nothing of a refused roster is used";
}

INSTANTIATE_TEST_SUITE_P(
    Files, RosterRefuses,
    ::testing::Values(
        RefusedRow{"DuplicateDeviceId",
                   kHeader + "D1,P1,A,C,N\nD2,P2,B,C,N\n\nD1,P3,C,C,N\n",
                   {"line 5: device_id \"D1\" is already on line 2"}},
        RefusedRow{"MissingColumns",
                   "device_id,police,police_name,company_id\nD1,P1,A,C\n",
                   {"line 1: the header has no column police_id, company_name"}},
        RefusedRow{"SemicolonSeparated",
                   "device_id;police_id;police_name;company_id;company_name\nD1;P1;A;C;N\n",
                   {"line 1: the header has no column device_id, police_id, police_name, company_id, company_name "
                    "(its columns seem to be separated by ';'; the roster needs ',')"}},
        RefusedRow{"ColumnNamedTwice",
                   "device_id,police_id,Police_ID,police_name,company_id,company_name\n",
                   {"line 1: the column police_id is named twice"}},
        RefusedRow{"TooLong",
                   kHeader + "D1," + std::string(33, 'P') + ",A,C,N\n" + "D2,P2," + std::string(31, 'n') +
                       "\xE5\x85\xAC,C,N\n",
                   {"line 2: police_id \"" + std::string(33, 'P') + "\" takes 33 bytes on the camera, its field 32",
                    "line 3: police_name \"" + std::string(31, 'n') +
                        "\xE5\x85\xAC\" takes 33 bytes on the camera, its field 32"}},
        RefusedRow{
            "Unstorable",
            kHeader + "D1,P1,\xF0\x9F\x98\x80,C,\xC2\xB7?\n",
            {"line 2: police_name \"\xF0\x9F\x98\x80\" holds \"\xF0\x9F\x98\x80\", which the camera cannot store"}},
        // An unquoted comma in a name moves every later value under the wrong column.
        RefusedRow{"UnquotedComma",
                   kHeader + "D1,P1,Li, Lei,C,N\nD2,P2,X\n",
                   {"line 2: the row has 6 fields, the header 5", "line 3: the row has 3 fields, the header 5"}},
        RefusedRow{"NoDeviceId", kHeader + ",P1,A,C,N\n", {"line 2: the row has no device_id"}},
        RefusedRow{"UnclosedQuote", kHeader + "D1,P1,\"A,C,N\nD2,P2,B,C,N\n", {"line 2: a quoted field is not closed"}},
        RefusedRow{"TextAfterQuote",
                   kHeader + "D1,P1,\"A\"x,C,N\n",
                   {"line 2: text follows the closing quote of a field"}},
        RefusedRow{"Empty", "\n\n", {"the roster has no header row"}},
        RefusedRow{"Utf16",
                   std::string("\xFF\xFE"
                               "d\0e\0",
                               6),
                   {"the roster is UTF-16 text; save it as CSV in UTF-8"}},
        RefusedRow{"ZeroByte",
                   kHeader + std::string("D1,P\0,A,C,N\n", 12),
                   {"line 2: the roster holds a zero byte; it is no text file"}},
        RefusedRow{"BomButNotUtf8",
                   "\xEF\xBB\xBF" + kHeader + "D1,P1,\xD5\xC5,C,N\n",
                   {"line 2: the roster starts as UTF-8 but is not valid UTF-8 here"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Roster, LookupIsByTheExactDeviceId)
{
    const auto load = parseRoster(kHeader + "AB12,P1,A,C,N\n");
    ASSERT_TRUE(load.ok());
    EXPECT_NE(load.roster.find(u"AB12"), nullptr);
    EXPECT_EQ(load.roster.find(u"ab12"), nullptr);
    EXPECT_EQ(load.roster.find(u"AB12 "), nullptr);
    EXPECT_EQ(load.roster.find(u""), nullptr);
}

TEST(Roster, LoadsAFileWhateverItsName)
{
    const fs::path file =
        fs::temp_directory_path() /
        fs::path(u8"\u540D\u518C-" + std::u8string(u8"") +
                 reinterpret_cast<const char8_t*>(std::to_string(std::random_device{}()).c_str()) + u8".csv");
    {
        std::ofstream out(file, std::ios::binary);
        out << kHeader << "D1,P1,A,C,N\n";
    }
    const auto load = loadRoster(file);
    fs::remove(file);
    ASSERT_TRUE(load.ok()) << ::testing::PrintToString(describedProblems(load));
    EXPECT_EQ(load.roster.size(), 1u);

    const auto missing = loadRoster(file);
    ASSERT_EQ(missing.problems.size(), 1u);
    EXPECT_EQ(missing.problems[0].line, 0);
    EXPECT_NE(missing.problems[0].message.find("cannot open the roster"), std::string::npos);
}

} // namespace
