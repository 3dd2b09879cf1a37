#pragma once
// Both backends through the same cases: a SQLite file in a fresh folder, or a fresh database on
// the test program's PostgreSQL server. Tests tamper with the tables through plain SQL beside the
// ledger, as someone with access to the database could.

#include "ledger/ledger.h"
#include "tests/support/postgres_server.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace orv::ledger::test {

enum class Backend { Sqlite, Postgres };

inline std::string backendName(const ::testing::TestParamInfo<Backend>& info)
{
    return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
}

using orv::test::TempFolder;

// A path as the ledger takes and names it: UTF-8 (on Windows path::string() is the ANSI code page).
inline std::string utf8Path(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

inline std::string fileBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// An event as the tools make them, told apart by `result`.
inline Event sampleEvent(const std::string& deviceId, const std::string& officer, const std::string& result,
                         const std::string& timeUtc = "2026-03-05T06:07:09.123Z")
{
    Event e;
    e.timeUtc = timeUtc;
    e.utcOffsetMinutes = 480;
    e.station = "desk-1";
    e.operatorName = "clerk";
    e.tool = "orvctl";
    e.toolVersion = "1.0.0.2";
    e.kind = "provision";
    e.deviceId = deviceId;
    e.where = "usb0 192.168.2.158";
    e.officerAfter = officer;
    e.unitAfter = "North";
    e.result = result;
    return e;
}

class LedgerBackendTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        if (GetParam() == Backend::Sqlite) {
            location_ = utf8Path(folder_.path() / "station" / "ledger.db");
            return;
        }
        orv::test::PostgresServer& server = orv::test::PostgresServer::shared();
        if (!server.installed()) {
            GTEST_SKIP() << server.error();
        }
        ASSERT_TRUE(server.running()) << server.error();
        std::string error;
        database_ = server.createDatabase(error);
        ASSERT_FALSE(database_.empty()) << error;
        location_ = server.socketLocation(database_);
    }

    std::unique_ptr<Ledger> open()
    {
        std::string error;
        std::unique_ptr<Ledger> ledger = openLedger(location_, error);
        EXPECT_TRUE(ledger) << error;
        return ledger;
    }

    // A ledger holding `count` events for cameras D1 and D2, closed again.
    void fill(int count)
    {
        const std::unique_ptr<Ledger> ledger = open();
        ASSERT_TRUE(ledger);
        for (int i = 1; i <= count; ++i) {
            Event e = sampleEvent(i % 2 ? "D1" : "D2", "P" + std::to_string(i), "ok " + std::to_string(i));
            ASSERT_TRUE(ledger->append(e)) << ledger->error();
        }
    }

    // Plain SQL on the ledger's database, beside the ledger, as its administrator could: on
    // PostgreSQL with the owner's triggers switched off for the session.
    void tamper(const std::string& sql)
    {
        if (GetParam() == Backend::Sqlite) {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(location_.c_str(), &db), SQLITE_OK);
            char* message = nullptr;
            const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
            EXPECT_EQ(rc, SQLITE_OK) << (message ? message : "");
            sqlite3_free(message);
            sqlite3_close(db);
            return;
        }
        std::string error;
        EXPECT_TRUE(orv::test::PostgresServer::shared().execute(
            database_, "SET session_replication_role = replica; " + sql, error))
            << error;
    }

    VerifyReport verify()
    {
        const std::unique_ptr<Ledger> ledger = open();
        return ledger ? verifyChain(*ledger) : VerifyReport{false, 0, 0, "cannot open", {}};
    }

    TempFolder folder_;
    std::string location_;
    std::string database_; // PostgreSQL
};

} // namespace orv::ledger::test
