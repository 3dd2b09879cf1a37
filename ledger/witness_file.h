#pragma once
// A witness file: what a station (or an independent witness) has seen of each ledger, kept on
// its own computer where the database's administrator cannot reach it. Lines are only ever added,
// one program at a time (the file is locked), each written through to the disk before what it
// records is published; a line torn by a power cut is dropped before the next is added. Text, one
// record a line:
//
//   orvcamera-witness 1
//   seen PLACE ORIGIN                                  the ledger at PLACE had ORIGIN
//   tree ORIGIN SIZE ROOT CHAINHASH RANGE NOTE         a checkpoint signed or cosigned here
//
// PLACE is percent-encoded (space, '%', control characters); ROOT is base64; CHAINHASH is the hex
// chain hash of event SIZE; RANGE is the tree's compact range (base64 hashes joined by ',', '-' for
// none), so that the next checkpoint extends it instead of reading every event again; NOTE is the
// signed note, base64.

#include "ledger/merkle.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv::ledger {

struct TreeRecord
{
    std::string origin;
    std::int64_t size = 0;
    Hash root{};
    std::string chainHash; // hex, of event `size` (kGenesisHash for 0)
    std::vector<Hash> range;
    std::string note; // the signed note as it was published
    int line = 0;     // where it is in the file
};

class WitnessFile
{
public:
    // Reads `file`; a missing one is empty. Nullopt with `error` ("FILE: line 3: ...") when it
    // cannot be read or a line is not a record.
    static std::optional<WitnessFile> open(const std::filesystem::path& file, std::string& error);
    // The same from the file's bytes (`file` names it in messages and is where lines are added).
    static std::optional<WitnessFile> parse(std::string_view bytes, const std::filesystem::path& file,
                                            std::string& error);

    const std::filesystem::path& path() const { return path_; }

    // The checkpoint of `origin` with the most events; null when none.
    const TreeRecord* largest(std::string_view origin) const;
    // Every checkpoint of `origin`, in the order written.
    std::vector<const TreeRecord*> trees(std::string_view origin) const;
    // The origin the ledger at `place` had when first seen here, if it was.
    std::optional<std::string> originAt(std::string_view place) const;
    // The line that recorded `place`.
    int placeLine(std::string_view place) const;

    // Whether a line can be added now (the file or its folder can be written). False with `error`.
    bool writable(std::string& error) const;
    // Adds a record, written through to the disk before returning true. False with `error`; the
    // file keeps what it held.
    bool addTree(TreeRecord record, std::string& error);
    bool addPlace(std::string_view place, std::string_view origin, std::string& error);

private:
    struct PlaceRecord
    {
        std::string place;
        std::string origin;
        int line = 0;
    };

    bool append(const std::string& line, std::string& error);

    std::filesystem::path path_;
    std::vector<TreeRecord> trees_;
    std::vector<PlaceRecord> places_;
    int lines_ = 0; // complete lines in the file, as this program knows them
};

// PLACE as the file writes it, and back.
std::string percentEncoded(std::string_view text);
std::optional<std::string> percentDecoded(std::string_view text);

} // namespace orv::ledger
