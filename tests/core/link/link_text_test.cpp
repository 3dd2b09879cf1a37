// Text in fixed-width record fields, and the GBK reading of whole files beside it.
#include "link/gbk.h"
#include "link/link_text.h"
#include "link/records.h"

#include <gtest/gtest.h>

using namespace orv;

namespace {

TEST(LinkText, ShorterTextKeepsTheOldTail)
{
    WifiRecord wifi;
    wifi.setText(WifiRecord::ssid, u"LongNetworkName");
    wifi.setText(WifiRecord::ssid, u"Short");
    EXPECT_EQ(wifi.bytes[6], 0) << "one terminator";
    EXPECT_EQ(wifi.bytes[7], 't') << "old tail left as it was";
    EXPECT_EQ(wifi.text(WifiRecord::ssid), u"Short");
}

TEST(LinkText, LongTextFillsTheFieldWithoutTerminator)
{
    WifiRecord wifi;
    wifi.bytes[33] = 'X'; // first byte of the next field
    wifi.setText(WifiRecord::ssid, std::u16string(40, u'a'));
    EXPECT_EQ(wifi.bytes[32], 'a');
    EXPECT_EQ(wifi.bytes[33], 'X') << "stays inside its field";
    EXPECT_EQ(wifi.text(WifiRecord::ssid), std::u16string(32, u'a'));
}

TEST(LinkText, Latin1TravelsAsSingleBytes)
{
    WifiRecord wifi;
    wifi.setText(WifiRecord::ssid, u"Caf\u00e9 \u00fc\u00df");
    EXPECT_EQ(wifi.bytes[4], 0xE9);
    EXPECT_EQ(wifi.text(WifiRecord::ssid), u"Caf\u00e9 \u00fc\u00df");
}

TEST(LinkText, ChineseIsWrittenInGbk)
{
    DeviceRecord device;
    device.setText(DeviceRecord::companyName, u"公安局");
    EXPECT_EQ(device.bytes[129], 0xB9);
    EXPECT_EQ(device.bytes[130], 0xAB);
    EXPECT_EQ(device.text(DeviceRecord::companyName), u"公安局");
}

TEST(LinkText, UnencodableCharactersBecomeQuestionMarks)
{
    WifiRecord wifi;
    wifi.setText(WifiRecord::ssid, u"a\u0e01\U0001F600b"); // Thai letter, an emoji
    EXPECT_EQ(wifi.text(WifiRecord::ssid), u"a??b");
}

TEST(LinkText, TwoByteCharacterIsNeverCutAtTheFieldEnd)
{
    PasswordChange change;
    change.bytes[16] = 0x77;
    change.setText(PasswordChange::name, std::u16string(15, u'x') + u"张");
    EXPECT_EQ(change.bytes[16], 0) << "no half character, terminator instead";
    EXPECT_EQ(change.text(PasswordChange::name), std::u16string(15, u'x'));
}

TEST(LinkText, BytesThatAreNotGbkReadAsThemselves)
{
    DeviceRecord device;
    const std::uint8_t raw[] = {0x81, 0x30, 0xFF, 0xE9, 0};
    std::copy(std::begin(raw), std::end(raw), device.bytes.begin() + 1);
    EXPECT_EQ(device.text(DeviceRecord::policeId), u"\u0081" u"0\u00ff\u00e9");
}

// One GBK table serves the link and the setup files' fallback; each reads the bytes its own way.
TEST(GbkText, FilesReadEveryPairWhileTheLinkKeepsLatin1AsSingleBytes)
{
    const std::string bytes = "\xD5\xC5\xA8\xA2"; // "张á" in GBK: á has a pair, but the link sends it as 0xE1
    EXPECT_EQ(gbkToUtf16(bytes), u"\u5F20\u00E1");
    EXPECT_EQ(decodeLinkText(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), u"\u5F20\u00A8\u00A2");
    EXPECT_EQ(linkBytes(u"\u5F20\u00E1"), "\xD5\xC5\xE1");
}

TEST(GbkText, FilesMarkBytesThatStartNoCharacter)
{
    // A cut pair, a lead before a byte no pair ends with, 0xFF, and 0x80 (the euro sign of 936).
    EXPECT_EQ(gbkToUtf16(std::string("a\x81 \xFF\x80z\xD5", 7)), u"a\uFFFD \uFFFD\u20ACz\uFFFD");
    const std::uint8_t field[] = {'a', 0x81, ' ', 0xFF, 0x80, 'z', 0xD5};
    EXPECT_EQ(decodeLinkText(field, sizeof field), u"a\u0081 \u00FF\u0080z\u00D5");
}

TEST(Records, NumbersWrapToTheirWidth)
{
    TtxServerRecord server;
    server.setNumber(TtxServerRecord::serverPort, 70000);
    EXPECT_EQ(server.number(TtxServerRecord::serverPort), 4464);
    ProxyRecord proxy;
    proxy.setNumber(ProxyRecord::proxyPort, -1);
    EXPECT_EQ(proxy.number(ProxyRecord::proxyPort), -1);
    EXPECT_EQ(proxy.bytes[71], 0xFF);
}

} // namespace
