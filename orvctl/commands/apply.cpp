// orvctl apply SETUP.xml: send a setup file, then verify it.
#include "orvctl/camera_command.h"
#include "orvctl/command.h"

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

class ApplyCommand final : public CameraCommand
{
public:
    using CameraCommand::CameraCommand;

    int apply()
    {
        std::vector<GroupPlan> plan;
        if (const int code = loadPlan(o_.operands[0], plan)) {
            return code;
        }
        if (const int code = start("apply", &o_.operands[0])) {
            return code;
        }
        const ApplyReport report = applySetup(link_, plan);
        event_.groups = groupList(report.sent);
        event_.differences = differenceList(report.differences);
        notReadBack_ = deviceNotReadBack(plan, report);
        for (const GroupValues& group : report.readBack) {
            if (group.group != Group::Device) {
                continue;
            }
            // As read back: the device id is never sent, the officer and unit as the camera took them.
            const auto text = [&](std::string_view name) {
                const FieldValue* v = group.find(name);
                return v ? utf::toUtf8(v->text) : std::string();
            };
            event_.deviceId = text("deviceId");
            event_.officerAfter = text("policeId");
            event_.unitAfter = text("companyName");
        }
        if (report.outcome != CameraOutcome::Done) {
            GroupResult failed;
            failed.outcome = report.outcome;
            failed.step = report.failedStep;
            return cameraFailure(report.failedGroup, failed);
        }
        std::string sent;
        for (const Group g : report.sent) {
            sent += sent.empty() ? "" : ", ";
            sent += groupName(g);
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("command").value("apply").key("address").value(o_.address);
            j.key("sent").beginArray();
            for (const Group g : report.sent) {
                j.value(groupName(g));
            }
            j.endArray().key("differences").beginArray();
            for (const FieldDifference& d : report.differences) {
                j.beginObject().key("group").value(groupName(d.group));
                if (!d.field.empty()) {
                    j.key("field").value(d.field);
                }
                if (!d.note.empty()) {
                    j.key("note").value(d.note);
                } else if (d.secret && !o_.showPasswords) {
                    j.key("camera").value(kHidden).key("setup").value(kHidden);
                } else if (d.isText) {
                    j.key("camera").value(std::u16string_view(d.cameraText));
                    j.key("setup").value(std::u16string_view(d.setupText));
                } else {
                    j.key("camera").value(d.cameraNumber).key("setup").value(d.setupNumber);
                }
                j.endObject();
            }
            j.endArray().key("result").value(report.verified() ? "verified" : "differs").endObject();
            c_.out << j.text() << "\n";
        } else {
            c_.out << "apply: sent " << (sent.empty() ? "nothing" : sent) << "\n";
            for (const FieldDifference& d : report.differences) {
                c_.out << "verify: " << differenceText(d) << "\n";
            }
            if (report.verified()) {
                c_.out << "verify: every sent field reads back as the setup has it\n";
            }
        }
        if (!report.verified()) {
            c_.err << "orvctl: " << o_.address << ": verify: " << report.differences.size()
                   << (report.differences.size() == 1 ? " field differs" : " fields differ") << "\n";
            return finish(kExitDiffers, "differs");
        }
        return finish(kExitDone, "ok");
    }
};

int action(const CliOptions& o, CliContext& c)
{
    return ApplyCommand(o, c).apply();
}

} // namespace

constexpr Command kApplyCommand{
    .name = "apply",
    .kind = CommandKind::Apply,
    .operands = "SETUP.xml",
    .minOperands = 1,
    .maxOperands = 1,
    .summary = "Send a setup file saved by the console, then verify it.",
    .details = "Sends what the setup file holds: U-identify, platform, 4g, wifi, the device fields except the\n"
               "device id, time zone and summer time (with the clock from this computer). Groups missing from\n"
               "the file are not sent; the file's \"camera\" (login) and \"language\" elements are not used.\n"
               "Then every sent group is read back and each field that differs from the file is reported\n"
               "(exit status 5).",
    .related = "--show-passwords --ip --user --password-stdin --password-file --timeout-ms --ledger --trusted --json",
    .action = action,
};

} // namespace orv::cli
