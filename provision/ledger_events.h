#pragma once
// What the tools record in the ledger: one event per outcome of work on a camera, saying who
// recorded it, from which computer, with which tool and setup.

#include "ledger/ledger.h"
#include "provision/camera_groups.h"
#include "provision/setup_apply.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv::provision {

// What every event of one tool's session shares.
struct EventOrigin
{
    std::string tool;        // "orvctl", "SearchTool", "OrvCamera"
    std::string toolVersion; // orv::kProgramVersion
    std::string station = ledger::stationName();
    std::string operatorName = ledger::operatorName();
};

// A new event of `kind` from `origin`, stamped with the time it is made.
ledger::Event startEvent(const EventOrigin& origin, std::string kind);

// The event's time set to now (an event made in advance, as a run's template, is stamped when
// its camera finishes).
void stampNow(ledger::Event& event);

// Names the setup file in `event`: its file name and the SHA-256 of `bytes`, the bytes the plan was
// made from (read once: a file replaced since cannot give the event another setup's hash).
void noteSetupFile(ledger::Event& event, const std::filesystem::path& setup, std::string_view bytes);

// "platform, wifi, device"
std::string groupList(std::span<const Group> groups);

// The device group as it went to a camera that never read it back (asked to stop, fallen silent,
// gone): the officer and unit the event names then.
struct UnconfirmedDevice
{
    std::optional<std::u16string> officer; // none: the plan left the officer as it was
    std::optional<std::u16string> unit;
};

// What `plan` gave the device group when `report` has it sent but not read back; nullopt otherwise.
std::optional<UnconfirmedDevice> deviceNotReadBack(std::span<const GroupPlan> plan, const ApplyReport& report);

// Names in `event`, whose result is set, the officer and unit as sent, and says in the result that
// they were not read back.
void noteNotReadBack(ledger::Event& event, const UnconfirmedDevice& sent);

// What became of one camera, as its event tells it. Most fields are texts of one type: build it
// with designated initializers (or field by field), never by position, where two swapped would
// still compile.
struct CameraOutcomeRecord
{
    std::string where; // "usb0 192.168.2.158", "127.0.0.5"
    std::u16string deviceId;
    std::u16string officerId; // as read back (or as it was, when nothing was sent; see notReadBack)
    std::u16string officerBefore;
    std::u16string unitBefore;
    std::u16string unitAfter;
    std::vector<Group> sent;
    std::string result;
    std::vector<FieldDifference> differences;
    std::optional<std::int64_t> clockOffset;
    std::optional<UnconfirmedDevice> notReadBack; // the device group sent and never read back
};

// The event of `outcome`: `shared` (origin, kind, setup file) stamped now, with the outcome's facts.
ledger::Event outcomeEvent(ledger::Event shared, const CameraOutcomeRecord& outcome);

} // namespace orv::provision
