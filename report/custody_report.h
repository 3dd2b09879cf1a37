#pragma once
// A custody report made and handed out: the ledger signed up to its newest event, the custody
// record gathered and verified, the PDF and its proofs folder written whole or not at all, and the
// report's SHA-256 recorded in the ledger as a "report" event, so that the ledger also tells who
// looked. The one way orvctl and the search tool make a report.

#include "ledger/custody.h"
#include "ledger/ledger.h"
#include "ledger/station.h"
#include "provision/ledger_events.h"
#include "report/report_texts.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace orv::report {

struct ReportRequest
{
    ledger::CustodyQuery query;
    ReportLanguage language = ReportLanguage::English;
    std::filesystem::path pdf; // the proofs go in the folder of the same name with ".proofs" added
    provision::EventOrigin origin;
    ledger::KeyRing witnesses; // trusted witnesses' keys, when the agency runs any
    int minWitnesses = 0;
};

struct ReportOutcome
{
    enum class Status : std::uint8_t {
        Sound,    // written; every event listed is proved in the verified, signed ledger
        NotSound, // written, saying on its first page what does not hold
        Failed,   // nothing written (what was there before is as it was)
    } status = Status::Failed;
    std::string message;              // one line: what does not hold, or why nothing was written
    std::filesystem::path proofs;     // the proofs folder
    std::string sha256;               // of the PDF
    std::size_t events = 0;
    std::size_t proved = 0;
    int pages = 0;
    std::int64_t reportEvent = 0;     // the "report" event's number (0: not recorded)
    std::string notRecorded;          // why the report event was not recorded, when it was not
};

// The folder the proofs of `pdf` go in: "NAME.pdf.proofs" beside it.
std::filesystem::path proofsFolderOf(const std::filesystem::path& pdf);

// Needs a Qt application (ReportApplication); any thread. The ledger and the station as a tool
// opened them.
ReportOutcome makeCustodyReport(ledger::Ledger& ledger, ledger::Station& station, const ReportRequest& request);

} // namespace orv::report
