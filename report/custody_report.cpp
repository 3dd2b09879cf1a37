#include "report/custody_report.h"

#include "ledger/checkpoint.h"
#include "ledger/witness_file.h"
#include "persist/atomic_file.h"
#include "report/custody_pdf.h"

#include <fstream>
#include <random>

namespace orv::report {
namespace {

namespace fs = std::filesystem;

std::string randomSuffix()
{
    std::random_device device;
    std::uniform_int_distribution<unsigned> digits(0, 0xFFFFFF);
    char text[8];
    std::snprintf(text, sizeof text, "%06x", digits(device));
    return text;
}

std::string askedText(const ledger::CustodyQuery& query)
{
    std::string asked = query.deviceId.empty() ? "officer " + query.officerId : "camera " + query.deviceId;
    asked += ", from " + (query.sinceUtc.empty() ? std::string("the first event") : query.sinceUtc);
    asked += " until " + (query.untilUtc.empty() ? std::string("the last event") : query.untilUtc);
    return asked;
}

// The proofs written into a folder of their own beside the report, moved into place only once
// the report is recorded; removed when it is not.
class ProofsFolder
{
public:
    explicit ProofsFolder(fs::path target)
        : target_(std::move(target))
        , staging_(target_.parent_path() / (target_.filename().native() + fs::path(".part-" + randomSuffix()).native()))
    {
    }
    ~ProofsFolder()
    {
        std::error_code ec;
        if (!staging_.empty()) {
            fs::remove_all(staging_, ec);
        }
    }
    ProofsFolder(const ProofsFolder&) = delete;
    ProofsFolder& operator=(const ProofsFolder&) = delete;

    bool write(const ledger::CustodyRecord& record, std::string& error)
    {
        std::error_code ec;
        if (!fs::create_directory(staging_, ec)) {
            error = "cannot make " + pathUtf8(staging_) + (ec ? ": " + ec.message() : std::string());
            return false;
        }
        if (!record.checkpointNote.empty() && !writeOne("checkpoint.note", record.checkpointNote, error)) {
            return false;
        }
        for (const ledger::EventProof& p : record.proofs) {
            if (p.proof && !writeOne("event-" + std::to_string(p.number) + ".tlog-proof",
                                     ledger::proofText(*p.proof), error)) {
                return false;
            }
        }
        return true;
    }

    // The folder in the place of any there before.
    bool moveIntoPlace(std::string& error)
    {
        std::error_code ec;
        fs::path old;
        if (fs::exists(target_, ec)) {
            old = target_.parent_path() / (target_.filename().native() + fs::path(".old-" + randomSuffix()).native());
            fs::rename(target_, old, ec);
            if (ec) {
                error = "cannot move the earlier " + pathUtf8(target_) + " aside: " + ec.message();
                return false;
            }
        }
        fs::rename(staging_, target_, ec);
        if (ec) {
            error = "cannot put the proofs in " + pathUtf8(target_) + ": " + ec.message();
            if (!old.empty()) {
                fs::rename(old, target_, ec);
            }
            return false;
        }
        staging_.clear();
        if (!old.empty()) {
            fs::remove_all(old, ec);
        }
        return true;
    }

private:
    bool writeOne(const std::string& name, const std::string& text, std::string& error)
    {
        const fs::path file = staging_ / name;
        std::ofstream out(file, std::ios::binary);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            error = "cannot write " + pathUtf8(file);
            return false;
        }
        return true;
    }

    fs::path target_;
    fs::path staging_;
};

} // namespace

fs::path proofsFolderOf(const fs::path& pdf)
{
    return pdf.parent_path() / (pdf.filename().native() + fs::path(".proofs").native());
}

