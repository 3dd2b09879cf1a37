// What the ledger's evidence reads from outside: an export handed over for verification (JSON
// Lines) and a witness file. The first byte picks the reader. An export that reads is the same
// ledger when written and read again, and verifying it never claims an intact chain whose hashes
// do not follow; a witness file that reads keeps only trees whose compact range fits their size.
#include "ledger/evidence.h"
#include "ledger/ledger_export.h"
#include "ledger/witness_file.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace orv::ledger;

namespace {

bool sameEvent(const Event& a, const Event& b)
{
    return canonicalForm(a) == canonicalForm(b) && a.previousHash == b.previousHash && a.hash == b.hash;
}

void readExport(std::string_view text)
{
    std::string error;
    const std::optional<LedgerSnapshot> snapshot = parseJsonLinesExport(text, error);
    if (!snapshot) {
        return;
    }
    const std::optional<LedgerSnapshot> again = parseJsonLinesExport(jsonLinesExport(*snapshot), error);
    if (!again || again->origin != snapshot->origin || again->events.size() != snapshot->events.size() ||
        again->checkpoints.size() != snapshot->checkpoints.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < again->events.size(); ++i) {
        if (!sameEvent(again->events[i], snapshot->events[i])) {
            std::abort();
        }
    }
    const EvidenceReport report = verifyEvidence(*snapshot, {});
    if (report.chain.intact) {
        std::string previous(kGenesisHash);
        for (const Event& e : snapshot->events) {
            if (e.previousHash != previous || eventHash(previous, e) != e.hash) {
                std::abort();
            }
            previous = e.hash;
        }
    }
}

void readWitness(std::string_view bytes)
{
    std::string error;
    const std::optional<WitnessFile> witness = WitnessFile::parse(bytes, "fuzz", error);
    if (!witness) {
        return;
    }
    for (const std::string_view origin : {std::string_view("o"), std::string_view("orvcamera.ledger/x")}) {
        for (const TreeRecord* t : witness->trees(origin)) {
            if (!CompactRange::fromNodes(static_cast<std::uint64_t>(t->size), t->range)) {
                std::abort();
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 2 == 0) {
        readExport(rest);
    } else {
        readWitness(rest);
    }
    return 0;
}
