#include "lang/language_texts.h"

namespace orv {

namespace {

constexpr std::array<std::u16string_view, kLanguageCount> kSections{
    u"SimplifiedChinese",
    u"TraditionalChinese",
    u"English",
};

constexpr bool tableIsConsistent()
{
    for (std::size_t n = 0; n < kTimeZoneRows; ++n) {
        const TextEntry& e = kTextTable[kTimeZoneRowsFirst + n];
        if (e.target != TextTarget::ComboRow || e.controlIds[0] != kTimeZoneComboId || e.row != static_cast<int>(n)) {
            return false;
        }
    }
    for (std::size_t n = 0; n < kLanguageCount; ++n) {
        if (kTextTable[kLanguageRowsFirst + n].controlIds[0] != kLanguageComboId) {
            return false;
        }
    }
    for (std::size_t n = 0; n < kPlatformRows; ++n) {
        if (kTextTable[kPlatformRowsFirst + n].controlIds[0] != kPlatformComboId) {
            return false;
        }
    }
    return kTextTable[static_cast<std::size_t>(TextId::Get)].controlCount() == 6 &&
           kTextTable[static_cast<std::size_t>(TextId::Set)].controlCount() == 6;
}
static_assert(tableIsConsistent());

} // namespace

std::u16string_view languageSection(std::uint8_t index)
{
    return index < kSections.size() ? kSections[index] : std::u16string_view{};
}

bool loadTexts(LanguageTexts& texts, std::uint8_t language, const ProfileTextReader& read)
{
    const std::u16string_view section = languageSection(language);
    if (section.empty()) {
        return false;
    }
    for (std::size_t i = 0; i < kTextCount; ++i) {
        texts[i] = read(section, kTextTable[i].key, kMissingText, kTextBufferUnits);
    }
    return true;
}

} // namespace orv
