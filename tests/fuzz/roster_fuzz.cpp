// Arbitrary bytes as the officers' roster (orvctl provision --all --roster, the search tool).
// Beyond not crashing, checks:
// - a roster that reads is the same officers, in the same order, once written again as CSV (each
//   cell as the program's CSV writer writes it, or quoted in full where that writer would put an
//   apostrophe before a formula character) and read again;
// - a roster that does not read holds no entries, and every problem and entry names a line the
//   file has;
// - find() gives each entry by its device id.
// Input: the file's bytes; the written copy has a BOM when the input had one and ends its lines
// with LF or CRLF by the input's length.

#include "fleet/roster.h"
#include "lang/utf.h"
#include "persist/csv_cells.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace orv;
using namespace orv::fleet;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "roster_fuzz: %s\n", what);
        std::abort();
    }
}

// Lines as an editor shows them: CRLF, LF and a lone CR each end one.
int lineCount(std::string_view bytes)
{
    int lines = 1;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 >= bytes.size() || bytes[i + 1] != '\n'))) {
            ++lines;
        }
    }
    return lines;
}

// RFC 4180 in full: every cell quoted, quotes doubled, nothing added.
std::string quotedCell(std::string_view text)
{
    std::string cell = "\"";
    for (const char c : text) {
        cell += c;
        if (c == '"') {
            cell += '"';
        }
    }
    return cell + "\"";
}

std::string cell(const std::u16string& value)
{
    const std::string text = utf::toUtf8(value);
    // Where csvCell guards the text with an apostrophe (a roster keeps what it reads): in full quotes.
    const std::string guarded = csvCell(text);
    const std::string unguarded =
        text.find_first_of(",\"\r\n") == std::string::npos ? text : quotedCell(text);
    return guarded == unguarded ? guarded : quotedCell(text);
}

std::string written(const Roster& roster, bool bom, std::string_view lineEnd)
{
    std::string out = bom ? "\xEF\xBB\xBF" : "";
    out += "device_id,police_id,police_name,company_id,company_name";
    out += lineEnd;
    for (const RosterEntry& e : roster.entries()) {
        out += cell(e.deviceId) + "," + cell(e.policeId) + "," + cell(e.policeName) + "," + cell(e.companyId) + "," +
               cell(e.companyName);
        out += lineEnd;
    }
    return out;
}

bool sameOfficer(const RosterEntry& a, const RosterEntry& b)
{
    return a.deviceId == b.deviceId && a.policeId == b.policeId && a.policeName == b.policeName &&
           a.companyId == b.companyId && a.companyName == b.companyName;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const RosterLoad load = parseRoster(bytes);
    const int lines = lineCount(bytes);

    for (const RosterProblem& p : load.problems) {
        check(p.line >= 0 && p.line <= lines, "a problem on a line the file does not have");
        check(!p.message.empty(), "a problem without words");
    }
    if (!load.ok()) {
        check(load.roster.size() == 0, "a refused roster keeps entries");
        return 0;
    }
    const Roster& roster = load.roster;
    check(roster.entries().size() == roster.size(), "size() is not the entries'");
    for (const RosterEntry& e : roster.entries()) {
        check(e.line >= 2 && e.line <= lines, "an entry on a line the file does not have");
        check(!e.deviceId.empty(), "an entry without a device id");
        check(roster.find(e.deviceId) == &e, "find() does not give the entry of its device id");
    }

    const bool bom = load.encoding == RosterEncoding::Utf8WithBom;
    const std::string again = written(roster, bom, size % 2 == 0 ? "\r\n" : "\n");
    const RosterLoad reread = parseRoster(again);
    if (!reread.ok()) {
        for (const RosterProblem& p : reread.problems) {
            std::fprintf(stderr, "roster_fuzz: written again: %s\n", describe(p).c_str());
        }
        check(false, "the roster written again does not read");
    }
    check(reread.encoding == (bom ? RosterEncoding::Utf8WithBom : RosterEncoding::Utf8),
          "the roster written again is read in another encoding");
    check(reread.roster.size() == roster.size(), "the roster written again has another number of officers");
    for (std::size_t i = 0; i < roster.size(); ++i) {
        check(sameOfficer(reread.roster.entries()[i], roster.entries()[i]), "an officer changed on the way back");
    }
    return 0;
}
