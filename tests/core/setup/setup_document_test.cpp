#include "lang/utf.h"
#include "persist/atomic_file.h"
#include "persist/decimal_text.h"
#include "persist/setup_document.h"
#include "tests/core/cli/scratch_folder.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <climits>
#include <filesystem>

namespace orv {
namespace {

using test::readFile;
using test::ScratchFolder;
using test::writeFile;

SetupValues sampleForm()
{
    SetupValues v;
    v.language = 2;
    v.cameraIp = u"192.168.2.158";
    v.cameraUser = u"admin";
    v.cameraPassword = u"wrenq";
    v.uIdentify = 1;
    v.serverChoice = 0;
    v.serverIp = u"10.1.2.3";
    v.serverPort = u"6608";
    v.rtsId = u"RTS7";
    v.authCode = u"a&b<c>\"d'";
    v.apn = u"cmnet";
    v.apnUser = u"orv";
    v.apnPassword = u"orv4g";
    v.ssid = u"Station 9";
    v.wifiPassword = u"pw";
    v.deviceId = u"ORV1";
    v.policeId = u"PC1";
    v.policeName = u"张三";
    v.companyId = u"U1";
    v.companyName = u"Harbour";
    v.summerTime = 1;
    v.timeZone = -1;
    return v;
}

SetupValues readForm(std::string_view bytes, SetupValues form = {})
{
    const SetupReadResult read = readSetup(bytes);
    EXPECT_TRUE(read.ok()) << read.message;
    applySetupElements(form, read.elements);
    return form;
}

TEST(SetupDocument, WritesTheExactDocument)
{
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<root>\n"
        "    <language choice_language=\"2\"/>\n"
        "    <camera ip=\"192.168.2.158\" username=\"admin\" password=\"wrenq\"/>\n"
        "    <funtion uidentify=\"1\"/>\n"
        "    <server choice_server=\"0\" ip=\"10.1.2.3\" port=\"6608\" rtsid=\"RTS7\" "
        "authcode=\"a&amp;b&lt;c&gt;&quot;d&apos;\"/>\n"
        "    <net4g apn=\"cmnet\" username=\"orv\" password=\"orv4g\"/>\n"
        "    <wifi ssid=\"Station 9\" password=\"pw\"/>\n"
        "    <device deviceid=\"ORV1\" policeid=\"PC1\" policename=\"\xE5\xBC\xA0\xE4\xB8\x89\" "
        "companyid=\"U1\" companyname=\"Harbour\"/>\n"
        "    <time summertime=\"1\" choice_timezone=\"-1\"/>\n"
        "</root>\n";
    EXPECT_EQ(writeSetup(sampleForm()), expected);
}

TEST(SetupDocument, ReadingWhatWasWrittenRestoresEveryValue)
{
    SetupValues form = sampleForm();
    form.ssid = std::u16string(80, u'S'); // far beyond any field: set whole
    form.companyName = u"港区巡逻 Ünit";
    form.apn = u"one\r\ntwo\rthree\n\tfour"; // a bare carriage return would read back as a line feed
    const SetupReadResult read = readSetup(writeSetup(form));
    ASSERT_TRUE(read.ok()) << read.message;
    EXPECT_FALSE(read.fromGbk);
    ASSERT_EQ(read.elements.size(), kSetupPartCount);
    for (std::size_t i = 0; i < kSetupPartCount; ++i) {
        EXPECT_EQ(read.elements[i].part, static_cast<SetupPart>(i));
    }
    SetupValues restored;
    applySetupElements(restored, read.elements);
    EXPECT_EQ(restored, form);
}

TEST(SetupDocument, AnyRootNameIsReadAndOnlyExactChildNamesCount)
{
    const std::string doc = "<settings>\n"
                            "  <Wifi ssid=\"upper\"/>\n"
                            "  <extra><wifi ssid=\"nested\"/></extra>\n"
                            "  <wifi ssid=\"right\" password=\"p\">ignored text<wifi ssid=\"deeper\"/></wifi>\n"
                            "  <!-- a comment -->\n"
                            "</settings>";
    const SetupReadResult read = readSetup(doc);
    ASSERT_TRUE(read.ok()) << read.message;
    ASSERT_EQ(read.elements.size(), 1u);
    EXPECT_EQ(read.elements[0].part, SetupPart::Wifi);
    EXPECT_EQ(read.elements[0].values.ssid, u"right");
    EXPECT_EQ(read.elements[0].values.wifiPassword, u"p");
}

TEST(SetupDocument, DuplicatesAreAppliedAgainInDocumentOrder)
{
    const std::string doc = "<root><time summertime=\"1\" choice_timezone=\"8\"/>"
                            "<language choice_language=\"1\"/>"
                            "<wifi ssid=\"first\" password=\"one\"/><wifi ssid=\"second\"/></root>";
    const SetupReadResult read = readSetup(doc);
    ASSERT_TRUE(read.ok());
    ASSERT_EQ(read.elements.size(), 4u);
    EXPECT_EQ(read.elements[1].part, SetupPart::Language);
    SetupValues form;
    form.apn = u"kept";
    applySetupElements(form, read.elements);
    EXPECT_EQ(form.ssid, u"second");
    EXPECT_EQ(form.wifiPassword, u"") << "an absent text attribute gives the empty text";
    EXPECT_EQ(form.apn, u"kept") << "elements that are not in the file change nothing";
    EXPECT_EQ(form.timeZone, 8);
    EXPECT_EQ(form.language, 1);
}

TEST(SetupDocument, IntegerAttributesReadLikeTheConsole)
{
    struct Row
    {
        const char* attribute; // nullptr: absent
        int expected;
    };
    const Row rows[] = {
        {nullptr, 0},
        {"", 0},
        {"abc", 0},
        {"12", 12},
        {" \t12x", 12},
        {"-1", -1},
        {"+7", 7},
        {"0x10", 0},
        {"- 3", 0},
        {"99999999999", INT_MAX},
        {"007", 7},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-99999999999", INT_MIN},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.attribute ? row.attribute : "(absent)");
        const std::string attribute = row.attribute ? std::string(" choice_timezone=\"") + row.attribute + "\"" : "";
        SetupValues form;
        form.timeZone = 99;
        form = readForm("<root><time" + attribute + "/></root>", form);
        EXPECT_EQ(form.timeZone, row.expected);
        EXPECT_EQ(leadingDecimal(utf::fromAscii(row.attribute ? row.attribute : "")), row.expected);
    }
}

TEST(SetupDocument, FilesInTheLegacyChineseCodePageStillLoad)
{
    // "张三" and "港区" in GBK, under the UTF-8 declaration that older installations wrote.
    const std::string gbk = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n"
                            "    <device policename=\"\xD5\xC5\xC8\xFD\" companyname=\"\xB8\xDB\xC7\xF8\"/>\n</root>\n";
    const SetupReadResult read = readSetup(gbk);
    ASSERT_TRUE(read.ok()) << read.message;
    EXPECT_TRUE(read.fromGbk);
    ASSERT_EQ(read.elements.size(), 1u);
    EXPECT_EQ(read.elements[0].values.policeName, u"张三");
    EXPECT_EQ(read.elements[0].values.companyName, u"港区");

    // A byte GBK cannot start stands out as a replacement instead of stopping the read.
    const SetupReadResult odd = readSetup("<root><wifi ssid=\"a\xFF\x62\"/></root>");
    ASSERT_TRUE(odd.ok());
    EXPECT_EQ(odd.elements.at(0).values.ssid, u"a\uFFFDb");
}

TEST(SetupDocument, BrokenOrEmptyFilesAreReportedNotRead)
{
    const SetupReadResult notXml = readSetup("this is not XML");
    EXPECT_EQ(notXml.error, SetupReadError::NotXml);

    const SetupReadResult unclosed = readSetup("<?xml version=\"1.0\"?>\n<root>\n  <wifi ssid=\"a\">\n</root>\n");
    EXPECT_EQ(unclosed.error, SetupReadError::NotXml);
    EXPECT_GE(unclosed.line, 3);
    EXPECT_NE(unclosed.message.find("line " + std::to_string(unclosed.line)), std::string::npos);
    EXPECT_TRUE(unclosed.elements.empty());

    EXPECT_EQ(readSetup("").error, SetupReadError::NoRoot);
    EXPECT_EQ(readSetup("<?xml version=\"1.0\"?>\n<!-- nothing -->\n").error, SetupReadError::NoRoot);

    const SetupReadResult emptyRoot = readSetup("<root/>");
    EXPECT_TRUE(emptyRoot.ok());
    EXPECT_TRUE(emptyRoot.elements.empty());
}

TEST(SetupDocument, FilesAreSavedWholeOrNotAtAll)
{
    ScratchFolder folder;
    const auto file = folder / "现场 setup.xml";
    EXPECT_EQ(loadSetupFile(file).error, SetupReadError::Missing);
    EXPECT_EQ(loadSetupFile(folder / "").error, SetupReadError::Unreadable) << "a folder is no setup file";

    ASSERT_TRUE(saveSetupFile(file, sampleForm()));
    EXPECT_EQ(readFile(file), writeSetup(sampleForm()));
    SetupValues loaded;
    const SetupReadResult read = loadSetupFile(file);
    ASSERT_TRUE(read.ok());
    applySetupElements(loaded, read.elements);
    EXPECT_EQ(loaded, sampleForm());

    const std::string before = readFile(file);
    SetupValues changed = sampleForm();
    changed.ssid = u"other";
    simulateDiskFullAfter(10);
    EXPECT_FALSE(saveSetupFile(file, changed));
    simulateDiskFullAfter(std::nullopt);
    EXPECT_EQ(readFile(file), before);
}

#ifndef _WIN32
// A setup file holds the camera's, the Wi-Fi's and the APN's passwords: a new one is its owner's
// only whatever the umask; one the operator made readable for a colleague stays so.
TEST(SetupDocument, ANewSetupFileIsTheOwnersOnlyAndAnOldOneKeepsItsMode)
{
    ScratchFolder folder;
    const mode_t umaskBefore = ::umask(022);
    const auto fresh = folder / "fresh.xml";
    ASSERT_TRUE(saveSetupFile(fresh, sampleForm()));
    const auto shared = folder / "shared.xml";
    writeFile(shared, "old");
    ::chmod(shared.c_str(), 0640);
    ASSERT_TRUE(saveSetupFile(shared, sampleForm()));
    ::umask(umaskBefore);
    struct stat st {};
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(shared.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}
#endif

} // namespace
} // namespace orv
