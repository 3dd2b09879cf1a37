// The canonical form and hash are pinned byte for byte (an export's hashes must stay
// recomputable), and the CSV export's bytes, quoting and atomic replacement.
#include "tests/core/ledger/ledger_fixture.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <csignal>
#include <sys/resource.h>
#endif

using namespace orv::ledger;
using namespace orv::ledger::test;

namespace {

Event pinnedEvent()
{
    Event e;
    e.number = 1;
    e.timeUtc = "2026-03-05T06:07:09.123Z";
    e.utcOffsetMinutes = 480;
    e.station = "desk, 1";
    e.operatorName = "say \"hi\"";
    e.tool = "orvctl";
    e.toolVersion = "1.0.0.2";
    e.kind = "check";
    e.deviceId = "D1";
    e.officerAfter = "P1";
    e.groups = "platform, wifi";
    e.result = "differs";
    e.differences = "a\nb";
    e.clockOffsetSeconds = -2;
    e.previousHash = "p";
    e.hash = "h";
    return e;
}

const std::string kPinnedForm = "orv-ledger-event 1\n"
                                "number:1:1\n"
                                "time_utc:24:2026-03-05T06:07:09.123Z\n"
                                "utc_offset_minutes:3:480\n"
                                "station:7:desk, 1\n"
                                "operator:8:say \"hi\"\n"
                                "tool:6:orvctl\n"
                                "tool_version:7:1.0.0.2\n"
                                "kind:5:check\n"
                                "device_id:2:D1\n"
                                "where:0:\n"
                                "officer_before:0:\n"
                                "officer_after:2:P1\n"
                                "unit_before:0:\n"
                                "unit_after:0:\n"
                                "setup_name:0:\n"
                                "setup_sha256:0:\n"
                                "groups:14:platform, wifi\n"
                                "result:7:differs\n"
                                "differences:3:a\nb\n"
                                "clock_offset_seconds:2:-2\n";

TEST(EventForm, CanonicalFormAndHashArePinned)
{
    Event e = pinnedEvent();
    EXPECT_EQ(canonicalForm(e), kPinnedForm);
    EXPECT_EQ(eventHash(kGenesisHash, e), "5834c0c34f700b55450a073b949052aa3603c714dd5cf2b6f9dbc11a8fa545b1");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    // The hashes are not part of the form; an absent clock offset differs from a zero one.
    e.hash = "other";
    EXPECT_EQ(canonicalForm(e), kPinnedForm);
    e.clockOffsetSeconds.reset();
    const std::string absent = canonicalForm(e);
    EXPECT_NE(absent.find("clock_offset_seconds:0:\n"), std::string::npos);
    e.clockOffsetSeconds = 0;
    EXPECT_NE(canonicalForm(e), absent);

    // Moving text from one field into the next gives another form.
    Event a = pinnedEvent(), b = pinnedEvent();
    a.unitBefore = "x";
    b.unitAfter = "x";
    EXPECT_NE(eventHash(kGenesisHash, a), eventHash(kGenesisHash, b));
}

const std::string kHeader = "\xEF\xBB\xBF"
                            "number,time_utc,utc_offset_minutes,station,operator,tool,tool_version,kind,device_id,"
                            "where,officer_before,officer_after,unit_before,unit_after,setup_name,setup_sha256,"
                            "groups,result,differences,clock_offset_seconds,event_id,station_sequence,arrived_utc,previous_hash,hash\r\n";

TEST(CsvExport, BytesWithBomHeaderCrlfAndQuoting)
{
    TempFolder folder;
    const auto file = folder.path() / "ledger.csv";
    Event plain = pinnedEvent();
    plain.number = 2;
    plain.station = "desk";
    plain.operatorName = "clerk";
    plain.groups = "wifi";
    plain.differences = "";
    plain.clockOffsetSeconds.reset();
    // Text a camera or a person typed never runs as a formula when the export is opened.
    plain.officerAfter = "=HYPERLINK(\"http://x\",\"P1\")";
    plain.unitAfter = "@SUM(A1)";
    plain.where = "-1+2";
    std::string error;
    ASSERT_TRUE(exportCsv({pinnedEvent(), plain}, file, error)) << error;
    EXPECT_EQ(fileBytes(file), kHeader + "1,2026-03-05T06:07:09.123Z,480,\"desk, 1\",\"say \"\"hi\"\"\",orvctl,1.0.0.2,"
                                         "check,D1,,,P1,,,,,\"platform, wifi\",differs,\"a\nb\",-2,,,,p,h\r\n"
                                         "2,2026-03-05T06:07:09.123Z,480,desk,clerk,orvctl,1.0.0.2,check,D1,'-1+2,,"
                                         "\"'=HYPERLINK(\"\"http://x\"\",\"\"P1\"\")\",,'@SUM(A1),,,"
                                         "wifi,differs,,,,,,p,h\r\n");
    ASSERT_TRUE(exportCsv({}, file, error)) << error;
    EXPECT_EQ(fileBytes(file), kHeader);
}

TEST(CsvExport, FailedExportLeavesTheOldFileWhole)
{
    TempFolder folder;
    const auto file = folder.path() / "ledger.csv";
    const std::string old = "the previous export\r\n";
    std::ofstream(file, std::ios::binary) << old;

#ifdef _WIN32
    // The old export open in another program that lets nobody replace it (as a spreadsheet keeps
    // it): the new file is written, but cannot take the old one's place.
    const HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::string error;
    const bool exported = exportCsv(std::vector<Event>(50, pinnedEvent()), file, error);
    CloseHandle(held);
#else
    // A disk that takes only 100 more bytes per file: the write fails half-way.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool exported = exportCsv(std::vector<Event>(50, pinnedEvent()), file, error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
#endif

    EXPECT_FALSE(exported);
    EXPECT_NE(error.find(utf8Path(file)), std::string::npos) << error;
    EXPECT_EQ(fileBytes(file), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1) << "a temporary remained";

    EXPECT_FALSE(exportCsv({}, folder.path(), error));
    EXPECT_FALSE(exportCsv({}, folder.path() / "no such folder" / "x.csv", error));
}

} // namespace
