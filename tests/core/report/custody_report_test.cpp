// The custody report as a reader gets it: the PDF read back with poppler's pdftotext and drawn with
// pdftoppm, its proofs checked with `orvctl ledger verify-proof`, and a report of a rewritten
// ledger that says so.
#include "ledger/ledger.h"
#include "persist/atomic_file.h"
#include "report/custody_pdf.h"
#include "tests/core/cli/orvctl_fixture.h"
#include "tests/core/report/custody_ledger.h"
#include "tests/support/ledger_tamper.h"
#include "tests/support/start_postgres.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>

namespace orv::test {
namespace {

namespace fs = std::filesystem;

std::string shellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Standard output of a shell command; its exit status in `status`.
std::string commandOutput(const std::string& command, int* status = nullptr)
{
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        return out;
    }
    std::array<char, 4096> buffer{};
    while (const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) {
        out.append(buffer.data(), n);
    }
    const int rc = ::pclose(pipe);
    if (status) {
        *status = rc;
    }
    return out;
}

// The text of pages first..last (0: to the end), as pdftotext reads it.
std::string pdfText(const fs::path& pdf, int first = 1, int last = 0, bool layout = false)
{
    std::string command = "pdftotext -enc UTF-8 -f " + std::to_string(first);
    if (last > 0) {
        command += " -l " + std::to_string(last);
    }
    command += layout ? " -layout " : " ";
    return commandOutput(command + shellQuoted(pdf.string()) + " - 2>&1");
}

int pageCount(const fs::path& pdf)
{
    std::smatch m;
    const std::string info = commandOutput("pdfinfo " + shellQuoted(pdf.string()));
    return std::regex_search(info, m, std::regex("Pages:\\s+(\\d+)")) ? std::stoi(m[1]) : 0;
}

// The first two words drawn over each other, or a word outside its page, as pdftotext places
// them; empty when none.
std::string overlappingWords(const fs::path& pdf)
{
    const std::string boxes = commandOutput("pdftotext -bbox " + shellQuoted(pdf.string()) + " - 2>&1");
    struct Word
    {
        double x0, y0, x1, y1;
        std::string text;
    };
    const std::regex pageTag("<page width=\"([0-9.]+)\" height=\"([0-9.]+)\">");
    const std::regex wordTag(
        "<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>");
    int page = 0;
    std::size_t at = 0;
    while (true) {
        std::smatch p;
        std::string::const_iterator from = boxes.begin() + static_cast<std::ptrdiff_t>(at);
        if (!std::regex_search(from, boxes.end(), p, pageTag)) {
            return {};
        }
        ++page;
        const double width = std::stod(p[1]);
        const double height = std::stod(p[2]);
        const std::size_t start = at + static_cast<std::size_t>(p.position(0) + p.length(0));
        const std::size_t end = boxes.find("</page>", start);
        const std::string body = boxes.substr(start, end - start);
        std::vector<Word> words;
        for (std::sregex_iterator w(body.begin(), body.end(), wordTag), none; w != none; ++w) {
            words.push_back({std::stod((*w)[1]), std::stod((*w)[2]), std::stod((*w)[3]), std::stod((*w)[4]), (*w)[5]});
        }
        constexpr double kSlack = 0.5; // points: glyph boxes of neighbours may touch
        for (std::size_t i = 0; i < words.size(); ++i) {
            const Word& a = words[i];
            if (a.x0 < 0 || a.y0 < 0 || a.x1 > width || a.y1 > height) {
                return "page " + std::to_string(page) + ": \"" + a.text + "\" is outside the page";
            }
            for (std::size_t j = i + 1; j < words.size(); ++j) {
                const Word& b = words[j];
                if (std::min(a.x1, b.x1) - std::max(a.x0, b.x0) > kSlack &&
                    std::min(a.y1, b.y1) - std::max(a.y0, b.y0) > kSlack) {
                    return "page " + std::to_string(page) + ": \"" + a.text + "\" and \"" + b.text + "\" overlap";
                }
            }
        }
        at = end;
    }
}

bool has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class CustodyReportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(std::system("command -v pdftotext pdftoppm pdfinfo pdffonts >/dev/null"), 0)
            << "the report's tests read PDFs with poppler-utils (scripts/setup.sh installs it)";
        setDataHome((folder.path() / "data").string());
        std::string error;
        std::unique_ptr<ledger::Ledger> ledger = ledger::openLedger(ledgerFile(), error);
        ASSERT_TRUE(ledger) << error;
        ASSERT_EQ(seedCustodyLedger(*ledger, 12), "");
    }
    void TearDown() override { setDataHome(TestDataHome::folder()); }

    std::string ledgerFile() const { return location.empty() ? (folder.path() / "custody.db").string() : location; }

    OrvctlRun orvctl(std::vector<std::string> args)
    {
        std::vector<std::string> all{"--ip", "127.0.0.1", "--ledger", ledgerFile()};
        all.insert(all.end(), args.begin(), args.end());
        return runOrvctlWith(all);
    }

    OrvctlRun report(const fs::path& pdf, std::vector<std::string> extra)
    {
        std::vector<std::string> args{"ledger", "report", "--pdf", pdf.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return orvctl(args);
    }

    // The station's verifier key as a trusted keys file, as IT would hand it out.
    fs::path trustedKeys()
    {
        const OrvctlRun key = orvctl({"ledger", "key"});
        EXPECT_EQ(key.code, 0) << key.err;
        const fs::path file = folder.path() / "trusted.keys";
        writeFile(file, key.out.substr(0, key.out.find('\n') + 1));
        return file;
    }

    std::vector<ledger::Event> events()
    {
        std::string error;
        std::unique_ptr<ledger::Ledger> ledger = ledger::openLedger(ledgerFile(), error);
        std::vector<ledger::Event> all;
        EXPECT_TRUE(ledger && ledger->readEvents({}, all)) << error;
        return all;
    }

    ScratchFolder folder;
    std::string location; // a database's, when not the test's file
};

