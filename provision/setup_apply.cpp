#include "provision/setup_apply.h"

#include <array>
#include <utility>

namespace orv::provision {
namespace {

bool appliesTo(const Assignment& a, int platformChoice)
{
    switch (a.fieldSpec->platform) {
        case PlatformUse::Any:
            return true;
        case PlatformUse::Ttx:
            return platformChoice == 0;
        case PlatformUse::Rts:
            return platformChoice == 1;
    }
    return false;
}

void compareGroup(const GroupPlan& plan, const GroupResult& read, std::vector<FieldDifference>& differences)
{
    for (const Assignment& a : plan.assignments) {
        if (plan.group == Group::Platform && !appliesTo(a, read.platformChoice)) {
            continue;
        }
        FieldDifference d;
        d.group = plan.group;
        d.field = std::string(a.fieldSpec->field.name);
        d.secret = a.fieldSpec->secret;
        d.isText = a.fieldSpec->conversion == Conversion::Text;
        d.setupText = a.text;
        d.setupNumber = a.number;
        const FieldValue* value = read.values.find(d.field);
        if (!value) {
            d.note = "not in what the camera returned";
            differences.push_back(d);
            continue;
        }
        d.cameraText = value->text;
        d.cameraNumber = value->number;
        if (d.isText ? d.cameraText != d.setupText : d.cameraNumber != d.setupNumber) {
            differences.push_back(d);
        }
    }
}

// Reads each group back and notes where it differs from its plan; stops at a camera that has
// gone silent, or before the next group once `stopFlag` is set.
void readAndCompare(CameraLink& link, std::span<const GroupPlan* const> groups, ApplyPhase phase,
                    const ApplyProgress& progress, const std::atomic<bool>* stopFlag, ApplyReport& report)
{
    for (const GroupPlan* group : groups) {
        if (stopFlag && stopFlag->load()) {
            report.stopped = true;
            report.failedGroup = group->group;
            report.failedStep =
                phase == ApplyPhase::Checking ? "stopped before checking" : "stopped before reading back";
            return;
        }
        const GroupResult result = readGroup(link, group->group);
        if (progress) {
            progress(phase, group->group, result);
        }
        if (result.outcome == CameraOutcome::NoReply || result.outcome == CameraOutcome::NotSent) {
            report.outcome = result.outcome;
            report.failedGroup = group->group;
            report.failedStep = result.step;
            return;
        }
        if (result.outcome != CameraOutcome::Done) {
            FieldDifference d;
            d.group = group->group;
            d.note = result.step;
            report.differences.push_back(d);
            continue;
        }
        compareGroup(*group, result, report.differences);
        report.readBack.push_back(result.values);
    }
}

} // namespace

std::vector<Assignment> formAssignments(Group group, const SetupValues& form)
{
    switch (group) {
        case Group::UIdentify:
            return {numberAssignment(group, FunctionRecord::uIdentify, checkValue(form.uIdentify))};
        case Group::Platform:
            return {textAssignment(group, TtxServerRecord::serverAddress, form.serverIp),
                    numberAssignment(group, TtxServerRecord::serverPort, serverPortValue(form.serverPort)),
                    textAssignment(group, RtsServerRecord::rtsId, form.rtsId),
                    textAssignment(group, RtsServerRecord::rtsCode, form.authCode)};
        case Group::Net4g:
            return {textAssignment(group, Net4gRecord::apn, form.apn),
                    textAssignment(group, Net4gRecord::apnUser, form.apnUser),
                    textAssignment(group, Net4gRecord::apnPassword, form.apnPassword)};
        case Group::Wifi:
            return {textAssignment(group, WifiRecord::ssid, form.ssid),
                    textAssignment(group, WifiRecord::wifiPassword, form.wifiPassword)};
        case Group::Device:
            return {textAssignment(group, DeviceRecord::policeId, form.policeId),
                    textAssignment(group, DeviceRecord::policeName, form.policeName),
                    textAssignment(group, DeviceRecord::companyId, form.companyId),
                    textAssignment(group, DeviceRecord::companyName, form.companyName)};
        case Group::Time:
            return {numberAssignment(group, TimeRecord::summerTime, checkValue(form.summerTime)),
                    numberAssignment(group, TimeRecord::timeZone, timeZoneValue(form.timeZone))};
        case Group::Proxy:
            break;
    }
    return {};
}

std::vector<GroupPlan> planSetup(std::span<const SetupElement> elements)
{
    SetupValues form;
    std::array<bool, kSetupPartCount> present{};
    // As a Load Setup fills the form. A "language" element re-labels the console's combos and
    // leaves the rows they show as they were, so a time zone read before it is still the one sent.
    for (const SetupElement& e : elements) {
        applySetupElement(form, e);
        present[static_cast<std::size_t>(e.part)] = true;
    }
    const auto has = [&](SetupPart part) { return present[static_cast<std::size_t>(part)]; };

    // In the order a Load Setup's login (U-identify) and then the Set buttons send them.
    constexpr std::pair<SetupPart, Group> kSent[] = {
        {SetupPart::Function, Group::UIdentify}, {SetupPart::Server, Group::Platform},
        {SetupPart::Net4g, Group::Net4g},        {SetupPart::Wifi, Group::Wifi},
        {SetupPart::Device, Group::Device},      {SetupPart::Time, Group::Time},
    };
    std::vector<GroupPlan> plan;
    for (const auto& [part, group] : kSent) {
        if (has(part)) {
            plan.push_back({group, formAssignments(group, form)});
        }
    }
    return plan;
}

ApplyReport applySetup(CameraLink& link, std::span<const GroupPlan> plan, const ApplyProgress& progress,
                       const std::atomic<bool>* stopFlag)
{
    ApplyReport report;
    const auto stopping = [&](Group group, const char* phase) {
        if (!stopFlag || !stopFlag->load()) {
            return false;
        }
        report.stopped = true;
        report.failedGroup = group;
        report.failedStep = phase;
        return true;
    };
    const auto stop = [&](Group group, const GroupResult& result) {
        report.outcome = result.outcome;
        report.failedGroup = group;
        report.failedStep = result.step;
    };
    std::vector<const GroupPlan*> sent;
    for (const GroupPlan& group : plan) {
        if (stopping(group.group, "stopped before sending")) {
            return report;
        }
        const GroupResult result = writeGroup(link, group.group, group.assignments, OtherPlatformFields::Skip);
        if (progress) {
            progress(ApplyPhase::Sending, group.group, result);
        }
        if (result.outcome == CameraOutcome::NoReply || result.outcome == CameraOutcome::NotSent) {
            stop(group.group, result);
            return report;
        }
        if (result.outcome != CameraOutcome::Done) {
            FieldDifference d;
            d.group = group.group;
            d.note = result.step + "; nothing sent";
            report.differences.push_back(d);
            continue;
        }
        report.sent.push_back(group.group);
        sent.push_back(&group);
    }
    readAndCompare(link, sent, ApplyPhase::Verifying, progress, stopFlag, report);
    return report;
}

ApplyReport checkSetup(CameraLink& link, std::span<const GroupPlan> plan, const ApplyProgress& progress,
                       const std::atomic<bool>* stopFlag)
{
    ApplyReport report;
    std::vector<const GroupPlan*> groups;
    for (const GroupPlan& group : plan) {
        groups.push_back(&group);
    }
    readAndCompare(link, groups, ApplyPhase::Checking, progress, stopFlag, report);
    return report;
}

std::string differenceList(std::span<const FieldDifference> differences)
{
    std::string list;
    for (const FieldDifference& d : differences) {
        list += list.empty() ? "" : ", ";
        list += std::string(groupName(d.group)) + (d.field.empty() ? "" : "." + d.field);
    }
    return list;
}

} // namespace orv::provision
