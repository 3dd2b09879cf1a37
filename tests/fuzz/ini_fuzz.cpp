// Arbitrary bytes as a settings or language file, and as a struct value.
// Beyond not crashing, checks what the program relies on:
// - an unedited file serialises to exactly the bytes it was read from;
// - a struct written with setValue reads back as the same record, and the edit changes no other
//   key's value.

#include "lang/utf.h"
#include "persist/ini_file.h"
#include "persist/login_record.h"
#include "persist/profile_struct.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace {

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "ini_fuzz: %s\n", what);
        std::abort();
    }
}

constexpr std::array<std::u16string_view, 4> kSections{u"User", u"Proc", u"Lang", u"English"};
constexpr std::array<std::u16string_view, 4> kKeys{u"UserKey", u"Platform", u"LangKey", u"ID_Text_Language"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace orv;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // The struct decoder on the input read as text and as raw UTF-16 units.
    LoginRecord record;
    decodeProfileStruct(utf::toUtf16(bytes), record.bytes);
    std::u16string units;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    std::array<std::uint8_t, 3> small{};
    if (decodeProfileStruct(units, small)) {
        std::u16string upper = units;
        for (char16_t& c : upper) {
            c = (c >= u'a' && c <= u'f') ? static_cast<char16_t>(c - u'a' + u'A') : c;
        }
        check(encodeProfileStruct(small) == upper, "decoded struct does not encode to its digits");
    }

    IniFile ini = IniFile::fromBytes(bytes);
    check(ini.toBytes() == bytes, "unedited file does not serialise to its bytes");

    std::array<std::optional<std::u16string>, kSections.size() * kKeys.size()> before;
    for (std::size_t s = 0; s < kSections.size(); ++s) {
        for (std::size_t k = 0; k < kKeys.size(); ++k) {
            before[s * kKeys.size() + k] = ini.rawValue(kSections[s], kKeys[k]);
        }
    }
    // The typed readers on one pair of names, chosen by the input.
    const std::u16string_view section = kSections[size % kSections.size()];
    const std::u16string_view key = kKeys[(size / kSections.size()) % kKeys.size()];
    ini.readString(section, key, u"Default", 1 + size % 600);
    ini.readInt(section, key, 0);
    ini.readStruct(section, key, record.bytes);

    for (std::size_t i = 0; i < record.bytes.size(); ++i) {
        record.bytes[i] = static_cast<std::uint8_t>(i * 7 + size);
    }
    ini.setValue(u"User", u"UserKey", encodeProfileStruct(record.bytes));
    const IniFile again = IniFile::fromBytes(ini.toBytes());
    LoginRecord readBack;
    check(again.readStruct(u"User", u"UserKey", readBack.bytes) && readBack == record, "struct does not read back");
    for (std::size_t s = 0; s < kSections.size(); ++s) {
        for (std::size_t k = 0; k < kKeys.size(); ++k) {
            if (s != 0 || k != 0) {
                check(again.rawValue(kSections[s], kKeys[k]) == before[s * kKeys.size() + k],
                      "edit changed another key");
            }
        }
    }
    return 0;
}