ReportOutcome makeCustodyReport(ledger::Ledger& ledger, ledger::Station& station, const ReportRequest& request)
{
    ReportOutcome outcome;
    outcome.proofs = proofsFolderOf(request.pdf);

    // Sign up to the newest event first, so that every event listed has its proof; a station that
    // finds the ledger changed since it saw it signs nothing and records nothing, and the report
    // says what it found.
    const ledger::Station::Guard guard = station.checkBeforeWriting(ledger);
    std::string signProblem;
    if (guard.ok()) {
        const ledger::Station::Signed sealed = station.signCheckpoint(ledger);
        if (!sealed.ok) {
            signProblem = sealed.message;
        }
    }

    ledger::LedgerSnapshot snapshot;
    if (!ledger.readSnapshot(snapshot)) {
        outcome.message = ledger::oneLine(ledger.location() + ": " + ledger.error());
        return outcome;
    }
    const ledger::WitnessFile witness = station.witness();
    ledger::VerifyPolicy policy;
    policy.stations = station.trusted();
    policy.witnesses = request.witnesses;
    policy.minWitnesses = request.minWitnesses;
    policy.witness = &witness;
    policy.place = ledger.place();
    ledger::CustodyRecord record = ledger::gatherCustody(snapshot, request.query, policy);
    if (!guard.ok() && record.verification.intact) {
        // What the station found holds even where the ledger alone looks whole.
        record.verification.intact = false;
        record.verification.problem = guard.message;
        record.verification.findings.push_back(guard.message);
    }

    ReportHeading heading;
    heading.language = request.language;
    heading.madeUtc = ledger::utcNow();
    heading.utcOffsetMinutes = ledger::localOffsetMinutes();
    heading.station = request.origin.station;
    heading.operatorName = request.origin.operatorName;
    heading.tool = request.origin.tool;
    heading.toolVersion = request.origin.toolVersion;
    heading.ledgerLocation = ledger.location();
    heading.proofsFolder = pathUtf8(outcome.proofs.filename());
    std::string error;
    const std::optional<RenderedReport> rendered = custodyPdf(record, heading, error);
    if (!rendered) {
        outcome.message = error;
        return outcome;
    }
    const std::string_view bytes(rendered->pdf.constData(), static_cast<std::size_t>(rendered->pdf.size()));
    outcome.sha256 = ledger::sha256Hex(bytes);
    outcome.pages = rendered->pages;
    outcome.events = record.events.size();
    outcome.proved = record.events.size() - record.unproven.size();

    ProofsFolder proofs(outcome.proofs);
    if (!proofs.write(record, error)) {
        outcome.message = error + "; nothing was written";
        return outcome;
    }

    ledger::Event event = provision::startEvent(request.origin, "report");
    event.deviceId = request.query.deviceId;
    event.setupName = pathUtf8(request.pdf.filename());
    event.setupSha256 = outcome.sha256;
    event.differences = "asked: " + askedText(request.query);
    event.result = record.sound() ? "ok: " + std::to_string(outcome.events) + " events, each proved in the signed ledger"
                                  : "not sound: " + record.problem();
    const bool written = replaceFileContents(request.pdf, bytes, [&] {
        if (guard.ok()) {
            if (!ledger.append(event)) {
                error = "the report could not be recorded in the ledger (" +
                        ledger::oneLine(ledger.location() + ": " + ledger.error()) + ")";
                return false;
            }
            outcome.reportEvent = event.number;
        } else {
            outcome.notRecorded = "the report was not recorded in the ledger: " + guard.message;
        }
        return proofs.moveIntoPlace(error);
    });
    if (!written) {
        outcome.message = (error.empty() ? "cannot write " + pathUtf8(request.pdf) : error) +
                          "; nothing was written, what was there is as it was";
        if (outcome.reportEvent != 0) {
            outcome.message += " (event " + std::to_string(outcome.reportEvent) + " records the attempt)";
        }
        return outcome;
    }
    if (outcome.reportEvent != 0) {
        const ledger::Station::Signed sealed = station.signCheckpoint(ledger);
        if (!sealed.ok && signProblem.empty()) {
            signProblem = sealed.message;
        }
    }
    if (record.sound()) {
        outcome.status = ReportOutcome::Status::Sound;
        outcome.message = signProblem.empty() ? std::string() : "the ledger was not signed: " + signProblem;
    } else {
        outcome.status = ReportOutcome::Status::NotSound;
        outcome.message = record.problem();
    }
    return outcome;
}

} // namespace orv::report
