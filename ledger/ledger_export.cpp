#include "ledger/ledger_export.h"

#include "ledger/event_fields.h"
#include "persist/atomic_file.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace orv::ledger {
namespace {

// Keys in the order written: an event reads in its canonical order.
using Json = nlohmann::ordered_json;

constexpr std::string_view kFormat = "orvcamera-ledger";
constexpr int kVersion = 1;

Json eventObject(const Event& e)
{
    Json object = Json::object();
    for (std::size_t i = 0; i < detail::kFields.size(); ++i) {
        const detail::FieldInfo& f = detail::kFields[i];
        const std::optional<std::string> text = detail::fieldText(e, i);
        const std::string name(f.name);
        if (i >= detail::kFieldsOfForm1 && !text) {
            continue; // an event without a spool's fields reads as one written before them
        }
        if (detail::isTextKind(f.kind)) {
            object[name] = *text;
        } else if (!text) {
            object[name] = nullptr;
        } else {
            object[name] = std::stoll(*text);
        }
    }
    object["previous_hash"] = e.previousHash;
    object["hash"] = e.hash;
    return object;
}

// One line's problem, for the reader.
struct Problem
{
    std::string text;
};

bool takeEvent(const Json& object, Event& e, std::string& problem)
{
    if (!object.is_object()) {
        problem = "\"event\" is not an object";
        return false;
    }
    // 22 members, or 25 with a spool's fields.
    const std::size_t expected = detail::kFields.size() + 2;
    const std::size_t expectedOfForm1 = detail::kFieldsOfForm1 + 2;
    if (object.size() != expected && object.size() != expectedOfForm1) {
        problem = "an event has " + std::to_string(expectedOfForm1) + " or " + std::to_string(expected) +
                  " fields, this one " + std::to_string(object.size());
        return false;
    }
    const bool spooled = object.size() == expected;
    for (std::size_t column = 0; column < detail::kColumnCount; ++column) {
        if (!spooled && column >= detail::kFieldsOfForm1 && column < detail::kFields.size()) {
            continue;
        }
        const std::string name = column < detail::kFields.size()     ? std::string(detail::kFields[column].name)
                                 : column == detail::kPrevHashColumn ? std::string("previous_hash")
                                                                     : std::string("hash");
        const auto found = object.find(name);
        if (found == object.end()) {
            problem = "the event has no \"" + name + "\"";
            return false;
        }
        const bool text = column >= detail::kFields.size() || detail::isTextKind(detail::kFields[column].kind);
        const bool optional =
            column < detail::kFields.size() && detail::kFields[column].kind == detail::FieldKind::OptionalInteger;
        std::optional<std::string> value;
        if (text && found->is_string()) {
            value = found->get<std::string>();
        } else if (!text && found->is_number_integer()) {
            value = std::to_string(found->get<std::int64_t>());
        } else if (!(optional && found->is_null())) {
            problem = "the event's \"" + name + "\" is not " + (text ? "text" : "a whole number");
            return false;
        }
        if (!detail::setColumnText(e, column, value)) {
            problem = "the event's \"" + name + "\" is out of range";
            return false;
        }
    }
    return true;
}

bool takeCheckpoint(const Json& object, StoredCheckpoint& c, std::string& problem)
{
    if (!object.is_object() || object.size() != 4) {
        problem = "\"checkpoint\" is not an object of id, tree_size, recorded_utc and note";
        return false;
    }
    const auto id = object.find("id");
    const auto size = object.find("tree_size");
    const auto recorded = object.find("recorded_utc");
    const auto note = object.find("note");
    if (id == object.end() || !id->is_number_integer() || size == object.end() || !size->is_number_integer() ||
        recorded == object.end() || !recorded->is_string() || note == object.end() || !note->is_string()) {
        problem = "a checkpoint has a whole-number id and tree_size and text recorded_utc and note";
        return false;
    }
    c.id = id->get<std::int64_t>();
    c.size = size->get<std::int64_t>();
    c.recordedUtc = recorded->get<std::string>();
    c.note = note->get<std::string>();
    return true;
}

} // namespace

