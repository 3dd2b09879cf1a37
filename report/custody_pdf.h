#pragma once
// A custody record drawn as a paginated PDF/A document: what was asked and who asked, the
// assignment intervals, every event as a chain-of-custody entry, what verifying the ledger found,
// the signed checkpoint with its signers' keys, and an appendix with each event's tlog-proof as it
// is. Every page carries the report's heading and its page number.

#include "ledger/custody.h"
#include "report/report_texts.h"

#include <QByteArray>

#include <cstddef>
#include <optional>
#include <string>

namespace orv::report {

// Who made the report, where and when, and how it is written.
struct ReportHeading
{
    ReportLanguage language = ReportLanguage::English;
    std::string madeUtc;       // as an event's timeUtc
    int utcOffsetMinutes = 0;  // the station's zone: every time is shown in it, with the offset
    std::string station;
    std::string operatorName;
    std::string tool;
    std::string toolVersion;
    std::string ledgerLocation; // never a password
    std::string proofsFolder;   // the name of the folder beside the report that holds the proofs
};

// Proof text as the appendix prints it: each line of at most `width` characters, a longer one
// broken with a '\' at the end of each piece but the last.
std::string wrapProofText(const std::string& text, std::size_t width);
// The proof text back from wrapped lines: a line that ends in '\' goes on in the next.
std::string unwrapProofText(const std::string& wrapped);

// "2026-03-05 14:07:09 UTC+08:00": a timeUtc in the zone `offsetMinutes` east of UTC; the text
// as it is when it is no such time.
std::string timeInZone(const std::string& timeUtc, int offsetMinutes);

struct RenderedReport
{
    QByteArray pdf;
    int pages = 0;
};
// Nullopt with `error` when the report's font cannot be had. Needs a Qt application (see
// ReportApplication); any thread.
std::optional<RenderedReport> custodyPdf(const ledger::CustodyRecord& record, const ReportHeading& heading,
                                         std::string& error);

} // namespace orv::report
