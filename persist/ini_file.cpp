#include "persist/ini_file.h"

#include "lang/utf.h"
#include "persist/atomic_file.h"
#include "persist/profile_struct.h"

namespace orv {
namespace {

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f';
}

std::size_t skipBlanks(std::u16string_view s, std::size_t from)
{
    while (from < s.size() && isBlank(s[from])) {
        ++from;
    }
    return from;
}

// End of `s` before trailing blanks, not before `from`.
std::size_t trimEnd(std::u16string_view s, std::size_t from, std::size_t end)
{
    while (end > from && isBlank(s[end - 1])) {
        --end;
    }
    return end;
}

std::u16string_view stripQuotes(std::u16string_view value)
{
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

std::size_t unitWidth(IniFile::Encoding e)
{
    return (e == IniFile::Encoding::Utf16Le || e == IniFile::Encoding::Utf16Be) ? 2 : 1;
}

char16_t unitAt(std::string_view bytes, std::size_t i, IniFile::Encoding e)
{
    const auto b0 = static_cast<std::uint8_t>(bytes[i]);
    if (e == IniFile::Encoding::Utf16Le) {
        return static_cast<char16_t>(b0 | (static_cast<std::uint8_t>(bytes[i + 1]) << 8));
    }
    if (e == IniFile::Encoding::Utf16Be) {
        return static_cast<char16_t>((b0 << 8) | static_cast<std::uint8_t>(bytes[i + 1]));
    }
    return b0;
}

std::u16string decode(std::string_view raw, IniFile::Encoding e)
{
    if (unitWidth(e) == 1) {
        return utf::toUtf16(raw);
    }
    std::u16string out;
    out.reserve(raw.size() / 2);
    for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
        out.push_back(unitAt(raw, i, e));
    }
    return out;
}

std::string_view byteOrderMark(IniFile::Encoding e)
{
    switch (e) {
        case IniFile::Encoding::Utf8Bom:
            return "\xEF\xBB\xBF";
        case IniFile::Encoding::Utf16Le:
            return "\xFF\xFE";
        case IniFile::Encoding::Utf16Be:
            return "\xFE\xFF";
        case IniFile::Encoding::Utf8:
            break;
    }
    return {};
}

std::u16string decimal(std::int32_t value)
{
    return utf::fromAscii(std::to_string(value));
}

template <typename Edit>
bool editFile(const std::filesystem::path& file, Edit edit)
{
    const FileContents contents = readWholeFile(file);
    if (contents.outcome == ReadOutcome::Failed) {
        return false; // never replace what could not be read
    }
    IniFile ini = contents.outcome == ReadOutcome::Read ? IniFile::fromBytes(contents.bytes) : IniFile{};
    edit(ini);
    std::string bytes = ini.toBytes();
    if (contents.outcome == ReadOutcome::Read && bytes == contents.bytes) {
        return true;
    }
    // The settings file holds the remembered password: one made here is its owner's only, also
    // beside a portable program, where no private folder covers it. An existing file keeps its mode.
    return replaceFileContents(file, bytes, {}, NewFileAccess::OwnerOnly);
}

} // namespace

void IniFile::Line::setText(std::u16string value)
{
    text = std::move(value);
    kind = Kind::Other;
    nameBegin = nameEnd = valueBegin = valueEnd = 0;
    const std::u16string_view line = text;
    const std::size_t start = skipBlanks(line, 0);
    if (start == line.size() || line[start] == u';') {
        return;
    }
    if (line[start] == u'[') {
        const std::size_t close = line.find(u']', start + 1);
        if (close == std::u16string_view::npos) {
            return;
        }
        kind = Kind::Section;
        nameBegin = skipBlanks(line, start + 1);
        nameEnd = trimEnd(line, nameBegin, close);
        return;
    }
    const std::size_t equals = line.find(u'=', start);
    if (equals == std::u16string_view::npos) {
        return;
    }
    nameBegin = start;
    nameEnd = trimEnd(line, start, equals);
    if (nameEnd == nameBegin) {
        return;
    }
    kind = Kind::Key;
    valueBegin = skipBlanks(line, equals + 1);
    valueEnd = trimEnd(line, valueBegin, line.size());
}

