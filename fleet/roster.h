#pragma once
// The roster: which officer and unit each camera belongs to, from a CSV file with one row per
// camera. It is checked whole before anything is sent, so that a bad row stops the run instead
// of leaving half the cameras set.

#include "fleet/csv.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orv::fleet {

struct RosterEntry
{
    std::u16string deviceId;
    std::u16string policeId;
    std::u16string policeName;
    std::u16string companyId;
    std::u16string companyName;
    int line = 0; // where its row starts in the file
};

enum class RosterEncoding { Utf8, Utf8WithBom, Gbk };

// A problem with a line of the file (line 0: the file as a whole).
using RosterProblem = CsvProblem;

class Roster
{
public:
    const RosterEntry* find(std::u16string_view deviceId) const;
    const std::vector<RosterEntry>& entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }

private:
    friend struct RosterBuilder;
    std::vector<RosterEntry> entries_;
    std::unordered_map<std::u16string, std::size_t> byDeviceId_;
};

struct RosterLoad
{
    Roster roster; // empty unless ok()
    RosterEncoding encoding = RosterEncoding::Utf8;
    std::vector<RosterProblem> problems; // every one found, in file order

    bool ok() const { return problems.empty(); }
};

// A header row names the columns device_id, police_id, police_name, company_id and company_name
// (any order, names ignore case, other columns are ignored); fields may be quoted as in RFC 4180.
// The bytes are UTF-8, with or without BOM, or GBK when they are not valid UTF-8.
RosterLoad parseRoster(std::string_view bytes);
RosterLoad loadRoster(const std::filesystem::path& file);

// "line 7: ..." or the message alone for the file as a whole.
std::string describe(const RosterProblem& problem);

} // namespace orv::fleet
