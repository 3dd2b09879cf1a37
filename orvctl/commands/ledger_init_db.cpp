// orvctl ledger init-db LOCATION --station-role ROLE: create a shared PostgreSQL ledger.
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

constexpr OptionDefinition kOptions[] = {
    {"--station-role", "ROLE", "needs a role", "The role the stations log in as.", &CliOptions::stationRole},
    {"--witness-role", "ROLE", "needs a role", "A role for independent witnesses (reading, and adding cosignatures).",
     &CliOptions::witnessRole},
};

class InitDbAction final : public LedgerAction
{
public:
    using LedgerAction::LedgerAction;

    int run() { return initDb(); }

private:
    int initDb()
    {
        const std::string& location = o_.operands[0];
        if (!ledger::isPostgresLocation(location)) {
            return usageError("ledger init-db is for a shared PostgreSQL ledger: give a postgresql:// URI or "
                              "key=value words");
        }
        std::string why;
        const std::unique_ptr<ledger::PostgresLedger> opened = ledger::PostgresLedger::open(location, why);
        if (!opened) {
            return problem(ledger::oneLine(why));
        }
        if (!opened->grantRoles(o_.stationRole, o_.witnessRole, why)) {
            return problem(ledger::oneLine(opened->location() + ": " + why));
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("location").value(opened->location()).key("origin").value(opened->origin());
            j.key("schema").value(static_cast<std::int64_t>(ledger::kSchemaVersion));
            j.key("stationRole").value(o_.stationRole);
            optionalText(j, "witnessRole", o_.witnessRole);
            j.endObject();
            c_.out << j.text() << "\n";
        } else {
            c_.out << "ready: " << opened->location() << ", schema " << ledger::kSchemaVersion << ", origin "
                   << opened->origin() << "\n";
            c_.out << "role " << o_.stationRole << " may read the ledger and append events and checkpoints, nothing "
                   << "more\n";
            if (!o_.witnessRole.empty()) {
                c_.out << "role " << o_.witnessRole << " may read the ledger and add cosignatures\n";
            }
        }
        return kExitDone;
    }
};

std::string check(CliOptions& o)
{
    if (o.stationRole.empty()) {
        return "ledger init-db needs --station-role ROLE";
    }
    if (o.operands[0].empty()) {
        return "ledger init-db needs the database's location";
    }
    return {};
}

int action(const CliOptions& o, CliContext& c)
{
    return InitDbAction(o, c).run();
}

} // namespace

constexpr Command kLedgerInitDbCommand{
    .name = "init-db",
    .kind = CommandKind::LedgerInitDb,
    .operands = "LOCATION --station-role ROLE",
    .minOperands = 1,
    .maxOperands = 1,
    .summary = "Create a shared PostgreSQL ledger; grant the stations' role.",
    .details = "Run once by the database's owner. Creates the ledger's tables (or upgrades older ones), and\n"
               "gives ROLE what appending needs and nothing more: reading, adding events and checkpoints, and\n"
               "locking the chain head through the owner's function. No station may change or remove an event\n"
               "or a checkpoint or move the head (the database refuses it for every role but the owner).",
    .related = "--json",
    .options = kOptions,
    .check = check,
    .action = action,
};

} // namespace orv::cli