IniFile IniFile::fromBytes(std::string_view bytes)
{
    IniFile ini;
    for (Encoding e : {Encoding::Utf8Bom, Encoding::Utf16Le, Encoding::Utf16Be}) {
        if (bytes.starts_with(byteOrderMark(e))) {
            ini.encoding_ = e;
            break;
        }
    }
    const std::size_t width = unitWidth(ini.encoding_);
    std::size_t lineStart = byteOrderMark(ini.encoding_).size();
    if ((bytes.size() - lineStart) % width != 0) {
        ini.oddByte_ = bytes.substr(bytes.size() - 1);
        bytes.remove_suffix(1);
    }
    std::size_t i = lineStart;
    auto addLine = [&](std::size_t end, std::size_t eolEnd) {
        Line line;
        line.raw.assign(bytes.substr(lineStart, end - lineStart));
        line.eol.assign(bytes.substr(end, eolEnd - end));
        line.setText(decode(line.raw, ini.encoding_));
        ini.lines_.push_back(std::move(line));
        lineStart = eolEnd;
    };
    while (i + width <= bytes.size()) {
        const char16_t u = unitAt(bytes, i, ini.encoding_);
        if (u != u'\n' && u != u'\r') {
            i += width;
            continue;
        }
        std::size_t eolEnd = i + width;
        if (u == u'\r' && eolEnd + width <= bytes.size() && unitAt(bytes, eolEnd, ini.encoding_) == u'\n') {
            eolEnd += width;
        }
        addLine(i, eolEnd);
        i = eolEnd;
    }
    if (lineStart < bytes.size()) {
        addLine(bytes.size(), bytes.size());
    }
    return ini;
}

IniFile IniFile::load(const std::filesystem::path& file)
{
    const FileContents contents = readWholeFile(file);
    return contents.outcome == ReadOutcome::Read ? fromBytes(contents.bytes) : IniFile{};
}

std::string IniFile::toBytes() const
{
    std::string out(byteOrderMark(encoding_));
    for (const Line& line : lines_) {
        out += line.raw;
        out += line.eol;
    }
    out += oddByte_;
    return out;
}

std::string IniFile::encode(std::u16string_view text) const
{
    if (unitWidth(encoding_) == 1) {
        return utf::toUtf8(text);
    }
    std::string out;
    out.reserve(text.size() * 2);
    for (char16_t c : text) {
        const auto low = static_cast<char>(c & 0xFF);
        const auto high = static_cast<char>(c >> 8);
        out.push_back(encoding_ == Encoding::Utf16Le ? low : high);
        out.push_back(encoding_ == Encoding::Utf16Le ? high : low);
    }
    return out;
}

std::u16string IniFile::newline() const
{
    for (const Line& line : lines_) {
        if (!line.eol.empty()) {
            return decode(line.eol, encoding_);
        }
    }
#ifdef _WIN32
    return u"\r\n";
#else
    return u"\n";
#endif
}

