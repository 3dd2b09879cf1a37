// orvctl export-id FILE: append the camera's device id to FILE.
#include "orvctl/camera_command.h"
#include "orvctl/command.h"
#include "persist/append_file.h"

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

class ExportIdCommand final : public CameraCommand
{
public:
    using CameraCommand::CameraCommand;

    int exportId()
    {
        if (const int code = start()) {
            return code;
        }
        GroupResult result = readGroup(link_, Group::Device);
        if (result.outcome != CameraOutcome::Done) {
            return cameraFailure(Group::Device, result);
        }
        const FieldValue* id = result.values.find("deviceId");
        const std::u16string line = (id ? id->text : std::u16string()) + u"\r\n";
        const std::string& file = o_.operands[0];
        // Whole or not at all: a disk without room leaves the list as it was.
        if (std::string why; !appendUtf16LeToFile(pathFromArgument(file), line, why)) {
            return failure(kExitFailed, "export-id", "cannot append to " + file + ": " + why, false);
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("command").value("export-id").key("address").value(o_.address);
            j.key("deviceId").value(std::u16string_view(id ? id->text : std::u16string()));
            j.key("file").value(file).endObject();
            c_.out << j.text() << "\n";
        } else {
            c_.out << "export-id: " << utf::toUtf8(id ? id->text : std::u16string()) << " appended to " << file << "\n";
        }
        return kExitDone;
    }
};

int action(const CliOptions& o, CliContext& c)
{
    return ExportIdCommand(o, c).exportId();
}

} // namespace

constexpr Command kExportIdCommand{
    .name = "export-id",
    .kind = CommandKind::ExportId,
    .operands = "FILE",
    .minOperands = 1,
    .maxOperands = 1,
    .summary = "Append the camera's device id to FILE, as the console's Export does.",
    .details = "The id is appended as one UTF-16LE line.",
    .related = kCameraOptions,
    .action = action,
};

} // namespace orv::cli
