#pragma once
// A private-profile (INI) file with the rules the settings and language files rely on:
// - section and key names match without regard to (ASCII) case; the first section of a name is
//   the one read and written, and the first key of a name within it;
// - a value is read as it stands after "key =", blanks around it trimmed; readString also
//   removes one pair of enclosing quotation marks (" or ');
// - a missing file, section or key gives the caller's default;
// - files are UTF-8 with or without byte-order mark, or UTF-16 with byte-order mark; lines end
//   in CR LF, LF or CR; lines starting with ';' are comments.
// Edits change only the line of the key (or add lines); every other byte of the file is kept, so
// comments, blank lines and text in any encoding survive a write.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

class IniFile
{
public:
    enum class Encoding : std::uint8_t {
        Utf8,
        Utf8Bom,
        Utf16Le, // with byte-order mark
        Utf16Be, // with byte-order mark
    };

    // An empty file, UTF-8 without byte-order mark.
    IniFile() = default;
    static IniFile fromBytes(std::string_view bytes);
    // A missing or unreadable file reads as an empty one.
    static IniFile load(const std::filesystem::path& file);

    std::string toBytes() const;
    Encoding encoding() const { return encoding_; }

    // The value as it stands, nullopt when the section or key is absent.
    std::optional<std::u16string> rawValue(std::u16string_view section, std::u16string_view key) const;

    // As the profile string reader with a buffer of `bufferUnits` units: quotes removed, the result
    // cut to bufferUnits - 1 units (never leaving half a surrogate pair).
    std::u16string readString(std::u16string_view section, std::u16string_view key, std::u16string_view defaultValue,
                              std::size_t bufferUnits = 512) const;

    // As the profile integer reader: an optional sign and the decimal digits that follow, up to the
    // first other character ("12ab" is 12, "ab" is 0), wrapping at 32 bits; the default when the
    // key is absent or its value empty.
    std::int32_t readInt(std::u16string_view section, std::u16string_view key, std::int32_t defaultValue) const;

    // Decodes the struct encoding into `out`; false (and `out` untouched) unless the value decodes
    // to exactly out.size() bytes with a matching checksum.
    bool readStruct(std::u16string_view section, std::u16string_view key, std::span<std::uint8_t> out) const;

    // Sets the key, adding section and key when absent. A value must not contain line breaks;
    // they are replaced by spaces.
    void setValue(std::u16string_view section, std::u16string_view key, std::u16string_view value);

    // One key into a file: read it, change the key, replace the file atomically. False when the
    // file was left as it was (it could not be read or written).
    static bool writeString(const std::filesystem::path& file, std::u16string_view section, std::u16string_view key,
                            std::u16string_view value);
    static bool writeInt(const std::filesystem::path& file, std::u16string_view section, std::u16string_view key,
                         std::int32_t value);
    static bool writeStruct(const std::filesystem::path& file, std::u16string_view section, std::u16string_view key,
                            std::span<const std::uint8_t> bytes);

private:
    struct Line
    {
        enum class Kind : std::uint8_t { Other, Section, Key };

        std::string raw; // bytes as in the file, without the line break
        std::string eol; // the line break's bytes; empty on a last line without one
        std::u16string text;
        // What the text holds, found once when the text is set.
        Kind kind = Kind::Other;
        std::size_t nameBegin = 0;
        std::size_t nameEnd = 0;
        std::size_t valueBegin = 0; // Key only
        std::size_t valueEnd = 0;

        void setText(std::u16string text);
        std::u16string_view name() const { return std::u16string_view(text).substr(nameBegin, nameEnd - nameBegin); }
        std::u16string_view value() const
        {
            return std::u16string_view(text).substr(valueBegin, valueEnd - valueBegin);
        }
    };

    std::string encode(std::u16string_view text) const;
    std::u16string newline() const;
    void appendLine(std::u16string_view text);
    void insertLine(std::size_t at, std::u16string_view text);
    // Index of the header line of the first section called `section`.
    std::optional<std::size_t> findSection(std::u16string_view section) const;
    // Index of the first line of `key` in the section whose header is at `header`.
    std::optional<std::size_t> findKey(std::size_t header, std::u16string_view key) const;

    Encoding encoding_ = Encoding::Utf8;
    std::vector<Line> lines_;
    std::string oddByte_; // the last byte of a UTF-16 file of odd length, kept at the end
};

} // namespace orv