void IniFile::insertLine(std::size_t at, std::u16string_view text)
{
    const std::string eol = encode(newline());
    if (at > 0 && lines_[at - 1].eol.empty()) {
        lines_[at - 1].eol = eol;
    }
    Line line;
    line.setText(std::u16string(text));
    line.raw = encode(text);
    line.eol = eol;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

void IniFile::appendLine(std::u16string_view text)
{
    insertLine(lines_.size(), text);
}

std::optional<std::size_t> IniFile::findSection(std::u16string_view section) const
{
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind == Line::Kind::Section && utf::equalsIgnoreAsciiCase(lines_[i].name(), section)) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> IniFile::findKey(std::size_t header, std::u16string_view key) const
{
    for (std::size_t i = header + 1; i < lines_.size(); ++i) {
        if (lines_[i].kind == Line::Kind::Section) {
            break;
        }
        if (lines_[i].kind == Line::Kind::Key && utf::equalsIgnoreAsciiCase(lines_[i].name(), key)) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::u16string> IniFile::rawValue(std::u16string_view section, std::u16string_view key) const
{
    const auto header = findSection(section);
    if (!header) {
        return std::nullopt;
    }
    const auto line = findKey(*header, key);
    if (!line) {
        return std::nullopt;
    }
    return std::u16string(lines_[*line].value());
}

std::u16string IniFile::readString(std::u16string_view section, std::u16string_view key,
                                   std::u16string_view defaultValue, std::size_t bufferUnits) const
{
    const auto raw = rawValue(section, key);
    std::u16string_view value = raw ? stripQuotes(*raw) : defaultValue;
    if (bufferUnits == 0) {
        return {};
    }
    if (value.size() > bufferUnits - 1) {
        const std::size_t keep = bufferUnits - 1;
        const bool splitsPair = keep > 0 && utf::isHighSurrogate(value[keep - 1]) && utf::isLowSurrogate(value[keep]);
        value = value.substr(0, splitsPair ? keep - 1 : keep);
    }
    return std::u16string(value);
}

std::int32_t IniFile::readInt(std::u16string_view section, std::u16string_view key, std::int32_t defaultValue) const
{
    const auto raw = rawValue(section, key);
    if (!raw) {
        return defaultValue;
    }
    const std::u16string_view value = stripQuotes(*raw);
    if (value.empty()) {
        return defaultValue;
    }
    std::size_t i = 0;
    const bool negative = value[0] == u'-';
    if (value[0] == u'-' || value[0] == u'+') {
        ++i;
    }
    std::uint32_t magnitude = 0;
    for (; i < value.size() && value[i] >= u'0' && value[i] <= u'9'; ++i) {
        magnitude = magnitude * 10u + static_cast<std::uint32_t>(value[i] - u'0');
    }
    return static_cast<std::int32_t>(negative ? 0u - magnitude : magnitude);
}

bool IniFile::readStruct(std::u16string_view section, std::u16string_view key, std::span<std::uint8_t> out) const
{
    const auto raw = rawValue(section, key);
    return raw && decodeProfileStruct(*raw, out);
}

void IniFile::setValue(std::u16string_view section, std::u16string_view key, std::u16string_view value)
{
    std::u16string clean(value);
    for (char16_t& c : clean) {
        if (c == u'\r' || c == u'\n') {
            c = u' ';
        }
    }
    const auto header = findSection(section);
    if (!header) {
        if (!lines_.empty() && skipBlanks(lines_.back().text, 0) != lines_.back().text.size()) {
            appendLine(u""); // a blank line between sections
        }
        appendLine(u"[" + std::u16string(section) + u"]");
        appendLine(std::u16string(key) + u"=" + clean);
        return;
    }
    if (const auto line = findKey(*header, key)) {
        // Keep the key's spelling and everything up to the value.
        Line& l = lines_[*line];
        l.setText(l.text.substr(0, l.valueBegin) + clean);
        l.raw = encode(l.text);
        return;
    }
    std::size_t last = *header;
    for (std::size_t i = *header + 1; i < lines_.size() && lines_[i].kind != Line::Kind::Section; ++i) {
        if (lines_[i].kind == Line::Kind::Key) {
            last = i;
        }
    }
    insertLine(last + 1, std::u16string(key) + u"=" + clean);
}

bool IniFile::writeString(const std::filesystem::path& file, std::u16string_view section, std::u16string_view key,
                          std::u16string_view value)
{
    return editFile(file, [&](IniFile& ini) { ini.setValue(section, key, value); });
}

bool IniFile::writeInt(const std::filesystem::path& file, std::u16string_view section, std::u16string_view key,
                       std::int32_t value)
{
    return writeString(file, section, key, decimal(value));
}

bool IniFile::writeStruct(const std::filesystem::path& file, std::u16string_view section, std::u16string_view key,
                          std::span<const std::uint8_t> bytes)
{
    return writeString(file, section, key, encodeProfileStruct(bytes));
}

} // namespace orv
