// orvctl ledger export FILE: the ledger written to JSON Lines or CSV.
#include "orvctl/command.h"
#include "orvctl/ledger_action.h"

#include "ledger/evidence.h"
#include "ledger/independent_witness.h"
#include "ledger/ledger_export.h"
#include "ledger/postgres_ledger.h"
#include "link/program_arguments.h"
#include "orvctl/ledger_commands.h"
#include "persist/atomic_file.h"
#include "provision/camera_identity.h"

#include <filesystem>
#include <ostream>

namespace orv::cli {
namespace {

class ExportAction final : public LedgerAction
{
public:
    using LedgerAction::LedgerAction;

    int run()
    {
        if (const int code = open()) {
            return code;
        }
        return exportEvents();
    }

private:
    static bool isJsonFile(const std::string& file)
    {
        const std::string ext = pathFromUtf8(file).extension().string();
        return ext == ".jsonl" || ext == ".json" || ext == ".JSONL" || ext == ".JSON";
    }

    int exportEvents()
    {
        const std::string& file = o_.operands[0];
        std::string error;
        std::size_t count = 0;
        std::size_t checkpoints = 0;
        if (isJsonFile(file)) {
            ledger::LedgerSnapshot snapshot;
            if (!ledger_->readSnapshot(snapshot)) {
                return readFailed();
            }
            std::vector<ledger::Event> readable = snapshot.events;
            warnUnreadable(readable);
            count = readable.size();
            checkpoints = snapshot.checkpoints.size();
            if (!ledger::exportJsonLines(snapshot, pathFromUtf8(file), error)) {
                c_.err << "orvctl: ledger export: cannot write " << file << ": " << error << "\n";
                return kExitFailed;
            }
        } else {
            std::vector<ledger::Event> events;
            if (!ledger_->readEvents({}, events)) {
                return readFailed();
            }
            warnUnreadable(events);
            count = events.size();
            if (!ledger::exportCsv(events, pathFromUtf8(file), error)) {
                c_.err << "orvctl: ledger export: cannot write " << file << ": " << error << "\n";
                return kExitFailed;
            }
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("exported").value(static_cast<std::int64_t>(count));
            j.key("checkpoints").value(static_cast<std::int64_t>(checkpoints));
            j.key("file").value(file).endObject();
            c_.out << j.text() << "\n";
        } else {
            c_.out << "exported " << count << (count == 1 ? " event" : " events");
            if (isJsonFile(file)) {
                c_.out << " and " << checkpoints << (checkpoints == 1 ? " checkpoint" : " checkpoints");
            }
            c_.out << " to " << file << "\n";
        }
        return kExitDone;
    }
};

std::string check(CliOptions& o)
{
    return o.operands[0].empty() ? "ledger export needs a file" : std::string();
}

int action(const CliOptions& o, CliContext& c)
{
    return ExportAction(o, c).run();
}

} // namespace

constexpr Command kLedgerExportCommand{
    .name = "export",
    .kind = CommandKind::LedgerExport,
    .operands = "FILE.jsonl|FILE.csv",
    .minOperands = 1,
    .maxOperands = 1,
    .summary = "Write the ledger to a file.",
    .details = "FILE.jsonl (or .json): JSON Lines, the ledger's origin and head, every event with both hashes\n"
               "and every signed checkpoint, exactly as stored: verify it with ledger verify --file. Any other\n"
               "name: CSV for people (UTF-8 with a byte order mark, a header row, one event a row), where a cell\n"
               "that starts like a spreadsheet formula gets an apostrophe first, so it is safe to open but not\n"
               "for recomputing hashes.",
    .related = "--ledger --json",
    .check = check,
    .action = action,
};

} // namespace orv::cli
