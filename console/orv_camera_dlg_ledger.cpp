// The ledger's side of the console: starting the recorder, the events of the handlers, the one
// log line of a ledger that cannot be written, and those of a shared database away and back.

#include "console/activity_log.h"
#include "console/console_ledger.h"
#include "console/orv_camera_dlg.h"
#include "persist/settings.h"

#include <QCoreApplication>

namespace orv {

void COrvCameraDlg::startLedger()
{
    ledger_.reset();
    ledger_ = std::make_unique<ConsoleLedger>(consoleLedgerLocation(CSettings::GetInstance()), this);
}

void COrvCameraDlg::flushLedger()
{
    if (ledger_) {
        ledger_->flush();
    }
    QCoreApplication::sendPostedEvents(this, kLedgerProblemEvent);
}

void COrvCameraDlg::OnLedgerProblem(LedgerProblem* problem)
{
    if (!problem || !ledger_) {
        return; // a ledger that was replaced: its lines went with it
    }
    for (const LedgerLine& line : ledger_->takeLines()) {
        PostLog(this, line.message, line.argument);
    }
}

void COrvCameraDlg::recordInLedger(std::string kind, std::string groups, std::string result)
{
    if (!ledger_) {
        return;
    }
    ledger::Event event = ledger_->event(std::move(kind));
    event.groups = std::move(groups);
    event.result = std::move(result);
    ledger_->record(std::move(event));
}

} // namespace orv
