#include "tools/camsim/state_file.h"

#include "link/program_arguments.h"
#include "link/utf.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

namespace orv::camsim {

namespace {

constexpr int kFormat = 1;
// Far beyond any clock a camera could show, and far from overflowing the arithmetic.
constexpr std::int64_t kMaxClockOffset = 100LL * 366 * 86400;

// --- fields over raw record bytes ---

std::int64_t readNumber(std::span<const std::uint8_t> r, const Field& f)
{
    const std::uint8_t* p = r.data() + f.offset;
    switch (f.kind) {
    case FieldKind::U8:
        return p[0];
    case FieldKind::U16:
        return getLe16(p);
    case FieldKind::I32:
        return static_cast<std::int32_t>(getLe32(p));
    case FieldKind::Text:
        break;
    }
    return 0;
}

void writeNumber(std::span<std::uint8_t> r, const Field& f, std::int64_t v)
{
    std::uint8_t* p = r.data() + f.offset;
    if (f.kind == FieldKind::U8) {
        p[0] = static_cast<std::uint8_t>(v);
    } else if (f.kind == FieldKind::U16) {
        putLe16(p, static_cast<std::uint16_t>(v));
    } else if (f.kind == FieldKind::I32) {
        putLe32(p, static_cast<std::uint32_t>(v));
    }
}

bool numberInRange(const Field& f, std::int64_t v)
{
    switch (f.kind) {
    case FieldKind::U8:
        return v >= 0 && v <= 0xFF;
    case FieldKind::U16:
        return v >= 0 && v <= 0xFFFF;
    case FieldKind::I32:
        return v >= INT32_MIN && v <= INT32_MAX;
    case FieldKind::Text:
        break;
    }
    return false;
}

// --- sections ---

struct Section
{
    std::string_view name;
    std::span<std::uint8_t> (*record)(CameraState&);
    std::span<const Field> fields;
};

const std::vector<Field>& accountFields()
{
    static const std::vector<Field> fields = [] {
        static std::array<std::string, 2 * UserTable::kEntries> names;
        std::vector<Field> list{UserTable::count};
        for (std::size_t i = 0; i < UserTable::kEntries; ++i) {
            names[2 * i] = "name." + std::to_string(i);
            names[2 * i + 1] = "password." + std::to_string(i);
            Field name = UserTable::name(i);
            Field password = UserTable::password(i);
            name.name = names[2 * i];
            password.name = names[2 * i + 1];
            list.push_back(name);
            list.push_back(password);
        }
        return list;
    }();
    return fields;
}

constexpr std::array kClockFields{TimeRecord::timeZone, TimeRecord::summerTime};

const std::vector<Section>& sections()
{
    static const std::vector<Section> list{
        {"accounts", [](CameraState& s) { return std::span<std::uint8_t>(s.users.bytes); }, accountFields()},
        {"clock", [](CameraState& s) { return std::span<std::uint8_t>(s.time.bytes); }, kClockFields},
        {"device", [](CameraState& s) { return std::span<std::uint8_t>(s.device.bytes); }, DeviceRecord::kFields},
        {"net4g", [](CameraState& s) { return std::span<std::uint8_t>(s.net4g.bytes); }, Net4gRecord::kFields},
        {"wifi", [](CameraState& s) { return std::span<std::uint8_t>(s.wifi.bytes); }, WifiRecord::kFields},
        {"ttxServer", [](CameraState& s) { return std::span<std::uint8_t>(s.ttxServer.bytes); },
         TtxServerRecord::kFields},
        {"rtsServer", [](CameraState& s) { return std::span<std::uint8_t>(s.rtsServer.bytes); },
         RtsServerRecord::kFields},
        {"function", [](CameraState& s) { return std::span<std::uint8_t>(s.function.bytes); },
         FunctionRecord::kFields},
        {"proxy", [](CameraState& s) { return std::span<std::uint8_t>(s.proxy.bytes); }, ProxyRecord::kFields},
        {"gb28181", [](CameraState& s) { return std::span<std::uint8_t>(s.gb28181.bytes); }, Gb28181Record::kFields},
    };
    return list;
}

const Section* findSection(std::string_view name)
{
    for (const Section& s : sections()) {
        if (s.name == name) {
            return &s;
        }
    }
    return nullptr;
}

// --- text values ---

const char kHex[] = "0123456789ABCDEF";

std::string quote(std::string_view utf8)
{
    std::string out = "\"";
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20 || b == 0x7F) {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<std::string> unquote(std::string_view value, std::string& why)
{
    if (value.empty() || value.front() != '"') {
        return std::string(value); // a hand-written value without quotes
    }
    std::string out;
    for (std::size_t i = 1; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '"') {
            if (i + 1 != value.size()) {
                why = "text after the closing quote";
                return std::nullopt;
            }
            return out;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == value.size()) {
            break;
        }
        switch (value[i]) {
        case '"':
        case '\\':
            out += value[i];
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'x': {
            const int hi = i + 2 < value.size() ? hexDigit(value[i + 1]) : -1;
            const int lo = hi >= 0 ? hexDigit(value[i + 2]) : -1;
            if (lo < 0) {
                why = "\\x needs two hex digits";
                return std::nullopt;
            }
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            why = std::string("unknown escape \\") + value[i];
            return std::nullopt;
        }
    }
    why = "the closing quote is missing";
    return std::nullopt;
}

std::string hexOf(std::span<const std::uint8_t> bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

// Hex digits, with any spaces a hand might have put between them.
std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text)
{
    std::vector<std::uint8_t> out;
    int high = -1;
    for (const char c : text) {
        if (c == ' ' || c == '\t') {
            continue;
        }
        const int d = hexDigit(c);
        if (d < 0) {
            return std::nullopt;
        }
        if (high < 0) {
            high = d;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + d));
            high = -1;
        }
    }
    if (high >= 0) {
        return std::nullopt;
    }
    return out;
}

std::optional<std::int64_t> parseInteger(std::string_view text)
{
    std::int64_t v = 0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || p != end || text.empty()) {
        return std::nullopt;
    }
    return v;
}

