// orvctl ledger head: the number and hash of the last event.
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

class HeadAction final : public LedgerAction
{
public:
    using LedgerAction::LedgerAction;

    int run()
    {
        if (const int code = open()) {
            return code;
        }
        return head();
    }

private:
    int head()
    {
        const std::optional<ledger::ChainHead> h = ledger_->head();
        if (!h) {
            return readFailed();
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("number").value(h->number).key("hash").value(h->hash).endObject();
            c_.out << j.text() << "\n";
        } else {
            c_.out << h->number << " " << h->hash << "\n";
        }
        return kExitDone;
    }
};

int action(const CliOptions& o, CliContext& c)
{
    return HeadAction(o, c).run();
}

} // namespace

constexpr Command kLedgerHeadCommand{
    .name = "head",
    .kind = CommandKind::LedgerHead,
    .minOperands = 0,
    .maxOperands = 0,
    .summary = "Print the number and hash of the last event.",
    .related = "--ledger --json",
    .action = action,
};

} // namespace orv::cli
