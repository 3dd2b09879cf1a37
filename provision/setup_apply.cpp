#include "provision/setup_apply.h"

#include <array>

namespace orv::provision {
namespace {

constexpr int kLanguageCount = 3;

Assignment textField(Group group, const Field& field, const std::u16string& text)
{
    Assignment a;
    a.fieldSpec = findField(group, field.name);
    a.text = text;
    return a;
}

Assignment numberField(Group group, const Field& field, std::int64_t number)
{
    Assignment a;
    a.fieldSpec = findField(group, field.name);
    a.number = number;
    return a;
}

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

std::vector<GroupPlan> planSetup(std::span<const SetupElement> elements)
{
    SetupValues form;
    std::array<bool, kSetupPartCount> present{};
    for (const SetupElement& e : elements) {
        applySetupElement(form, e);
        present[static_cast<std::size_t>(e.part)] = true;
        // Choosing a language re-labels the console and puts its time zone combo back on row 0,
        // so a "time" element before "language" loses its zone. An index that is no language
        // changes nothing.
        if (e.part == SetupPart::Language && form.language >= 0 && form.language < kLanguageCount) {
            form.timeZone = 0;
        }
    }
    const auto has = [&](SetupPart part) { return present[static_cast<std::size_t>(part)]; };

    std::vector<GroupPlan> plan;
    if (has(SetupPart::Function)) {
        plan.push_back(
            {Group::UIdentify, {numberField(Group::UIdentify, FunctionRecord::uIdentify, checkValue(form.uIdentify))}});
    }
    if (has(SetupPart::Server)) {
        plan.push_back({Group::Platform,
                        {textField(Group::Platform, TtxServerRecord::serverAddress, form.serverIp),
                         numberField(Group::Platform, TtxServerRecord::serverPort, serverPortValue(form.serverPort)),
                         textField(Group::Platform, RtsServerRecord::rtsId, form.rtsId),
                         textField(Group::Platform, RtsServerRecord::rtsCode, form.authCode)}});
    }
    if (has(SetupPart::Net4g)) {
        plan.push_back({Group::Net4g,
                        {textField(Group::Net4g, Net4gRecord::apn, form.apn),
                         textField(Group::Net4g, Net4gRecord::apnUser, form.apnUser),
                         textField(Group::Net4g, Net4gRecord::apnPassword, form.apnPassword)}});
    }
    if (has(SetupPart::Wifi)) {
        plan.push_back({Group::Wifi,
                        {textField(Group::Wifi, WifiRecord::ssid, form.ssid),
                         textField(Group::Wifi, WifiRecord::wifiPassword, form.wifiPassword)}});
    }
    if (has(SetupPart::Device)) {
        plan.push_back({Group::Device,
                        {textField(Group::Device, DeviceRecord::policeId, form.policeId),
                         textField(Group::Device, DeviceRecord::policeName, form.policeName),
                         textField(Group::Device, DeviceRecord::companyId, form.companyId),
                         textField(Group::Device, DeviceRecord::companyName, form.companyName)}});
    }
    if (has(SetupPart::Time)) {
        plan.push_back({Group::Time,
                        {numberField(Group::Time, TimeRecord::summerTime, checkValue(form.summerTime)),
                         numberField(Group::Time, TimeRecord::timeZone, timeZoneValue(form.timeZone))}});
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