std::string_view trim(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

// --- rendering ---

void renderField(std::ostringstream& out, std::span<const std::uint8_t> record, const Field& f)
{
    out << f.name << " = ";
    if (f.kind == FieldKind::Text) {
        out << quote(utf::toUtf8(decodeLinkText(record.data() + f.offset, f.width)));
    } else {
        out << readNumber(record, f);
    }
    out << '\n';
}

std::string clockText(const TimeRecord& r)
{
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 1900 + static_cast<int>(r.number(TimeRecord::year)),
                  static_cast<int>(r.number(TimeRecord::month)), static_cast<int>(r.number(TimeRecord::day)),
                  static_cast<int>(r.number(TimeRecord::hour)), static_cast<int>(r.number(TimeRecord::minute)),
                  static_cast<int>(r.number(TimeRecord::second)));
    return text;
}

// --- parsing ---

struct Entry
{
    std::string key;
    std::string value;
    int line = 0;
};

struct ParseError
{
    int line = 0;
    std::string what;
};

std::optional<ParseError> applySection(const Section& section, const std::vector<Entry>& entries, CameraState& state)
{
    const std::span<std::uint8_t> record = section.record(state);
    for (const Entry& e : entries) {
        if (e.key != "bytes") {
            continue;
        }
        const auto bytes = parseHex(e.value);
        if (!bytes) {
            return ParseError{e.line, "\"bytes\" must be hex digits"};
        }
        if (bytes->size() != record.size()) {
            return ParseError{e.line, "\"bytes\" holds " + std::to_string(bytes->size()) + " bytes; the record has "
                                          + std::to_string(record.size())};
        }
        std::copy(bytes->begin(), bytes->end(), record.begin());
    }
    for (const Entry& e : entries) {
        if (e.key == "bytes") {
            continue;
        }
        if (section.name == "clock" && e.key == "offsetSeconds") {
            const auto v = parseInteger(e.value);
            if (!v || *v < -kMaxClockOffset || *v > kMaxClockOffset) {
                return ParseError{e.line, "offsetSeconds must be a whole number of seconds within 100 years"};
            }
            state.clockOffsetSeconds = *v;
            continue;
        }
        const auto field = std::find_if(section.fields.begin(), section.fields.end(),
                                        [&](const Field& f) { return f.name == e.key; });
        if (field == section.fields.end()) {
            return ParseError{e.line, "unknown setting \"" + e.key + "\" in [" + std::string(section.name) + "]"};
        }
        if (field->kind == FieldKind::Text) {
            std::string why;
            const auto text = unquote(e.value, why);
            if (!text) {
                return ParseError{e.line, why};
            }
            const std::u16string wanted = utf::toUtf16(*text);
            // Only an edited text is written: rewriting an unchanged one would lose the bytes after
            // its terminating zero.
            if (decodeLinkText(record.data() + field->offset, field->width) != wanted) {
                encodeLinkText(wanted, record.data() + field->offset, field->width);
            }
        } else {
            const auto v = parseInteger(e.value);
            if (!v || !numberInRange(*field, *v)) {
                return ParseError{e.line, "\"" + e.key + "\" must be a number that fits the field"};
            }
            if (readNumber(record, *field) != *v) {
                writeNumber(record, *field, *v);
            }
        }
    }
    return std::nullopt;
}

} // namespace