TEST_F(CustodyReportTest, ACameraReportReadsBackInChineseAndEnglishAndIsRecorded)
{
    for (const auto& [language, title, officerLabel] :
         {std::tuple{"zh_CN", "执法记录仪监管链报告", "警员（之前 → 之后）"},
          std::tuple{"en", "Chain-of-custody report", "Officer (before → after)"}}) {
        SCOPED_TRACE(language);
        const fs::path pdf = folder.path() / (std::string("camera-") + language + ".pdf");
        const OrvctlRun run = report(pdf, {"--device", "ORV202600001", "--language", language});
        ASSERT_EQ(run.code, 0) << run.err << run.out;
        const std::string text = pdfText(pdf);
        EXPECT_TRUE(has(text, title)) << text;
        EXPECT_TRUE(has(text, officerLabel));
        EXPECT_TRUE(has(text, "ORV202600001"));
        EXPECT_FALSE(has(text, "ORV202600002")) << "another camera's events are not listed";
        for (const char* part : {"P-1000", "P-1001", "P-1002", "一大队", "二大队", "班组配置.xml",
                                         "2026-03-01T08:00:00.000Z", "dock-3", "wang.li"}) {
            EXPECT_TRUE(has(text, part)) << part;
        }
        // Local times in the station's zone, the offset shown.
        EXPECT_TRUE(std::regex_search(text, std::regex("2026-03-01 \\d\\d:\\d\\d:00 UTC[+-]\\d\\d:\\d\\d")));
        // The checkpoint, its origin and the key that signed it.
        EXPECT_TRUE(has(text, "orvcamera.ledger/"));
        EXPECT_TRUE(has(text, "— station/")) << text;
        EXPECT_EQ(overlappingWords(pdf), "");
        // Every font is in the file (pdffonts' "emb" column), Chinese included.
        const std::string fonts = commandOutput("pdffonts " + shellQuoted(pdf.string()));
        EXPECT_TRUE(has(fonts, "WenQuanYi")) << fonts;
        EXPECT_FALSE(std::regex_search(fonts, std::regex("\\s+no\\s+(yes|no)\\s+(yes|no)\\s+\\d+\\s+\\d+\\n")))
            << "a font that is not embedded:\n" << fonts;
        // It draws: the first page as an image of some size.
        const fs::path png = folder.path() / (std::string("page-") + language);
        ASSERT_EQ(std::system(("pdftoppm -r 40 -f 1 -l 1 -png " + shellQuoted(pdf.string()) + " " +
                               shellQuoted(png.string()))
                                  .c_str()),
                  0);
        bool drawn = false;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder.path())) {
            drawn = drawn || (entry.path().filename().string().rfind(png.filename().string(), 0) == 0 &&
                              fs::file_size(entry.path()) > 5000);
        }
        EXPECT_TRUE(drawn);

        // The ledger tells who looked: a "report" event with the file's SHA-256.
        const ledger::Event last = events().back();
        EXPECT_EQ(last.kind, "report");
        EXPECT_EQ(last.deviceId, "ORV202600001");
        EXPECT_EQ(last.setupName, pdf.filename().string());
        EXPECT_EQ(last.setupSha256, ledger::sha256Hex(readFile(pdf)));
        EXPECT_TRUE(has(last.differences, "camera ORV202600001"));
        EXPECT_TRUE(has(run.out, "recorded as event " + std::to_string(last.number)));
    }
}

