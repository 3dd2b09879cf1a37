#include "persist/settings.h"

#include "lang/utf.h"
#include "persist/ini_file.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>

namespace orv {
namespace {

namespace fs = std::filesystem;

const fs::path kShippedFile = fs::path(ORV_RES_DIR) / "orv_language.ini";
const fs::path kTwinsDir = fs::path(ORV_TEST_DATA_DIR) / "lang";

class LanguageFile : public ::testing::Test
{
protected:
    void SetUp() override { settings.Init(folder.path()); }

    // Loads the texts of `language` from `file`.
    const LanguageTexts& load(int language, const fs::path& file)
    {
        settings.languagePath = file;
        settings.SaveLanguage(language);
        settings.LoadTexts();
        return *settings.texts;
    }

    test::TempFolder folder;
    CSettings settings;
};

TEST_F(LanguageFile, AMissingFileGivesDefaultEverywhere)
{
    const LanguageTexts& texts = load(0, folder / "orv_language.ini");
    for (std::size_t i = 0; i < kTextCount; ++i) {
        EXPECT_EQ(texts[i], u"Default") << i;
    }
}

TEST_F(LanguageFile, TheIndexComesFromTheSettingsFileEachTime)
{
    const auto file = folder / "orv_language.ini";
    test::writeBytes(file, "[SimplifiedChinese]\nID_Text_Language=A\n[English]\nID_Text_Language=C\n");
    EXPECT_EQ(load(0, file)[0], u"A");

    test::writeBytes(settings.setupPath, "[Lang]\nLangKey=258\n"); // low eight bits: 2
    settings.LoadTexts();
    EXPECT_EQ(*settings.language, 2);
    EXPECT_EQ((*settings.texts)[0], u"C");

    // No section for index 3: the texts stay as they were.
    EXPECT_EQ(load(3, file)[0], u"C");
    EXPECT_EQ(*settings.language, 3);
    EXPECT_EQ((*settings.texts)[1], u"Default");
}

TEST_F(LanguageFile, ValuesAreCutTo511Units)
{
    const auto file = folder / "orv_language.ini";
    test::writeBytes(file, "[English]\nID_Text_Language=" + std::string(511, 'a') +
                               "\nID_COMBO_LangSimCn=" + std::string(512, 'b') + "\nID_COMBO_LangTraCn=\"\"\n");
    const LanguageTexts& texts = load(2, file);
    EXPECT_EQ(texts[0], std::u16string(511, u'a'));
    EXPECT_EQ(texts[1], std::u16string(511, u'b'));
    EXPECT_EQ(texts[2], u"");
}

TEST_F(LanguageFile, AUtf16FileReadsLikeItsUtf8Twin)
{
    for (int language = 0; language < 3; ++language) {
        const LanguageTexts fromUtf8 = load(language, kTwinsDir / "twin_utf8.ini");
        const LanguageTexts& fromUtf16 = load(language, kTwinsDir / "twin_utf16le.ini");
        EXPECT_EQ(fromUtf16.entries, fromUtf8.entries) << language;
    }
    const LanguageTexts& sc = load(0, kTwinsDir / "twin_utf16le.ini");
    EXPECT_EQ(sc[0], u"\u8BED\u8A00");
    EXPECT_EQ(sc[1], u"  \u7B80\u4F53\u4E2D\u6587  ");
    EXPECT_EQ(sc[4], u"");
    EXPECT_EQ(sc.timeZone(12), u"UTC+00:00 \u4F26\u6566");
    EXPECT_EQ(sc[2], u"Default");
    EXPECT_EQ(load(1, kTwinsDir / "twin_utf16le.ini")[TextId::Get], u"\u8B80\u53D6 \U0001F4F7");
    EXPECT_EQ(load(2, kTwinsDir / "twin_utf16le.ini")[51], u"Functions");
}

// Reads the shipped file line by line, independently of IniFile: section -> key -> value.
std::map<std::string, std::map<std::string, std::string>> shippedEntries(std::set<std::string>& duplicates)
{
    std::map<std::string, std::map<std::string, std::string>> sections;
    std::istringstream in(test::readBytes(kShippedFile));
    std::string line;
    std::string section;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == ';') {
            continue;
        }
        if (line[0] == '[') {
            section = line.substr(1, line.find(']') - 1);
            continue;
        }
        const auto eq = line.find('=');
        if (!sections[section].emplace(line.substr(0, eq), line.substr(eq + 1)).second) {
            duplicates.insert(section + "/" + line.substr(0, eq));
        }
    }
    return sections;
}

TEST(ShippedLanguageFile, HasEveryKeyInEverySectionAndNoOthers)
{
    std::set<std::string> duplicates;
    const auto sections = shippedEntries(duplicates);
    EXPECT_TRUE(duplicates.empty()) << *duplicates.begin();
    ASSERT_EQ(sections.size(), 3u);
    for (std::uint8_t language = 0; language < 3; ++language) {
        const std::string name = utf::toUtf8(languageSection(language));
        ASSERT_TRUE(sections.contains(name)) << name;
        const auto& entries = sections.at(name);
        EXPECT_EQ(entries.size(), kTextCount) << name;
        for (const TextEntry& e : kTextTable) {
            const std::string key = utf::toUtf8(e.key);
            const auto it = entries.find(key);
            ASSERT_NE(it, entries.end()) << name << "/" << key;
            EXPECT_FALSE(it->second.empty()) << name << "/" << key;
            EXPECT_EQ(it->second.find('\r'), std::string::npos) << name << "/" << key;
        }
    }
}

TEST_F(LanguageFile, ShippedTimeZoneRowsAreLabelledByTheirOffset)
{
    for (int language = 0; language < 3; ++language) {
        const LanguageTexts& texts = load(language, kShippedFile);
        for (std::size_t n = 0; n < kTimeZoneRows; ++n) {
            const int offset = static_cast<int>(n) - 12;
            char label[32];
            std::snprintf(label, sizeof label, "UTC%c%02d:00", offset < 0 ? '-' : '+', offset < 0 ? -offset : offset);
            EXPECT_EQ(utf::toUtf8(texts.timeZone(n)).rfind(label, 0), 0u) << language << " row " << n;
        }
        EXPECT_EQ(texts[TextId::LangSimplifiedChinese], u"\u7B80\u4F53\u4E2D\u6587");
        EXPECT_EQ(texts[TextId::LangEnglish], u"English");
    }
}

} // namespace
} // namespace orv
