// orvctl get GROUP: print a group's fields.
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

class GetCommand final : public CameraCommand
{
public:
    using CameraCommand::CameraCommand;

    int get()
    {
        std::vector<Group> groups;
        if (o_.operands[0] == "all") {
            groups.assign(kAllGroups.begin(), kAllGroups.end());
        } else {
            groups.push_back(*groupFromName(o_.operands[0]));
        }
        if (const int code = start()) {
            return code;
        }
        std::vector<GroupValues> read;
        for (const Group group : groups) {
            GroupResult result = readGroup(link_, group);
            if (result.outcome != CameraOutcome::Done) {
                return cameraFailure(group, result);
            }
            read.push_back(std::move(result.values));
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject();
            for (const GroupValues& g : read) {
                j.key(groupName(g.group)).beginObject();
                for (const FieldValue& v : g.fields) {
                    j.key(v.name);
                    addValue(j, v);
                }
                j.endObject();
            }
            j.endObject();
            c_.out << j.text() << "\n";
        } else {
            for (const GroupValues& g : read) {
                for (const FieldValue& v : g.fields) {
                    c_.out << groupName(g.group) << "." << v.name << "=" << shown(v) << "\n";
                }
            }
        }
        return kExitDone;
    }
};

std::string check(CliOptions& o)
{
    if (o.operands[0] != "all" && !groupFromName(o.operands[0])) {
        return "unknown group \"" + o.operands[0] +
               "\" (groups: platform, 4g, wifi, device, time, proxy, uidentify, all)";
    }
    return {};
}

int action(const CliOptions& o, CliContext& c)
{
    return GetCommand(o, c).get();
}

} // namespace

constexpr Command kGetCommand{
    .name = "get",
    .kind = CommandKind::Get,
    .operands = "GROUP",
    .minOperands = 1,
    .maxOperands = 1,
    .summary = "Print a group's fields.",
    .details = "GROUP is platform, 4g, wifi, device, time, proxy, uidentify or all. Each field is printed as\n"
               "a group.field=value line (--json: one object of groups); passwords show as ********.",
    .related = "--show-passwords --ip --user --password-stdin --password-file --timeout-ms --json",
    .check = check,
    .action = action,
};

} // namespace orv::cli