TEST_F(CustodyReportTest, AnOfficersReportListsTheCamerasHeldAndItsPeriod)
{
    const fs::path pdf = folder.path() / "officer.pdf";
    const OrvctlRun run = report(pdf, {"--officer", "P-1001", "--since", "2026-03-01T08:03:00Z", "--language", "zh_TW"});
    ASSERT_EQ(run.code, 0) << run.err;
    const std::string text = pdfText(pdf);
    EXPECT_TRUE(has(text, "執法記錄儀監管鏈報告"));
    EXPECT_TRUE(has(text, "警員 P-1001"));
    EXPECT_TRUE(has(text, "ORV202600001"));
    EXPECT_FALSE(has(text, "2026-03-01T08:00:00.000Z")) << "an event before --since is not listed";
    EXPECT_TRUE(has(text, "2026-03-01T08:04:00.000Z"));
}

TEST_F(CustodyReportTest, EveryProofBesideAndInTheReportVerifiesAndAChangedOneDoesNot)
{
    const fs::path pdf = folder.path() / "proofs.pdf";
    const OrvctlRun run = report(pdf, {"--device", "ORV202600002", "--language", "en"});
    ASSERT_EQ(run.code, 0) << run.err;
    const fs::path keys = trustedKeys();
    const fs::path proofs = folder.path() / "proofs.pdf.proofs";
    int checked = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(proofs)) {
        if (entry.path().extension() != ".tlog-proof") {
            continue;
        }
        const OrvctlRun verified = orvctl({"ledger", "verify-proof", entry.path().string(), "--trusted", keys.string()});
        EXPECT_EQ(verified.code, 0) << entry.path() << verified.err;
        EXPECT_TRUE(has(verified.out, "ORV202600002")) << verified.out;
        ++checked;
    }
    EXPECT_EQ(checked, 6);

    // The appendix holds the same proofs: joined where a line ends in '\', each is a file's text.
    const std::string appendix = pdfText(pdf, 1, 0, true);
    std::string unwrapped;
    for (std::size_t start = 0; start < appendix.size();) {
        std::size_t end = appendix.find('\n', start);
        end = end == std::string::npos ? appendix.size() : end;
        std::string line = appendix.substr(start, end - start);
        line.erase(0, line.find_first_not_of(' '));
        line.erase(line.find_last_not_of(" \f") + 1);
        unwrapped += line + "\n";
        start = end + 1;
    }
    unwrapped = report::unwrapProofText(unwrapped);
    for (const fs::directory_entry& entry : fs::directory_iterator(proofs)) {
        EXPECT_TRUE(has(unwrapped, readFile(entry.path()))) << entry.path() << " is not in the appendix as it is";
    }

    // One byte changed, in the event's canonical form, is refused.
    const fs::path first = proofs / "event-2.tlog-proof";
    std::string text = readFile(first);
    const std::size_t extra = text.find("extra ") + 10;
    text[extra] = text[extra] == 'A' ? 'B' : 'A';
    const fs::path changed = folder.path() / "changed.tlog-proof";
    writeFile(changed, text);
    const OrvctlRun refused = orvctl({"ledger", "verify-proof", changed.string(), "--trusted", keys.string()});
    EXPECT_EQ(refused.code, 5) << refused.out;
}

