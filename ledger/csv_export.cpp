#include "ledger/event_fields.h"
#include "ledger/ledger.h"
#include "persist/atomic_file.h"

namespace orv::ledger {
namespace {

// RFC 4180: a field holding a comma, a quote or a line break is quoted, its quotes doubled. Values
// are written as they are (no prefix against spreadsheet formulas): the export must let anyone
// recompute each event's hash from it.
void appendField(std::string& out, std::string_view value)
{
    if (value.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += value;
        return;
    }
    out += '"';
    for (const char c : value) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    out += '"';
}

} // namespace

bool exportCsv(const std::vector<Event>& events, const std::filesystem::path& file, std::string& error)
{
    std::string out = "\xEF\xBB\xBF";
    for (const detail::FieldInfo& f : detail::kFields) {
        out += f.name;
        out += ',';
    }
    out += "previous_hash,hash\r\n";
    for (const Event& e : events) {
        for (std::size_t i = 0; i < detail::kFields.size(); ++i) {
            appendField(out, detail::fieldText(e, i).value_or(std::string()));
            out += ',';
        }
        appendField(out, e.previousHash);
        out += ',';
        appendField(out, e.hash);
        out += "\r\n";
    }
    if (!replaceFileContents(file, out)) {
        const std::u8string name = file.u8string();
        error = "cannot write " + std::string(name.begin(), name.end()) + "; what was there is as it was";
        return false;
    }
    return true;
}

} // namespace orv::ledger
