#pragma once
// The console's 80 interface texts, the keys they are read under in the language file, and
// which control each one labels.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace orv {

// Language index, as kept in the settings file and used to pick a row of the log messages.
enum class Language : std::uint8_t {
    SimplifiedChinese = 0,
    TraditionalChinese = 1,
    English = 2,
};

inline constexpr std::size_t kLanguageCount = 3;

// Section of the language file for an index; empty for an index outside 0..2.
std::u16string_view languageSection(std::uint8_t index);

// The index to use wherever a valid language is required (the activity log's message row): an
// index outside 0..2 counts as Simplified Chinese.
constexpr std::uint8_t validLanguage(std::uint8_t index)
{
    return index < kLanguageCount ? index : 0;
}

// What the console does with a text.
enum class TextTarget : std::uint8_t {
    Caption,  // caption of every control in `controlIds`
    ComboRow, // row `row` of combo box `controlIds[0]`
};

struct TextEntry
{
    std::u16string_view key;
    TextTarget target;
    int row;                       // ComboRow only
    std::array<int, 6> controlIds; // unused slots are 0

    constexpr std::size_t controlCount() const
    {
        std::size_t n = 0;
        while (n < controlIds.size() && controlIds[n] != 0) {
            ++n;
        }
        return n;
    }
    std::span<const int> controls() const { return {controlIds.data(), controlCount()}; }
};

// Control identifiers of the three combo boxes whose rows come from the texts, and where their
// rows start in the table.
inline constexpr int kLanguageComboId = 1070;
inline constexpr int kPlatformComboId = 1022;
inline constexpr int kTimeZoneComboId = 1046;
inline constexpr std::size_t kLanguageRowsFirst = 1;
inline constexpr std::size_t kPlatformRowsFirst = 17;
inline constexpr std::size_t kPlatformRows = 2;
inline constexpr std::size_t kTimeZoneRowsFirst = 19;
inline constexpr std::size_t kTimeZoneRows = 25;

// Captions that no text replaces: RNDIS, GB28181 and "Sceen Psk".
inline constexpr std::array<int, 3> kFixedCaptionIds{1084, 1089, 1096};

inline constexpr std::size_t kTextCount = 80;

namespace detail {
constexpr TextEntry caption(std::u16string_view key, int id)
{
    return {key, TextTarget::Caption, 0, {id, 0, 0, 0, 0, 0}};
}
constexpr TextEntry row(std::u16string_view key, int combo, int row)
{
    return {key, TextTarget::ComboRow, row, {combo, 0, 0, 0, 0, 0}};
}
} // namespace detail

