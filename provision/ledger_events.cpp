#include "provision/ledger_events.h"

#include "lang/utf.h"
#include "persist/atomic_file.h"

#include <algorithm>

namespace orv::provision {
namespace {

// The text as the camera keeps it: bounded by its field, in the link's 8-bit text.
std::u16string asRecorded(const Field& field, const std::u16string& text)
{
    DeviceRecord record;
    record.setText(field, text);
    return record.text(field);
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

void noteSetupFile(ledger::Event& event, const std::filesystem::path& setup, std::string_view bytes)
{
    event.setupName = pathUtf8(setup.filename());
    event.setupSha256 = ledger::sha256Hex(bytes);
}

std::string groupList(std::span<const Group> groups)
{
    std::string list;
    for (const Group g : groups) {
        list += (list.empty() ? "" : ", ") + std::string(groupName(g));
    }
    return list;
}

std::optional<UnconfirmedDevice> deviceNotReadBack(std::span<const GroupPlan> plan, const ApplyReport& report)
{
    const bool sent = std::find(report.sent.begin(), report.sent.end(), Group::Device) != report.sent.end();
    const bool readBack = std::any_of(report.readBack.begin(), report.readBack.end(),
                                      [](const GroupValues& values) { return values.group == Group::Device; });
    if (!sent || readBack) {
        return std::nullopt;
    }
    UnconfirmedDevice given;
    for (const GroupPlan& group : plan) {
        if (group.group != Group::Device) {
            continue;
        }
        for (const Assignment& a : group.assignments) {
            if (a.fieldSpec->field.name == DeviceRecord::policeId.name) {
                given.officer = asRecorded(DeviceRecord::policeId, a.text);
            } else if (a.fieldSpec->field.name == DeviceRecord::companyName.name) {
                given.unit = asRecorded(DeviceRecord::companyName, a.text);
            }
        }
    }
    return given;
}

void noteNotReadBack(ledger::Event& event, const UnconfirmedDevice& sent)
{
    if (sent.officer) {
        event.officerAfter = utf::toUtf8(*sent.officer);
    }
    if (sent.unit) {
        event.unitAfter = utf::toUtf8(*sent.unit);
    }
    event.result += "; device not read back";
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
    if (outcome.notReadBack) {
        noteNotReadBack(event, *outcome.notReadBack);
    }
    return event;
}

} // namespace orv::provision
