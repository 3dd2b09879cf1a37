#include "ledger/event_fields.h"
#include "ledger/ledger.h"
#include "persist/atomic_file.h"
#include "persist/csv_cells.h"

namespace orv::ledger {

bool exportCsv(const std::vector<Event>& events, const std::filesystem::path& file, std::string& error)
{
    std::string out = "\xEF\xBB\xBF";
    for (const detail::FieldInfo& f : detail::kFields) {
        out += f.name;
        out += ',';
    }
    out += "previous_hash,hash\r\n";
    for (const Event& e : events) {
        if (!e.unreadable.empty()) {
            continue;
        }
        for (std::size_t i = 0; i < detail::kFields.size(); ++i) {
            const std::string value = detail::fieldText(e, i).value_or(std::string());
            // Numbers are the program's own ("-2" is no formula); texts came from cameras and people.
            out += detail::isTextKind(detail::kFields[i].kind) ? csvCell(value) : value;
            out += ',';
        }
        out += csvCell(e.previousHash);
        out += ',';
        out += csvCell(e.hash);
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
