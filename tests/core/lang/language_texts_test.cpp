#include "lang/language_texts.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace orv {
namespace {

std::u16string ascii(const std::string& s)
{
    return {s.begin(), s.end()};
}

TEST(TextTable, KeysAreUniqueAndKeepTheirSpellings)
{
    std::set<std::u16string_view> keys;
    for (const TextEntry& e : kTextTable) {
        EXPECT_TRUE(keys.insert(e.key).second) << std::string(e.key.begin(), e.key.end());
    }
    EXPECT_EQ(kTextTable.front().key, u"ID_Text_Language");
    EXPECT_EQ(kTextTable.back().key, u"ID_Text_ProxyPort");
    EXPECT_EQ(kTextTable[16].key, u"ID_Buttton_Batch");
    EXPECT_EQ(kTextTable[50].key, u"ID_Buttton_SaveConfig");
    EXPECT_EQ(kTextTable[51].key, u"ID_Text_Funtion");
    EXPECT_EQ(kTextTable[75].key, u"ID_COMBO_TimeZone");
}

TEST(TextTable, TimeZoneRowsFollowTheirNumbers)
{
    for (std::size_t n = 0; n < kTimeZoneRows; ++n) {
        const TextEntry& e = kTextTable[kTimeZoneRowsFirst + n];
        EXPECT_EQ(std::u16string(e.key), ascii("ID_Text_TimeZone" + std::to_string(n)));
        EXPECT_EQ(e.row, static_cast<int>(n));
        EXPECT_EQ(e.controls().size(), 1u);
    }
}

TEST(TextTable, EveryKeyedControlIsLabelledOnce)
{
    std::multiset<int> captions;
    for (const TextEntry& e : kTextTable) {
        if (e.target == TextTarget::Caption) {
            captions.insert(e.controls().begin(), e.controls().end());
        }
    }
    // 48 single captions plus the six Get and six Set buttons.
    EXPECT_EQ(captions.size(), 60u);
    EXPECT_EQ(std::set<int>(captions.begin(), captions.end()).size(), captions.size());
    for (int fixed : kFixedCaptionIds) {
        EXPECT_EQ(captions.count(fixed), 0u) << fixed;
    }
    for (int combo : {kLanguageComboId, kPlatformComboId, kTimeZoneComboId}) {
        EXPECT_EQ(captions.count(combo), 0u) << combo;
    }
}

TEST(LanguageSections, OnlyTheThreeLanguagesHaveSections)
{
    EXPECT_EQ(languageSection(0), u"SimplifiedChinese");
    EXPECT_EQ(languageSection(1), u"TraditionalChinese");
    EXPECT_EQ(languageSection(2), u"English");
    EXPECT_TRUE(languageSection(3).empty());
    EXPECT_TRUE(languageSection(255).empty());
    EXPECT_EQ(validLanguage(2), 2);
    EXPECT_EQ(validLanguage(3), 0);
}

struct Call
{
    std::u16string section;
    std::u16string key;
    std::u16string defaultText;
    std::size_t bufferUnits;
};

TEST(LoadTexts, ReadsEveryKeyFromTheLanguagesSection)
{
    LanguageTexts texts;
    std::vector<Call> calls;
    ASSERT_TRUE(loadTexts(texts, 1, [&](auto section, auto key, auto defaultText, auto units) {
        calls.push_back({std::u16string(section), std::u16string(key), std::u16string(defaultText), units});
        return u"<" + std::u16string(key) + u">";
    }));
    ASSERT_EQ(calls.size(), kTextCount);
    for (std::size_t i = 0; i < kTextCount; ++i) {
        EXPECT_EQ(calls[i].section, u"TraditionalChinese");
        EXPECT_EQ(calls[i].key, kTextTable[i].key);
        EXPECT_EQ(calls[i].defaultText, u"Default");
        EXPECT_EQ(calls[i].bufferUnits, 512u);
        EXPECT_EQ(texts[i], u"<" + calls[i].key + u">");
    }
}

TEST(LoadTexts, AnIndexOutsideTheLanguagesReadsNothing)
{
    LanguageTexts texts;
    texts[0] = u"kept";
    bool called = false;
    EXPECT_FALSE(loadTexts(texts, 3, [&](auto, auto, auto, auto) {
        called = true;
        return std::u16string();
    }));
    EXPECT_FALSE(called);
    EXPECT_EQ(texts[0], u"kept");
    EXPECT_TRUE(texts[1].empty());
}

} // namespace
} // namespace orv
