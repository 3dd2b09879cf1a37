#include "provision/ledger_events.h"

#include "lang/utf.h"
#include "persist/atomic_file.h"

namespace orv::provision {
namespace {

std::string pathText(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace

ledger::Event startEvent(const EventOrigin& origin, std::string kind)
{
    ledger::Event event;
    event.tool = origin.tool;
    event.toolVersion = origin.toolVersion;
    event.station = origin.station;
    event.operatorName = origin.operatorName;
    event.kind = std::move(kind);
    stampNow(event);
    return event;
}

void stampNow(ledger::Event& event)
{
    event.timeUtc = ledger::utcNow();
    event.utcOffsetMinutes = ledger::localOffsetMinutes();
}

bool noteSetupFile(ledger::Event& event, const std::filesystem::path& setup, std::string& error)
{
    const FileContents file = readWholeFile(setup);
    if (file.outcome != ReadOutcome::Read) {
        error = "cannot read " + pathText(setup);
        return false;
    }
    event.setupName = pathText(setup.filename());
    event.setupSha256 = ledger::sha256Hex(file.bytes);
    return true;
}

std::string groupList(std::span<const Group> groups)
{
    std::string list;
    for (const Group g : groups) {
        list += (list.empty() ? "" : ", ") + std::string(groupName(g));
    }
    return list;
}

ledger::Event outcomeEvent(ledger::Event shared, const CameraOutcomeRecord& outcome)
{
    ledger::Event event = std::move(shared);
    stampNow(event);
    event.deviceId = utf::toUtf8(outcome.deviceId);
    event.where = outcome.where;
    event.officerBefore = utf::toUtf8(outcome.officerBefore);
    event.officerAfter = utf::toUtf8(outcome.officerId);
    event.unitBefore = utf::toUtf8(outcome.unitBefore);
    event.unitAfter = utf::toUtf8(outcome.unitAfter);
    event.groups = groupList(outcome.sent);
    event.result = outcome.result;
    event.differences = differenceList(outcome.differences);
    event.clockOffsetSeconds = outcome.clockOffset;
    return event;
}

} // namespace orv::provision
