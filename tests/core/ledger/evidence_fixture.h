#pragma once
// Stations, their checkpoints and an administrator who rewrites the tables, on both backends.
// Each station is a folder of its own under the test's folder (its key, its witness file); a
// station trusts the stations it is told to, through a trusted keys file as IT would hand it out.

#include "ledger/event_fields.h"
#include "ledger/evidence.h"
#include "ledger/station.h"
#include "tests/core/ledger/ledger_fixture.h"

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orv::ledger::test {

inline bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// `text` as an SQL string literal, the same for both backends.
inline std::string sqlText(const std::string& text)
{
    std::string out = "'";
    for (const char c : text) {
        out += c;
        if (c == '\'') {
            out += '\'';
        }
    }
    return out + "'";
}

// An INSERT of `e` exactly as it stands, hashes included; without a spool's fields it names only
// the columns every schema has.
inline std::string insertSql(const Event& e)
{
    const std::size_t fields = detail::hasSpoolFields(e) ? detail::kFields.size() : detail::kFieldsOfForm1;
    std::string columns;
    for (std::size_t i = 0; i < fields; ++i) {
        columns += std::string(detail::kFields[i].column) + ", ";
    }
    std::string sql = "INSERT INTO events (" + columns + "prev_hash, hash) VALUES (";
    for (std::size_t i = 0; i < fields; ++i) {
        const std::optional<std::string> text = detail::fieldText(e, i);
        sql += (text ? sqlText(*text) : std::string("NULL")) + ", ";
    }
    return sql + sqlText(e.previousHash) + ", " + sqlText(e.hash) + ");\n";
}

inline std::string headSql(std::int64_t number, const std::string& hash)
{
    return "UPDATE chain_head SET number = " + std::to_string(number) + ", hash = " + sqlText(hash) +
           " WHERE id = 1;\n";
}

// "name+hexid", as the evidence names a station's key.
inline std::string labelOf(const Station& station)
{
    return keyLabel(station.key().name(), station.key().id());
}

class StationLedgerTest : public LedgerBackendTest
{
protected:
    std::filesystem::path stationFolder(const std::string& name) const { return folder_.path() / ("desk-" + name); }

    VerifierKey stationKey(const std::string& name)
    {
        std::string error;
        const std::optional<SignerKey> key = loadOrCreateKey(stationFolder(name) / std::string(kStationKeyFileName),
                                                             stationKeyName(), KeyType::Ed25519, error);
        EXPECT_TRUE(key) << error;
        return key ? key->verifier() : VerifierKey{};
    }

    KeyRing ringOf(std::initializer_list<std::string> names)
    {
        KeyRing ring;
        for (const std::string& name : names) {
            ring.add(stationKey(name));
        }
        return ring;
    }

    // The station `name`, trusting the stations `trusts` besides itself.
    std::shared_ptr<Station> openStation(const std::string& name, std::initializer_list<std::string> trusts = {})
    {
        StationSetup setup{stationFolder(name), {}};
        if (trusts.size() > 0) {
            std::string text = "# the agency's stations\n";
            for (const VerifierKey& key : ringOf(trusts).keys) {
                text += verifierKeyText(key) + "\n";
            }
            setup.trustedKeys = folder_.path() / ("trusted-by-" + name + ".txt");
            std::ofstream(setup.trustedKeys, std::ios::binary) << text;
        }
        std::string error;
        std::shared_ptr<Station> station = Station::open(setup, error);
        EXPECT_TRUE(station) << error;
        return station;
    }

    // The ledger under test from now on is a new, empty one: rows of a data-driven case each
    // start afresh.
    void useFreshLedger()
    {
        static int count = 0;
        if (GetParam() == Backend::Sqlite) {
            location_ = utf8Path(folder_.path() / ("fresh-" + std::to_string(++count)) / "ledger.db");
            return;
        }
        std::string error;
        database_ = orv::test::PostgresServer::shared().createDatabase(error);
        ASSERT_FALSE(database_.empty()) << error;
        location_ = orv::test::PostgresServer::shared().socketLocation(database_);
    }

    // A second ledger of the same backend, beside the one under test.
    std::string otherLocation()
    {
        static int count = 0;
        if (GetParam() == Backend::Sqlite) {
            return utf8Path(folder_.path() / ("elsewhere-" + std::to_string(++count)) / "ledger.db");
        }
        std::string error;
        const std::string database = orv::test::PostgresServer::shared().createDatabase(error);
        EXPECT_FALSE(database.empty()) << error;
        return orv::test::PostgresServer::shared().socketLocation(database);
    }

    // `count` events appended at `location` (the ledger under test when empty), each followed by
    // a checkpoint `station` signs when `signEach`.
    void appendEvents(Station* station, int count, bool signEach = true, std::string location = {})
    {
        std::string error;
        const std::unique_ptr<Ledger> ledger = openLedger(location.empty() ? location_ : location, error);
        ASSERT_TRUE(ledger) << error;
        for (int i = 0; i < count; ++i) {
            const std::int64_t next = ledger->head()->number + 1;
            Event e = sampleEvent(next % 2 ? "D1" : "D2", "P" + std::to_string(next), "ok " + std::to_string(next));
            ASSERT_TRUE(ledger->append(e)) << ledger->error();
            if (station && signEach) {
                const Station::Signed s = station->signCheckpoint(*ledger);
                ASSERT_TRUE(s.ok) << s.message;
            }
        }
    }

    Station::Signed sign(Station& station)
    {
        const std::unique_ptr<Ledger> ledger = open();
        Station::Signed failed;
        failed.message = "cannot open";
        return ledger ? station.signCheckpoint(*ledger) : failed;
    }

    Station::Guard guard(Station& station)
    {
        const std::unique_ptr<Ledger> ledger = open();
        Station::Guard failed;
        failed.outcome = Station::Guard::Outcome::Failed;
        return ledger ? station.checkBeforeWriting(*ledger) : failed;
    }

    LedgerSnapshot snapshot(const std::string& location = {})
    {
        std::string error;
        const std::unique_ptr<Ledger> ledger = openLedger(location.empty() ? location_ : location, error);
        LedgerSnapshot s;
        EXPECT_TRUE(ledger) << error;
        if (ledger) {
            EXPECT_TRUE(ledger->readSnapshot(s)) << ledger->error();
        }
        return s;
    }

    std::string placeOfLedger()
    {
        const std::unique_ptr<Ledger> ledger = open();
        return ledger ? ledger->place() : std::string();
    }

    // What a reader finds with `stations` trusted and, when given, `own`'s witness file.
    EvidenceReport evidence(const KeyRing& stations, const Station* own = nullptr, const KeyRing& witnesses = {},
                            int minWitnesses = 0)
    {
        VerifyPolicy policy;
        policy.stations = stations;
        policy.witnesses = witnesses;
        policy.minWitnesses = minWitnesses;
        std::optional<WitnessFile> file;
        if (own) {
            file = own->witness();
            policy.witness = &*file;
            policy.place = placeOfLedger();
        }
        return verifyEvidence(snapshot(), policy);
    }

    std::vector<Event> events()
    {
        std::vector<Event> read;
        const std::unique_ptr<Ledger> ledger = open();
        EXPECT_TRUE(ledger && ledger->readEvents({}, read));
        return read;
    }

    std::size_t checkpointRows() { return snapshot().checkpoints.size(); }

    // The administrator's rewrite: `change` edits event `from`, and every hash from there on is
    // computed again, the chain head's too, so that the chain alone looks intact.
    void rewrite(std::int64_t from, const std::function<void(Event&)>& change)
    {
        std::vector<Event> all = events();
        ASSERT_GE(static_cast<std::int64_t>(all.size()), from);
        std::string previous = from == 1 ? std::string(kGenesisHash) : all[static_cast<std::size_t>(from - 2)].hash;
        std::string sql = "DELETE FROM events WHERE number >= " + std::to_string(from) + ";\n";
        for (std::size_t i = static_cast<std::size_t>(from - 1); i < all.size(); ++i) {
            Event& e = all[i];
            if (e.number == from) {
                change(e);
            }
            e.previousHash = previous;
            e.hash = eventHash(previous, e);
            previous = e.hash;
            sql += insertSql(e);
        }
        sql += headSql(static_cast<std::int64_t>(all.size()), previous);
        tamper(sql);
    }

    void rewriteOfficer(std::int64_t number)
    {
        rewrite(number, [](Event& e) { e.officerAfter = "P-forged"; });
    }

    // The events after `keep` removed and the chain head set back: the chain stays intact.
    void rollBack(std::int64_t keep, bool checkpointsToo)
    {
        const std::vector<Event> all = events();
        ASSERT_GE(static_cast<std::int64_t>(all.size()), keep);
        std::string sql =
            "DELETE FROM events WHERE number > " + std::to_string(keep) + ";\n" +
            headSql(keep, keep == 0 ? std::string(kGenesisHash) : all[static_cast<std::size_t>(keep - 1)].hash);
        if (checkpointsToo) {
            sql += "DELETE FROM checkpoints WHERE tree_size > " + std::to_string(keep) + ";\n";
        }
        tamper(sql);
    }

    // The first column of each row `sql` answers, as text.
    std::vector<std::string> query(const std::string& sql)
    {
        std::vector<std::string> rows;
        if (GetParam() == Backend::Postgres) {
            std::string error;
            rows = orv::test::PostgresServer::shared().query(database_, sql, error);
            EXPECT_EQ(error, "") << sql;
            return rows;
        }
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open_v2(location_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        const auto collect = [](void* out, int, char** values, char**) {
            static_cast<std::vector<std::string>*>(out)->emplace_back(values[0] ? values[0] : "NULL");
            return 0;
        };
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), collect, &rows, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
        return rows;
    }
};

} // namespace orv::ledger::test
