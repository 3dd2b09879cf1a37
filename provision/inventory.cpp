#include "provision/inventory.h"

#include "fleet/csv.h"
#include "lang/utf.h"
#include "link/local_clock.h"
#include "persist/append_file.h"
#include "persist/csv_cells.h"

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <iterator>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace orv::provision {
namespace {

std::string csvLine(std::initializer_list<std::string> fields)
{
    std::string line;
    for (const std::string& f : fields) {
        // Camera texts come from whoever configured the camera: a cell never runs as a formula.
        line += csvCell(f) + ",";
    }
    line.back() = '\r';
    return line + "\n";
}

// A new inventory is its owner's only: it names officers and cameras.
std::FILE* openForAppending(const std::filesystem::path& file)
{
#ifdef _WIN32
    return _wfopen(file.c_str(), L"ab");
#else
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* stream = ::fdopen(fd, "ab");
    if (!stream) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return stream;
#endif
}

std::string readHead(const std::filesystem::path& file, std::size_t bytes, bool& readable)
{
    std::ifstream in(file, std::ios::binary);
    readable = static_cast<bool>(in);
    std::string head(bytes, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return head;
}

std::string withoutLineEnd(std::string_view header)
{
    return std::string(header.substr(0, header.size() - 2));
}

} // namespace

std::string inventoryLine(const InventoryRow& row)
{
    return csvLine({row.localTime, utf::toUtf8(row.deviceId), utf::toUtf8(row.officerId), row.result});
}

std::string inventoryTime()
{
    const LocalDateTime now = localNow();
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
    return text;
}

AppendOnlyCsv::~AppendOnlyCsv()
{
    if (stream_) {
        std::fclose(stream_);
    }
}

bool AppendOnlyCsv::open(const std::filesystem::path& file, std::string_view header, std::size_t headBytes,
                         const std::function<bool(std::string_view)>& acceptHead, std::string& error)
{
    std::lock_guard lock(mutex_);
    if (stream_) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    std::error_code ec;
    const bool exists = std::filesystem::exists(file, ec);
    const bool empty = !exists || std::filesystem::file_size(file, ec) == 0;
    if (exists && !empty) {
        bool readable = false;
        const std::string head = readHead(file, headBytes, readable);
        if (!readable) {
            error = "it cannot be read";
            return false;
        }
        if (acceptHead && !acceptHead(head)) {
            error = "its first line is not " + withoutLineEnd(header);
            return false;
        }
    }
    std::FILE* stream = openForAppending(file);
    if (!stream) {
        error = std::string(exists ? "it cannot be written: " : "it cannot be created: ") + std::strerror(errno);
        return false;
    }
    if (empty && !appendWhole(stream, header)) {
        error = std::string("its header cannot be written: ") + std::strerror(errno);
        std::fclose(stream);
        if (!exists) {
            std::filesystem::remove(file, ec); // made here, and empty: not left behind
        }
        return false;
    }
    stream_ = stream;
    return true;
}

bool AppendOnlyCsv::append(std::string_view bytes)
{
    std::lock_guard lock(mutex_);
    if (!stream_) {
        return false;
    }
    return appendWhole(stream_, bytes);
}

bool Inventory::open(const std::filesystem::path& file, std::string& error)
{
    return csv_.open(file, kInventoryHeader, 0, {}, error);
}

bool Inventory::append(const InventoryRow& row)
{
    return csv_.append(inventoryLine(row));
}

std::string fleetInventoryLine(const FleetInventoryRow& row, bool withClock)
{
    if (!withClock) {
        return csvLine({row.localTime, row.where, utf::toUtf8(row.deviceId), utf::toUtf8(row.officerId), row.result,
                        row.differences});
    }
    // The offset is our own number, written as it is: "-3" is no formula.
    std::string line = csvLine(
        {row.localTime, row.where, utf::toUtf8(row.deviceId), utf::toUtf8(row.officerId), row.result, row.differences});
    line.insert(line.size() - 2, "," + (row.clockOffset ? std::to_string(*row.clockOffset) : std::string()));
    return line;
}

bool FleetInventory::open(const std::filesystem::path& file, std::string& error)
{
    withClock_ = true;
    return csv_.open(
        file, kFleetInventoryHeader, kFleetInventoryHeader.size(),
        [this](std::string_view head) {
            if (head == kFleetInventoryHeader) {
                return true;
            }
            withClock_ = false;
            return head.substr(0, kFleetInventoryHeaderWithoutClock.size()) == kFleetInventoryHeaderWithoutClock;
        },
        error);
}

bool FleetInventory::append(const FleetInventoryRow& row)
{
    return csv_.append(fleetInventoryLine(row, withClock_));
}

bool outcomeIsOk(std::string_view result)
{
    return result == "ok" || result == "check: ok";
}

const std::string* InventoryHistory::lastOutcome(const std::u16string& deviceId, const std::string& where) const
{
    if (!deviceId.empty()) {
        const auto last = byDevice.find(deviceId);
        return last == byDevice.end() ? nullptr : &last->second;
    }
    const auto last = byPlace.find(where);
    return last == byPlace.end() ? nullptr : &last->second;
}

bool InventoryHistory::lastFailed(const std::u16string& deviceId, const std::string& where) const
{
    const std::string* last = lastOutcome(deviceId, where);
    return last && !outcomeIsOk(*last);
}

void InventoryHistory::note(const std::u16string& deviceId, const std::string& where, std::string result)
{
    if (!deviceId.empty()) {
        byDevice[deviceId] = std::move(result);
    } else {
        byPlace[where] = std::move(result);
    }
}

void InventoryHistory::update(const InventoryHistory& later)
{
    for (const auto& [device, result] : later.byDevice) {
        byDevice[device] = result;
    }
    for (const auto& [place, result] : later.byPlace) {
        byPlace[place] = result;
    }
}

InventoryHistory readInventoryHistory(const std::filesystem::path& file)
{
    InventoryHistory history;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        history.problem = "it cannot be read";
        return history;
    }
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    if (bytes.rfind(kFleetInventoryHeaderWithoutClock, 0) != 0 && bytes.rfind(kFleetInventoryHeader, 0) != 0) {
        history.problem = "its first line is not " + withoutLineEnd(kFleetInventoryHeader);
        return history;
    }
    std::vector<fleet::CsvRecord> records;
    fleet::CsvProblem problem;
    if (!fleet::splitCsv(utf::toUtf16(bytes), records, problem)) {
        history.problem = "line " + std::to_string(problem.line) + ": " + problem.message;
        return history;
    }
    // Rows are in the order they happened: a later row of a camera replaces an earlier one. A row
    // too short to say a camera's outcome (cut short by a power cut, edited by hand) is named,
    // never passed over: Retry failed would otherwise take a camera for done or not tried.
    std::vector<std::string> shortLines;
    for (std::size_t i = 1; i < records.size(); ++i) {
        const auto& f = records[i].fields;
        if (std::all_of(f.begin(), f.end(), [](const std::u16string& cell) { return cell.empty(); })) {
            continue; // an empty line, or one of commas only: no camera's outcome
        }
        if (f.size() < 5) {
            shortLines.push_back(std::to_string(records[i].line));
            continue;
        }
        history.note(csvCellText(f[2]), utf::toUtf8(csvCellText(f[1])), utf::toUtf8(csvCellText(f[4])));
    }
    if (!shortLines.empty()) {
        std::string lines;
        for (const std::string& n : shortLines) {
            lines += (lines.empty() ? "line " : ", line ") + n;
        }
        history.problem = lines + ": fewer than the five columns up to the result (a row cut short?)";
    }
    return history;
}

} // namespace orv::provision