// Row i of the table is entry i of LanguageTexts. The odd spellings ("Buttton", "Funtion") are
// the keys that language files in the field use.
inline constexpr std::array<TextEntry, kTextCount> kTextTable{{
    detail::caption(u"ID_Text_Language", 1049),
    detail::row(u"ID_COMBO_LangSimCn", kLanguageComboId, 0),
    detail::row(u"ID_COMBO_LangTraCn", kLanguageComboId, 1),
    detail::row(u"ID_COMBO_LangEn", kLanguageComboId, 2),
    detail::caption(u"ID_Text_User", 1019),
    detail::caption(u"ID_Text_CameraIP", 1083),
    detail::caption(u"ID_Text_Username", 1011),
    detail::caption(u"ID_Text_Password", 1012),
    detail::caption(u"ID_Checkbox_Hold", 1010),
    detail::caption(u"ID_Button_Login", 1009),
    detail::caption(u"ID_Button_ChangePasswd", 1018),
    detail::caption(u"ID_Button_Udisk", 1013),
    detail::caption(u"ID_Button_TimeSync", 1014),
    detail::caption(u"ID_Button_Factory", 1016),
    detail::caption(u"ID_Button_FormatDisk", 1015),
    detail::caption(u"ID_Button_Upgrade", 1017),
    detail::caption(u"ID_Buttton_Batch", 1081),
    detail::row(u"ID_COMBO_TTX", kPlatformComboId, 0),
    detail::row(u"ID_COMBO_RTS", kPlatformComboId, 1),
    detail::row(u"ID_Text_TimeZone0", kTimeZoneComboId, 0),
    detail::row(u"ID_Text_TimeZone1", kTimeZoneComboId, 1),
    detail::row(u"ID_Text_TimeZone2", kTimeZoneComboId, 2),
    detail::row(u"ID_Text_TimeZone3", kTimeZoneComboId, 3),
    detail::row(u"ID_Text_TimeZone4", kTimeZoneComboId, 4),
    detail::row(u"ID_Text_TimeZone5", kTimeZoneComboId, 5),
    detail::row(u"ID_Text_TimeZone6", kTimeZoneComboId, 6),
    detail::row(u"ID_Text_TimeZone7", kTimeZoneComboId, 7),
    detail::row(u"ID_Text_TimeZone8", kTimeZoneComboId, 8),
    detail::row(u"ID_Text_TimeZone9", kTimeZoneComboId, 9),
    detail::row(u"ID_Text_TimeZone10", kTimeZoneComboId, 10),
    detail::row(u"ID_Text_TimeZone11", kTimeZoneComboId, 11),
    detail::row(u"ID_Text_TimeZone12", kTimeZoneComboId, 12),
    detail::row(u"ID_Text_TimeZone13", kTimeZoneComboId, 13),
    detail::row(u"ID_Text_TimeZone14", kTimeZoneComboId, 14),
    detail::row(u"ID_Text_TimeZone15", kTimeZoneComboId, 15),
    detail::row(u"ID_Text_TimeZone16", kTimeZoneComboId, 16),
    detail::row(u"ID_Text_TimeZone17", kTimeZoneComboId, 17),
    detail::row(u"ID_Text_TimeZone18", kTimeZoneComboId, 18),
    detail::row(u"ID_Text_TimeZone19", kTimeZoneComboId, 19),
    detail::row(u"ID_Text_TimeZone20", kTimeZoneComboId, 20),
    detail::row(u"ID_Text_TimeZone21", kTimeZoneComboId, 21),
    detail::row(u"ID_Text_TimeZone22", kTimeZoneComboId, 22),
    detail::row(u"ID_Text_TimeZone23", kTimeZoneComboId, 23),
    detail::row(u"ID_Text_TimeZone24", kTimeZoneComboId, 24),
    {u"ID_Buttton_Get", TextTarget::Caption, 0, {1032, 1037, 1042, 1054, 1078, 1087}},
    {u"ID_Buttton_Set", TextTarget::Caption, 0, {1033, 1038, 1043, 1055, 1079, 1088}},
    detail::caption(u"ID_Buttton_Export", 1048),
    detail::caption(u"ID_Buttton_Clear", 1068),
    detail::caption(u"ID_Buttton_Save", 1069),
    detail::caption(u"ID_Buttton_LoadConfig", 1075),
    detail::caption(u"ID_Buttton_SaveConfig", 1074),
    detail::caption(u"ID_Text_Funtion", 1056),
    detail::caption(u"ID_Checkbox_UIdentity", 1080),
    detail::caption(u"ID_Text_Platform", 1020),
    detail::caption(u"ID_Text_PlatformChoice", 1023),
    detail::caption(u"ID_Text_ServerIP", 1024),
    detail::caption(u"ID_Text_ServerPort", 1026),
    detail::caption(u"ID_Text_RtsID", 1028),
    detail::caption(u"ID_Text_RtsCode", 1030),
    detail::caption(u"ID_Text_4G", 1057),
    detail::caption(u"ID_Text_APN", 1060),
    detail::caption(u"ID_Text_APNUsername", 1061),
    detail::caption(u"ID_Text_APNPassword", 1062),
    detail::caption(u"ID_Text_Wifi", 1058),
    detail::caption(u"ID_Text_SSID", 1063),
    detail::caption(u"ID_Text_WifiPassword", 1064),
    detail::caption(u"ID_Text_WifiList", 1065),
    detail::caption(u"ID_Text_Device", 1059),
    detail::caption(u"ID_Text_DeviceId", 1044),
    detail::caption(u"ID_Text_PoliceId", 1076),
    detail::caption(u"ID_Text_PoliceName", 1050),
    detail::caption(u"ID_Text_CoId", 1077),
    detail::caption(u"ID_Text_CoName", 1082),
    detail::caption(u"ID_Text_Time", 1073),
    detail::caption(u"ID_Checkbox_SummerTime", 1072),
    detail::caption(u"ID_COMBO_TimeZone", 1066),
    detail::caption(u"ID_Text_Proxy", 1085),
    detail::caption(u"ID_Checkbox_Proxy", 1086),
    detail::caption(u"ID_Text_ProxyIP", 1091),
    detail::caption(u"ID_Text_ProxyPort", 1092),
}};

// Named entries the console refers to directly.
enum class TextId : std::size_t {
    Language = 0,
    LangSimplifiedChinese = 1,
    LangTraditionalChinese = 2,
    LangEnglish = 3,
    PlatformTtx = 17,
    PlatformRts = 18,
    TimeZone0 = 19,
    Get = 44,
    Set = 45,
};

// Text of an entry that the language file does not provide (missing file, section or key).
inline constexpr std::u16string_view kMissingText = u"Default";
// Entries are read into a buffer of this many units, terminator included: at most 511 units.
inline constexpr std::size_t kTextBufferUnits = 512;

class LanguageTexts
{
public:
    static constexpr std::size_t kSize = kTextCount;

    std::array<std::u16string, kTextCount> entries;

    const std::u16string& operator[](std::size_t i) const { return entries[i]; }
    std::u16string& operator[](std::size_t i) { return entries[i]; }
    const std::u16string& operator[](TextId id) const { return entries[static_cast<std::size_t>(id)]; }

    static std::u16string_view key(std::size_t i) { return kTextTable[i].key; }
    const std::u16string& timeZone(std::size_t row) const { return entries[kTimeZoneRowsFirst + row]; }
};

// Reads one value of a private-profile file: section, key, default text and buffer size in units.
using ProfileTextReader = std::function<std::u16string(std::u16string_view section, std::u16string_view key,
                                                       std::u16string_view defaultText, std::size_t bufferUnits)>;

// Replaces every entry with its key's value from the section of `language`, "Default" for a key
// that is absent. An index outside 0..2 reads nothing, leaves the texts as they are and returns
// false.
bool loadTexts(LanguageTexts& texts, std::uint8_t language, const ProfileTextReader& read);

} // namespace orv