std::string renderStateFile(const CameraState& state)
{
    CameraState copy = state; // the section table hands out mutable views
    std::ostringstream out;
    out << "# State of the orv-camsim simulated camera, rewritten after every change.\n"
           "# \"bytes\" is each record exactly as the camera keeps it, in hex; the other lines show its\n"
           "# fields. Edit a field line (or the hex) while the camera is stopped to change it.\n"
           "# Text is UTF-8 in double quotes, with \\\" \\\\ and \\xHH escapes.\n\n"
           "[camsim]\nformat = "
        << kFormat << "\n";
    for (const Section& section : sections()) {
        const std::span<std::uint8_t> record = section.record(copy);
        out << "\n[" << section.name << "]\n";
        if (section.name == "clock") {
            out << "# camera clock when this was written: " << clockText(state.currentTime()) << "\n";
            out << "offsetSeconds = " << state.clockOffsetSeconds << "\n";
        }
        for (const Field& f : section.fields) {
            if (section.name == "accounts" && f.kind == FieldKind::Text) {
                // Show the entries in use and any other that holds a name.
                const std::size_t entry = (f.offset - 1) / UserTable::kEntrySize;
                const bool inUse = entry < static_cast<std::size_t>(state.users.number(UserTable::count));
                if (!inUse && record[UserTable::name(entry).offset] == 0) {
                    continue;
                }
            }
            renderField(out, record, f);
        }
        out << "bytes = " << hexOf(record) << "\n";
    }
    return out.str();
}

bool parseStateFile(std::string_view text, CameraState& state, std::string* error)
{
    CameraState next = state;
    std::map<std::string, bool, std::less<>> seen;
    const Section* current = nullptr;
    bool inCamsim = false;
    std::vector<Entry> entries;
    int lineNumber = 0;

    auto finish = [&]() -> std::optional<ParseError> {
        std::optional<ParseError> failure;
        if (inCamsim) {
            for (const Entry& e : entries) {
                if (e.key != "format") {
                    return ParseError{e.line, "unknown setting \"" + e.key + "\" in [camsim]"};
                }
                if (parseInteger(e.value) != kFormat) {
                    return ParseError{e.line, "unsupported format \"" + e.value + "\" (this camera writes "
                                                  + std::to_string(kFormat) + ")"};
                }
            }
        } else if (current) {
            failure = applySection(*current, entries, next);
        }
        entries.clear();
        return failure;
    };

    std::optional<ParseError> failure;
    std::size_t pos = 0;
    while (!failure && pos < text.size()) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        const std::string_view line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNumber;
        if (line.empty() || line.front() == '#' || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']') {
                failure = ParseError{lineNumber, "a section header must end with ]"};
                break;
            }
            failure = finish();
            if (failure) {
                break;
            }
            const std::string name(trim(line.substr(1, line.size() - 2)));
            current = findSection(name);
            inCamsim = name == "camsim";
            if (!current && !inCamsim) {
                failure = ParseError{lineNumber, "unknown section [" + name + "]"};
            } else if (seen[name]) {
                failure = ParseError{lineNumber, "section [" + name + "] appears twice"};
            }
            seen[name] = true;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            failure = ParseError{lineNumber, "expected \"name = value\""};
        } else if (!current && !inCamsim) {
            failure = ParseError{lineNumber, "a setting before any section"};
        } else {
            Entry e{std::string(trim(line.substr(0, eq))), std::string(trim(line.substr(eq + 1))), lineNumber};
            const bool duplicate =
                std::any_of(entries.begin(), entries.end(), [&](const Entry& o) { return o.key == e.key; });
            if (duplicate) {
                failure = ParseError{lineNumber, "\"" + e.key + "\" appears twice in its section"};
            }
            entries.push_back(std::move(e));
        }
    }
    if (!failure) {
        failure = finish();
    }
    if (failure) {
        if (error) {
            *error = "line " + std::to_string(failure->line) + ": " + failure->what;
        }
        return false;
    }
    state = next;
    return true;
}

LoadResult loadStateFile(const std::string& path, CameraState& state, std::string* error)
{
    const auto p = pathFromUtf8(path);
    std::error_code ec;
    if (!std::filesystem::exists(p, ec)) {
        return LoadResult::Missing;
    }
    std::ifstream in(p, std::ios::binary);
    std::ostringstream text;
    if (in.is_open()) {
        text << in.rdbuf();
    }
    if (!in.is_open() || in.bad()) {
        if (error) {
            *error = "cannot read state file " + path;
        }
        return LoadResult::Failed;
    }
    std::string why;
    if (!parseStateFile(text.str(), state, &why)) {
        if (error) {
            *error = "state file " + path + ", " + why;
        }
        return LoadResult::Failed;
    }
    return LoadResult::Loaded;
}

bool saveStateFile(const std::string& path, const CameraState& state, std::string* error)
{
    const auto target = pathFromUtf8(path);
    auto temporary = target;
    temporary += ".tmp";
    const std::string text = renderStateFile(state);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out.is_open()) {
            if (error) {
                *error = "cannot create " + path + ".tmp";
            }
            return false;
        }
        out << text;
        out.flush();
        if (!out) {
            out.close();
            if (error) {
                *error = "cannot write " + path + ".tmp";
            }
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, target, ec);
    if (ec) {
        if (error) {
            *error = "cannot replace " + path + ": " + ec.message();
        }
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return false;
    }
    return true;
}

} // namespace orv::camsim
