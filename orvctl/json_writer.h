#pragma once
// A small JSON writer for orvctl's --json output: compact, one document per call site.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orv::cli {

class JsonWriter
{
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name);
    // Text in UTF-8; malformed bytes are written as U+FFFD so the output stays valid JSON.
    JsonWriter& value(std::string_view utf8);
    JsonWriter& value(const char* utf8) { return value(std::string_view(utf8)); }
    JsonWriter& value(std::u16string_view text);
    JsonWriter& value(std::int64_t number);
    JsonWriter& value(int number) { return value(static_cast<std::int64_t>(number)); }
    JsonWriter& value(bool flag);
    JsonWriter& null();

    const std::string& text() const { return out_; }

private:
    void separate();
    void open(char bracket);
    void close(char bracket);

    std::string out_;
    std::vector<bool> hasItems_; // per open container: something written already
    bool afterKey_ = false;
};

// `text` as a JSON string literal, quotes included.
std::string jsonString(std::string_view utf8);

} // namespace orv::cli