TEST_F(CustodyReportTest, AReportFromASharedPostgresLedgerIsProvedAndRecordedThere)
{
    PostgresServer& server = PostgresServer::shared();
    START_POSTGRES(server, database);
    location = server.tcpLocation(database);
    std::string error;
    std::unique_ptr<ledger::Ledger> ledger = ledger::openLedger(location, error);
    ASSERT_TRUE(ledger) << error;
    ASSERT_EQ(seedCustodyLedger(*ledger, 8), "");
    const fs::path pdf = folder.path() / "shared.pdf";
    const OrvctlRun run = report(pdf, {"--officer", "P-1000", "--language", "zh_CN"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(has(pdfText(pdf), "PostgreSQL"));
    const OrvctlRun verified = orvctl({"ledger", "verify-proof", (folder.path() / "shared.pdf.proofs/event-1.tlog-proof").string(),
                                       "--trusted", trustedKeys().string()});
    EXPECT_EQ(verified.code, 0) << verified.err;
    EXPECT_EQ(events().back().kind, "report");
    EXPECT_EQ(events().back().setupSha256, ledger::sha256Hex(readFile(pdf)));
}

TEST_F(CustodyReportTest, AReportOverTwoHundredEventsHasItsHeadingOnEveryPage)
{
    std::string error;
    std::unique_ptr<ledger::Ledger> ledger = ledger::openLedger(ledgerFile(), error);
    ASSERT_TRUE(ledger) << error;
    ASSERT_EQ(seedCustodyLedger(*ledger, 400), "");
    const fs::path pdf = folder.path() / "long.pdf";
    const OrvctlRun run = report(pdf, {"--device", "ORV202600001", "--language", "en"});
    ASSERT_EQ(run.code, 0) << run.err;
    const int pages = pageCount(pdf);
    ASSERT_GT(pages, 20);
    for (int page = 1; page <= pages; ++page) {
        const std::string text = pdfText(pdf, page, page);
        EXPECT_TRUE(has(text, "Chain-of-custody report · Camera ORV202600001")) << "page " << page;
        EXPECT_TRUE(has(text, "Page " + std::to_string(page) + " of " + std::to_string(pages))) << "page " << page;
    }
    // A section that runs over a page says so at the top of the next; the table of assignments
    // repeats its header row.
    const std::string all = pdfText(pdf);
    EXPECT_EQ(overlappingWords(pdf), "");
    EXPECT_TRUE(has(all, "Events (continued)"));
    const std::string second = pdfText(pdf, 2, 2, true);
    EXPECT_TRUE(std::regex_search(second, std::regex("Assignments \\(continued\\)\\s*\\n\\s*Officer\\s+Unit\\s+From\\s+Until")))
        << "the assignments' header row on the page they go on in\n" << second.substr(0, 600);
    EXPECT_TRUE(has(all, "Event 411"));
}

TEST_F(CustodyReportTest, AReportOfARewrittenLedgerSaysSoOnItsFirstPageAndExits5)
{
    // A first report signs the ledger, as a station does after its work.
    ASSERT_EQ(report(folder.path() / "before.pdf", {"--device", "ORV202600001", "--language", "en"}).code, 0);
    ASSERT_EQ(rewriteLastEvent(ledgerFile(), "P-9999", "ok"), "");
    const std::size_t before = events().size();

    const fs::path pdf = folder.path() / "after.pdf";
    const OrvctlRun run = report(pdf, {"--device", "ORV202600001", "--language", "en"});
    EXPECT_EQ(run.code, 5) << run.out << run.err;
    EXPECT_TRUE(has(run.err, "does not hold")) << run.err;
    const std::string firstPage = pdfText(pdf, 1, 1);
    EXPECT_TRUE(has(firstPage, "WARNING: this report was made from a ledger that does not verify")) << firstPage;
    EXPECT_TRUE(has(pdfText(pdf), "NOT IN THE SIGNED LEDGER"));
    EXPECT_EQ(events().size(), before) << "nothing is appended to a ledger whose history changed";
}

TEST_F(CustodyReportTest, AReportIsWrittenWholeOrNotAtAll)
{
    const fs::path pdf = folder.path() / "kept.pdf";
    writeFile(pdf, "the report handed out yesterday");
    const std::size_t before = events().size();
    simulateDiskFullAfter(2000);
    const OrvctlRun full = report(pdf, {"--device", "ORV202600001"});
    simulateDiskFullAfter(std::nullopt);
    EXPECT_EQ(full.code, 1) << full.out;
    EXPECT_TRUE(has(full.err, "nothing was written")) << full.err;
    EXPECT_EQ(readFile(pdf), "the report handed out yesterday");
    EXPECT_FALSE(fs::exists(folder.path() / "kept.pdf.proofs"));
    EXPECT_EQ(events().size(), before) << "a report not handed out is not recorded";
    for (const fs::directory_entry& entry : fs::directory_iterator(folder.path())) {
        EXPECT_FALSE(has(entry.path().filename().string(), ".part-")) << entry.path();
    }
    // With room again, the same report is written.
    EXPECT_EQ(report(pdf, {"--device", "ORV202600001"}).code, 0);
    EXPECT_EQ(readFile(pdf).rfind("%PDF-", 0), 0u);
}

TEST_F(CustodyReportTest, WhatIsAskedIsCheckedBeforeTheLedgerIsOpened)
{
    const fs::path pdf = folder.path() / "r.pdf";
    EXPECT_EQ(report(pdf, {"--device", "A", "--officer", "B"}).code, 2);
    EXPECT_EQ(report(pdf, {}).code, 2);
    EXPECT_EQ(orvctl({"ledger", "report", "--device", "A"}).code, 2);
    EXPECT_EQ(report(pdf, {"--device", "A", "--language", "fr"}).code, 2);
    EXPECT_EQ(report(pdf, {"--device", "A", "--since", "yesterday"}).code, 2);
    EXPECT_FALSE(fs::exists(pdf));
}

} // namespace
} // namespace orv::test