std::string jsonLinesExport(const LedgerSnapshot& snapshot)
{
    Json header = {{"format", kFormat}, {"version", kVersion}, {"origin", snapshot.origin}};
    if (snapshot.head) {
        header["head"] = {{"number", snapshot.head->number}, {"hash", snapshot.head->hash}};
    }
    // Text as it is stored: invalid UTF-8 cannot be in the ledger, so nothing is replaced.
    std::string out = header.dump(-1, ' ', false, Json::error_handler_t::strict) + "\n";
    for (const Event& e : snapshot.events) {
        if (!e.unreadable.empty()) {
            continue;
        }
        out += Json{{"event", eventObject(e)}}.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    }
    for (const StoredCheckpoint& c : snapshot.checkpoints) {
        const Json object = {{"id", c.id}, {"tree_size", c.size}, {"recorded_utc", c.recordedUtc}, {"note", c.note}};
        out += Json{{"checkpoint", object}}.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    }
    return out;
}

bool exportJsonLines(const LedgerSnapshot& snapshot, const std::filesystem::path& file, std::string& error)
{
    if (!replaceFileContents(file, jsonLinesExport(snapshot))) {
        error = "cannot write " + pathUtf8(file) + "; what was there is as it was";
        return false;
    }
    return true;
}

std::optional<LedgerSnapshot> parseJsonLinesExport(std::string_view text, std::string& error)
{
    LedgerSnapshot snapshot;
    int line = 0;
    bool sawHeader = false;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        std::string_view row = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        at = end == std::string_view::npos ? text.size() : end + 1;
        ++line;
        if (!row.empty() && row.back() == '\r') {
            row.remove_suffix(1);
        }
        const auto refuse = [&](const std::string& why) {
            error = "line " + std::to_string(line) + ": " + why;
            return std::nullopt;
        };
        if (row.empty()) {
            continue;
        }
        const Json value = Json::parse(row, nullptr, false);
        if (value.is_discarded() || !value.is_object()) {
            return refuse("not a JSON object");
        }
        if (!sawHeader) {
            const auto format = value.find("format");
            const auto version = value.find("version");
            const auto origin = value.find("origin");
            if (format == value.end() || *format != kFormat || version == value.end() ||
                !version->is_number_integer() || origin == value.end() || !origin->is_string()) {
                return refuse("an export starts with {\"format\":\"orvcamera-ledger\",\"version\":1,\"origin\":...}");
            }
            if (version->get<std::int64_t>() != kVersion) {
                return refuse("an export of version " + std::to_string(version->get<std::int64_t>()) +
                              ", this program reads version " + std::to_string(kVersion));
            }
            snapshot.origin = origin->get<std::string>();
            if (const auto head = value.find("head"); head != value.end()) {
                const auto number = head->is_object() ? head->find("number") : head->end();
                const auto hash = head->is_object() ? head->find("hash") : head->end();
                if (!head->is_object() || number == head->end() || !number->is_number_integer() ||
                    hash == head->end() || !hash->is_string()) {
                    return refuse("the head is an object of a whole-number number and a text hash");
                }
                snapshot.head = ChainHead{number->get<std::int64_t>(), hash->get<std::string>()};
            }
            sawHeader = true;
            continue;
        }
        if (value.size() != 1) {
            return refuse("a record is one \"event\" or one \"checkpoint\"");
        }
        std::string problem;
        if (const auto event = value.find("event"); event != value.end()) {
            if (!takeEvent(*event, snapshot.events.emplace_back(), problem)) {
                return refuse(problem);
            }
        } else if (const auto checkpoint = value.find("checkpoint"); checkpoint != value.end()) {
            if (!takeCheckpoint(*checkpoint, snapshot.checkpoints.emplace_back(), problem)) {
                return refuse(problem);
            }
        } else {
            return refuse("a record is one \"event\" or one \"checkpoint\"");
        }
    }
    if (!sawHeader) {
        error = "it is empty: an export starts with its header line";
        return std::nullopt;
    }
    return snapshot;
}

std::optional<LedgerSnapshot> readJsonLinesExport(const std::filesystem::path& file, std::string& error)
{
    // An export of a long-kept ledger is larger than any settings file: read as it is.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        error = pathUtf8(file) + (std::filesystem::exists(file, ec) ? ": is not a file" : ": there is no such file");
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in.good() && !in.eof()) {
        error = pathUtf8(file) + ": cannot be read";
        return std::nullopt;
    }
    std::optional<LedgerSnapshot> snapshot = parseJsonLinesExport(bytes.str(), error);
    if (!snapshot) {
        error = pathUtf8(file) + ": " + error;
    }
    return snapshot;
}

} // namespace orv::ledger
