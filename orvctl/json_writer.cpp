#include "orvctl/json_writer.h"

#include "lang/utf.h"

namespace orv::cli {

std::string jsonString(std::string_view utf8)
{
    // Normalise first: a round trip through UTF-16 turns malformed bytes into U+FFFD.
    const std::string clean = utf::toUtf8(utf::toUtf16(utf8));
    std::string out;
    out.reserve(clean.size() + 2);
    out += '"';
    for (const char c : clean) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20 || u == 0x7F) {
                    static const char digits[] = "0123456789abcdef";
                    out += "\\u00";
                    out += digits[u >> 4];
                    out += digits[u & 15];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

void JsonWriter::separate()
{
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!hasItems_.empty()) {
        if (hasItems_.back()) {
            out_ += ',';
        }
        hasItems_.back() = true;
    }
}

void JsonWriter::open(char bracket)
{
    separate();
    out_ += bracket;
    hasItems_.push_back(false);
}

void JsonWriter::close(char bracket)
{
    out_ += bracket;
    if (!hasItems_.empty()) {
        hasItems_.pop_back();
    }
}

JsonWriter& JsonWriter::beginObject()
{
    open('{');
    return *this;
}

JsonWriter& JsonWriter::endObject()
{
    close('}');
    return *this;
}

JsonWriter& JsonWriter::beginArray()
{
    open('[');
    return *this;
}

JsonWriter& JsonWriter::endArray()
{
    close(']');
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name)
{
    separate();
    out_ += jsonString(name);
    out_ += ':';
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::value(std::string_view utf8)
{
    separate();
    out_ += jsonString(utf8);
    return *this;
}

JsonWriter& JsonWriter::value(std::u16string_view text)
{
    return value(std::string_view(utf::toUtf8(text)));
}

JsonWriter& JsonWriter::value(std::int64_t number)
{
    separate();
    out_ += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(bool flag)
{
    separate();
    out_ += flag ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::null()
{
    separate();
    out_ += "null";
    return *this;
}

} // namespace orv::cli
