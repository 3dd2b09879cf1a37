#include "ledger/witness_file.h"

#include "ledger/checkpoint.h"
#include "ledger/durable_file.h"
#include "ledger/event_fields.h"
#include "ledger/ledger.h"
#include "ledger/signed_note.h"
#include "ledger/tlog_digest.h"
#include "persist/atomic_file.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>

#include <algorithm>

namespace fs = std::filesystem;

namespace orv::ledger {
namespace {

constexpr std::string_view kHeader = "orvcamera-witness 1";

std::vector<std::string_view> words(std::string_view line)
{
    std::vector<std::string_view> out;
    std::size_t at = 0;
    while (at <= line.size()) {
        const std::size_t space = line.find(' ', at);
        out.push_back(line.substr(at, space == std::string_view::npos ? std::string_view::npos : space - at));
        if (space == std::string_view::npos) {
            break;
        }
        at = space + 1;
    }
    return out;
}

bool isHexHash(std::string_view text)
{
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// A `tree` record's words after the keyword; the problem in words otherwise.
std::optional<TreeRecord> readTree(const std::vector<std::string_view>& w, std::string& problem)
{
    if (w.size() != 7) {
        problem = "a tree record has 6 fields";
        return std::nullopt;
    }
    TreeRecord r;
    r.origin = std::string(w[1]);
    const auto [end, ec] = std::from_chars(w[2].data(), w[2].data() + w[2].size(), r.size);
    const std::optional<Hash> root = hashFromBase64(w[3]);
    if (!detail::isValidOrigin(r.origin)) {
        problem = "the origin \"" + r.origin + "\" is not one a checkpoint may carry";
    } else if (ec != std::errc() || end != w[2].data() + w[2].size() || r.size < 0) {
        problem = "the tree size \"" + std::string(w[2]) + "\" is no number";
    } else if (!root) {
        problem = "the root is not the base64 of 32 bytes";
    } else if (!isHexHash(w[4])) {
        problem = "the chain hash is not 64 hex digits";
    }
    if (!problem.empty()) {
        return std::nullopt;
    }
    r.root = *root;
    r.chainHash = std::string(w[4]);
    if (w[5] != "-") {
        std::size_t at = 0;
        for (;;) {
            const std::size_t comma = w[5].find(',', at);
            const std::optional<Hash> node = hashFromBase64(w[5].substr(at, comma - at));
            if (!node) {
                problem = "the compact range holds something that is not a hash";
                return std::nullopt;
            }
            r.range.push_back(*node);
            if (comma == std::string_view::npos) {
                break;
            }
            at = comma + 1;
        }
    }
    if (!CompactRange::fromNodes(static_cast<std::uint64_t>(r.size), r.range)) {
        problem = "the compact range does not fit the tree size";
        return std::nullopt;
    }
    const std::optional<std::string> note = base64Decode(w[6]);
    if (!note) {
        problem = "the note is not base64";
        return std::nullopt;
    }
    r.note = *note;
    return r;
}

// Where the file's last whole line ends: `size` when it ends with a newline (or is empty), else
// just after the last newline (0 when there is none). -1 when it cannot be read.
std::int64_t wholeLinesEnd(detail::Descriptor fd, std::int64_t size)
{
    constexpr std::int64_t kChunk = 4096;
    char tail[kChunk];
    for (std::int64_t end = size; end > 0;) {
        const std::int64_t from = std::max<std::int64_t>(0, end - kChunk);
        const auto length = static_cast<unsigned>(end - from);
        if (!detail::readAt(fd, from, tail, length)) {
            return -1;
        }
        for (unsigned i = length; i > 0; --i) {
            if (tail[i - 1] == '\n') {
                return from + i;
            }
        }
        end = from;
    }
    return 0;
}

} // namespace

std::string percentEncoded(std::string_view text)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || c == '%') {
            out += '%';
            out += kDigits[byte >> 4];
            out += kDigits[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> percentDecoded(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = detail::hexDigit(text[i + 1]);
        const int low = detail::hexDigit(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::optional<WitnessFile> WitnessFile::open(const fs::path& file, std::string& error)
{
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (status.type() == fs::file_type::not_found) {
        WitnessFile witness;
        witness.path_ = file;
        return witness;
    }
    // Read whole however long it grew: a line for every checkpoint outgrows the limit settings
    // files are read with, and a station that cannot read its witness file records nothing.
    std::string bytes;
    bool read = false;
    if (!ec && status.type() == fs::file_type::regular) {
        std::ifstream in(file, std::ios::binary);
        char chunk[65536];
        while (in && (in.read(chunk, sizeof chunk), in.gcount() > 0)) {
            bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
        }
        read = in.eof() && !in.bad();
    }
    if (!read) {
        error = pathUtf8(file) + ": cannot be read";
        return std::nullopt;
    }
    return parse(bytes, file, error);
}

std::optional<WitnessFile> WitnessFile::parse(std::string_view bytes, const fs::path& file, std::string& error)
{
    WitnessFile witness;
    witness.path_ = file;
    std::string_view text = bytes;
    // A last line without its newline is being written now, or was when the computer stopped:
    // it was never published (append() drops it before the next line).
    if (const std::size_t end = text.rfind('\n'); !text.empty() && text.back() != '\n') {
        text = text.substr(0, end == std::string_view::npos ? 0 : end + 1);
    }
    int number = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t newline = text.find('\n', at);
        const std::string_view line = text.substr(at, newline - at);
        at = newline + 1;
        ++number;
        const auto damaged = [&](const std::string& why) {
            error = pathUtf8(file) + ": line " + std::to_string(number) + ": " + why +
                    "; the file is left as it is (move it aside only if you know why it changed)";
            return std::nullopt;
        };
        if (number == 1) {
            if (line != kHeader) {
                return damaged("it does not start with \"" + std::string(kHeader) + "\"");
            }
            continue;
        }
        const std::vector<std::string_view> w = words(line);
        if (w[0] == "seen" && w.size() == 3) {
            const std::optional<std::string> place = percentDecoded(w[1]);
            if (!place || place->empty() || !detail::isValidOrigin(w[2])) {
                return damaged("a seen record names no place and origin");
            }
            witness.places_.push_back({*place, std::string(w[2]), number});
        } else if (w[0] == "tree") {
            std::string problem;
            std::optional<TreeRecord> record = readTree(w, problem);
            if (!record) {
                return damaged(problem);
            }
            record->line = number;
            witness.trees_.push_back(std::move(*record));
        } else {
            return damaged("it is no record of a witness file");
        }
    }
    witness.lines_ = number;
    return witness;
}

const TreeRecord* WitnessFile::largest(std::string_view origin) const
{
    const TreeRecord* best = nullptr;
    for (const TreeRecord& r : trees_) {
        if (r.origin == origin && (!best || r.size >= best->size)) {
            best = &r;
        }
    }
    return best;
}

std::vector<const TreeRecord*> WitnessFile::trees(std::string_view origin) const
{
    std::vector<const TreeRecord*> found;
    for (const TreeRecord& r : trees_) {
        if (r.origin == origin) {
            found.push_back(&r);
        }
    }
    return found;
}

std::optional<std::string> WitnessFile::originAt(std::string_view place) const
{
    for (const PlaceRecord& p : places_) {
        if (p.place == place) {
            return p.origin;
        }
    }
    return std::nullopt;
}

int WitnessFile::placeLine(std::string_view place) const
{
    for (const PlaceRecord& p : places_) {
        if (p.place == place) {
            return p.line;
        }
    }
    return 0;
}

bool WitnessFile::writable(std::string& error) const
{
    const detail::Descriptor fd = detail::openForAppending(path_);
    if (fd < 0) {
        error = pathUtf8(path_) + ": cannot be written: " + std::strerror(errno);
        return false;
    }
    detail::closeDescriptor(fd);
    return true;
}

bool WitnessFile::append(const std::string& line, std::string& error)
{
    const detail::Descriptor fd = detail::openForAppending(path_);
    if (fd < 0) {
        error = pathUtf8(path_) + ": cannot be written: " + std::strerror(errno);
        return false;
    }
    // Several programs of one station (two orvctl, the search tool) add lines at once: one at a
    // time, each looking at the file as it is now, not as it was when it was read.
    if (!detail::lockExclusively(fd)) {
        error = pathUtf8(path_) + ": cannot be locked: " + std::strerror(errno);
        detail::closeDescriptor(fd);
        return false;
    }
    std::int64_t size = detail::sizeOf(fd);
    const std::int64_t whole = size < 0 ? -1 : wholeLinesEnd(fd, size);
    if (whole < 0) {
        error = pathUtf8(path_) + ": cannot be read: " + std::strerror(errno);
        detail::closeDescriptor(fd);
        return false;
    }
    // A last line without its newline was being written when the computer stopped: it was never
    // published, and goes before the next line is added.
    if (whole != size) {
        if (!detail::truncateTo(fd, whole)) {
            error = pathUtf8(path_) + ": cannot drop its torn last line: " + std::strerror(errno);
            detail::closeDescriptor(fd);
            return false;
        }
        size = whole;
    }
    std::string bytes = line + "\n";
    if (size == 0) {
        bytes = std::string(kHeader) + "\n" + bytes;
    }
    const bool written = detail::writeThrough(fd, bytes);
    const int why = errno;
    if (!written) {
        // What went in part is cut away again, so that the file ends with a whole line.
        detail::truncateTo(fd, size);
        detail::closeDescriptor(fd);
        error = pathUtf8(path_) + ": cannot be written: " + std::strerror(why);
        return false;
    }
    detail::closeDescriptor(fd); // and with it the lock
    if (size == 0) {
        detail::syncFolder(path_.parent_path());
        lines_ = 1;
    }
    ++lines_;
    return true;
}

bool WitnessFile::addTree(TreeRecord record, std::string& error)
{
    std::string range;
    for (const Hash& node : record.range) {
        range += (range.empty() ? "" : ",") + hashBase64(node);
    }
    const std::string line = "tree " + record.origin + " " + std::to_string(record.size) + " " +
                             hashBase64(record.root) + " " + record.chainHash + " " + (range.empty() ? "-" : range) +
                             " " + base64Encode(record.note);
    if (!append(line, error)) {
        return false;
    }
    record.line = lines_;
    trees_.push_back(std::move(record));
    return true;
}

bool WitnessFile::addPlace(std::string_view place, std::string_view origin, std::string& error)
{
    if (!append("seen " + percentEncoded(place) + " " + std::string(origin), error)) {
        return false;
    }
    places_.push_back({std::string(place), std::string(origin), lines_});
    return true;
}

} // namespace orv::ledger
