// orvctl set GROUP FIELD=VALUE...: change only the named fields of a group.
#include "orvctl/camera_command.h"
#include "orvctl/command.h"
#include "orvctl/help_texts.h"

#include "lang/utf.h"
#include "link/records.h"
#include "orvctl/fleet_commands.h"
#include "orvctl/ledger_commands.h"
#include "persist/atomic_file.h"
#include "persist/setup_document.h"
#include "provision/camera_actions.h"
#include "provision/camera_session.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <ostream>

namespace orv::cli {
using namespace orv::provision;
namespace {

class SetCommand final : public CameraCommand
{
public:
    using CameraCommand::CameraCommand;

    int set()
    {
        const Group group = *groupFromName(o_.operands[0]);
        std::vector<Assignment> assignments;
        for (std::size_t i = 1; i < o_.operands.size(); ++i) {
            std::string error;
            std::optional<Assignment> a = parseAssignment(group, o_.operands[i], error);
            if (!a) {
                return usageError("set " + std::string(groupName(group)) + ": " + error);
            }
            assignments.push_back(std::move(*a));
        }
        std::string error = readPassword();
        if (error.empty()) {
            error = gatherSecrets(group, assignments);
        }
        if (!error.empty()) {
            return usageError(error);
        }
        if (const int code = beginEvent("set")) {
            return code;
        }
        // The group's name only: the values may be passwords.
        event_.groups = groupName(group);
        if (const int code = login()) {
            return code;
        }
        const GroupResult result =
            group == Group::Device ? writeDevice(assignments) : writeGroup(link_, group, assignments);
        if (result.outcome != CameraOutcome::Done) {
            return cameraFailure(group, result);
        }
        std::string names;
        for (const Assignment& a : assignments) {
            names += names.empty() ? "" : ", ";
            names += a.fieldSpec->field.name;
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("command").value("set").key("address").value(o_.address);
            j.key("group").value(groupName(group)).key("fields").beginArray();
            for (const Assignment& a : assignments) {
                j.value(a.fieldSpec->field.name);
            }
            j.endArray().key("result").value("sent").endObject();
            c_.out << j.text() << "\n";
        } else {
            c_.out << "set " << groupName(group) << ": sent " << names << "\n";
        }
        return finish(kExitDone, "ok");
    }

    // The device group's read-modify-write, with the camera's device id and the officer and unit
    // it held before, and those sent, for the ledger.
    GroupResult writeDevice(std::span<const Assignment> assignments)
    {
        GroupResult result = writeGroup(link_, Group::Device, assignments);
        const auto text = [](const GroupValues& values, const Field& field) {
            return utf::toUtf8(values.text(field.name));
        };
        if (result.outcome != CameraOutcome::NoReply) {
            event_.deviceId = text(result.before, DeviceRecord::deviceId);
            event_.officerBefore = text(result.before, DeviceRecord::policeId);
            event_.unitBefore = text(result.before, DeviceRecord::companyName);
        }
        if (result.outcome == CameraOutcome::Done) {
            event_.officerAfter = text(result.values, DeviceRecord::policeId);
            event_.unitAfter = text(result.values, DeviceRecord::companyName);
        }
        return result;
    }
};

std::string check(CliOptions& o)
{
    if (!groupFromName(o.operands[0])) {
        return "unknown group \"" + o.operands[0] + "\" (groups: platform, 4g, wifi, device, time, proxy, uidentify)";
    }
    return {};
}

int action(const CliOptions& o, CliContext& c)
{
    return SetCommand(o, c).set();
}

constexpr std::string_view kSetFooter[] = {kFields, kPasswords};

} // namespace

constexpr Command kSetCommand{
    .name = "set",
    .kind = CommandKind::Set,
    .operands = "GROUP FIELD=VALUE...",
    .minOperands = 2,
    .maxOperands = kAny,
    .summary = "Change only the named fields of a group.",
    .details = "The record is read, the fields replaced and the whole record written back, as the console's\n"
               "Set does. \"set time\" also sets the camera's clock from this computer. The proxy record is\n"
               "rebuilt from the camera's proxy values with the named ones replaced. An unknown field stops\n"
               "before anything is sent. With --secrets-file, FIELD=VALUE may be left out when the file holds\n"
               "the group's password.",
    .related = "--secrets-file --ip --user --password-stdin --password-file --timeout-ms --ledger --trusted --json",
    .footer = kSetFooter,
    .check = check,
    .action = action,
};

} // namespace orv::cli
