// Arbitrary bytes as a fleet inventory read back for Retry failed (orvctl provision --all
// --retry-failed, the search tool). Beyond not crashing, checks:
// - no row is dropped unnoticed: every data row (a record after the header with a field that is
//   not empty) is either read, its camera then having a last outcome, or named ("line N") in the
//   history's problem; a file refused as a whole gives no outcomes at all;
// - a camera's last outcome is that of its last row (by device id, or by where it was found for a
//   row without one), as the program wrote it (without the apostrophe before a formula character);
// - the outcomes, written again as the program writes inventory rows and read back, are the same;
// - the cells of every row, taken as what cameras said and written as the program writes rows, read
//   back as those cells (a device id or a place may start with an apostrophe or an '=').
// Input: the file's bytes.

#include "fleet/csv.h"
#include "lang/utf.h"
#include "persist/csv_cells.h"
#include "provision/inventory.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace {

using namespace orv;
using provision::InventoryHistory;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "inventory_fuzz: %s\n", what);
        std::abort();
    }
}

// One file for the whole run, rewritten for each input (the reader takes a path).
const std::filesystem::path& scratchFile()
{
    static const std::filesystem::path file = [] {
        const std::filesystem::path folder =
            std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        std::string name = (folder / "inventory_fuzz_XXXXXX").string();
        const int fd = ::mkstemp(name.data());
        check(fd >= 0, "no scratch file");
        ::close(fd);
        std::atexit([] { std::remove(scratchFile().c_str()); });
        return std::filesystem::path(name);
    }();
    return file;
}

void writeFile(const std::filesystem::path& file, std::string_view bytes)
{
    std::FILE* f = std::fopen(file.c_str(), "wb");
    check(f != nullptr, "cannot write the scratch file");
    check(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size(), "cannot write the scratch file");
    std::fclose(f);
}

InventoryHistory readBytes(std::string_view bytes)
{
    writeFile(scratchFile(), bytes);
    return provision::readInventoryHistory(scratchFile());
}

bool blank(const fleet::CsvRecord& record)
{
    for (const std::u16string& f : record.fields) {
        if (!f.empty()) {
            return false;
        }
    }
    return true;
}

// "line 7" in the problem, not "line 71".
bool names(const std::string& problem, int line)
{
    const std::string word = "line " + std::to_string(line);
    for (std::size_t at = problem.find(word); at != std::string::npos; at = problem.find(word, at + 1)) {
        const std::size_t end = at + word.size();
        if (end == problem.size() || problem[end] < '0' || problem[end] > '9') {
            return true;
        }
    }
    return false;
}

void checkRows(std::string_view bytes, const InventoryHistory& history)
{
    const bool nothingRead = history.byDevice.empty() && history.byPlace.empty();
    if (!history.problem.empty() && nothingRead) {
        return; // refused as a whole
    }
    std::vector<fleet::CsvRecord> records;
    fleet::CsvProblem problem;
    check(fleet::splitCsv(utf::toUtf16(bytes), records, problem), "outcomes read from a file that is no CSV");
    check(!records.empty(), "outcomes read from a file without a header");

    // The outcome each camera's last row says.
    std::map<std::u16string, std::string> byDevice;
    std::map<std::string, std::string> byPlace;
    for (std::size_t i = 1; i < records.size(); ++i) {
        const fleet::CsvRecord& r = records[i];
        if (blank(r)) {
            continue;
        }
        if (r.fields.size() < 5) {
            if (!names(history.problem, r.line)) {
                std::fprintf(stderr, "inventory_fuzz: line %d has %zu fields; problem: \"%s\"\n", r.line,
                             r.fields.size(), history.problem.c_str());
                check(false, "a row that is not read is not named");
            }
            continue;
        }
        const std::u16string device = csvCellText(r.fields[2]);
        const std::string result = utf::toUtf8(csvCellText(r.fields[4]));
        if (device.empty()) {
            byPlace[utf::toUtf8(csvCellText(r.fields[1]))] = result;
        } else {
            byDevice[device] = result;
        }
    }
    check(history.byDevice == byDevice, "the last outcomes by device are not the last rows'");
    if (std::getenv("INVENTORY_FUZZ_SAY") && history.byPlace != byPlace) {
        for (const auto& [d, r] : byPlace) std::fprintf(stderr, "model [%s] -> [%s]\n", d.c_str(), r.c_str());
        for (const auto& [d, r] : history.byPlace) std::fprintf(stderr, "read [%s] -> [%s]\n", d.c_str(), r.c_str());
    }
    check(history.byPlace == byPlace, "the last outcomes by place are not the last rows'");

    // The cells as a camera and the runner could have given them, written as the program does.
    std::string file(provision::kFleetInventoryHeader);
    std::map<std::u16string, std::string> givenByDevice;
    std::map<std::string, std::string> givenByPlace;
    for (std::size_t i = 1; i < records.size(); ++i) {
        const std::vector<std::u16string>& f = records[i].fields;
        if (f.size() < 5) {
            continue;
        }
        const std::string where = utf::toUtf8(f[1]);
        const std::string result = utf::toUtf8(f[4]);
        file += provision::fleetInventoryLine({"2026-03-05 14:07:09", where, f[2], f[3], result, "", std::nullopt});
        if (f[2].empty()) {
            givenByPlace[where] = result;
        } else {
            givenByDevice[f[2]] = result;
        }
    }
    const InventoryHistory written = readBytes(file);
    check(written.problem.empty(), "rows written by the program do not read");
    check(written.byDevice == givenByDevice, "a device id or outcome written by the program reads back otherwise");
    check(written.byPlace == givenByPlace, "a place or outcome written by the program reads back otherwise");
}

void checkWrittenAgain(const InventoryHistory& history)
{
    std::string file(provision::kFleetInventoryHeader);
    for (const auto& [device, result] : history.byDevice) {
        file += provision::fleetInventoryLine({"2026-03-05 14:07:09", "usb0", device, u"P1", result, "", 0});
    }
    for (const auto& [place, result] : history.byPlace) {
        file += provision::fleetInventoryLine({"2026-03-05 14:07:09", place, u"", u"", result, "", std::nullopt});
    }
    const InventoryHistory again = readBytes(file);
    check(again.problem.empty(), "outcomes written again do not read");
    check(again.byDevice == history.byDevice, "outcomes by device change when written again");
    check(again.byPlace == history.byPlace, "outcomes by place change when written again");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const InventoryHistory history = readBytes(bytes);
    checkRows(bytes, history);
    checkWrittenAgain(history);
    return 0;
}
