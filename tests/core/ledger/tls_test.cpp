// The shared ledger over TLS, against a server whose certificate a CA made by the test signed: a
// station that trusts that CA reaches the server and records; one that trusts another CA, or
// reaches the server under a name its certificate does not carry, is refused, and the message
// tells IT which check failed and where.
#include "ledger/ledger.h"
#include "tests/core/ledger/ledger_fixture.h"
#include "tests/support/postgres_server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv::ledger::test {
namespace {

using orv::test::PostgresServer;

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// One server for the file: starting it is most of what these cases cost.
PostgresServer& tlsServer()
{
    static PostgresServer server(false, PostgresServer::Tls::On);
    return server;
}

class LedgerTlsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!server_.installed()) {
            GTEST_SKIP() << server_.error();
        }
        ASSERT_TRUE(server_.running()) << server_.error();
        std::string error;
        database_ = server_.createDatabase(error);
        ASSERT_FALSE(database_.empty()) << error;
    }

    // What openLedger says when it refuses `location`.
    std::string refusal(const std::string& location) const
    {
        std::string error;
        EXPECT_FALSE(openLedger(location, error)) << location;
        return error;
    }

    std::string where(const std::string& host) const
    {
        return "PostgreSQL database " + database_ + " on " + host + ":" + std::to_string(server_.port());
    }

    PostgresServer& server_ = tlsServer();
    std::string database_;
};

TEST_F(LedgerTlsTest, StationTrustingTheServersCaRecordsOverTls)
{
    std::string error;
    const auto ledger =
        openLedger(server_.tlsLocation(database_, "localhost", "verify-full", server_.caCertificate()), error);
    ASSERT_TRUE(ledger) << error;
    Event event = sampleEvent("D1", "P1", "ok");
    ASSERT_TRUE(ledger->append(event)) << ledger->error();
    EXPECT_EQ(event.number, 1);
    // The ledger's session as the server sees it (this query comes over the Unix socket).
    EXPECT_EQ(server_.query(database_,
                            "SELECT s.ssl FROM pg_stat_ssl s JOIN pg_stat_activity a USING (pid) "
                            "WHERE a.datname = current_database() AND a.backend_type = 'client backend' "
                            "AND a.pid <> pg_backend_pid()",
                            error),
              std::vector<std::string>{"t"})
        << error;

    // The same in the URI form the README gives IT.
    const auto again =
        openLedger("postgresql://" + server_.role() + "@localhost:" + std::to_string(server_.port()) + "/" + database_ +
                       "?sslmode=verify-full&sslrootcert=" + server_.caCertificate().string(),
                   error);
    ASSERT_TRUE(again) << error;
    Event second = sampleEvent("D1", "P2", "ok");
    ASSERT_TRUE(again->append(second)) << again->error();
    EXPECT_EQ(second.number, 2);
}

TEST_F(LedgerTlsTest, CertificateNotSignedByTheTrustedCaIsRefusedSayingSo)
{
    const std::string error =
        refusal(server_.tlsLocation(database_, "localhost", "verify-full", server_.otherCaCertificate()));
    EXPECT_TRUE(contains(error, where("localhost"))) << error;
    EXPECT_TRUE(contains(error, "not signed by the trusted CA")) << error;
    EXPECT_TRUE(contains(error, "sslrootcert=" + server_.otherCaCertificate().string())) << error;
}

TEST_F(LedgerTlsTest, CertificateForOtherNamesIsRefusedNamingTheMismatch)
{
    // The same server, reached at an address its certificate does not name.
    const std::string error =
        refusal(server_.tlsLocation(database_, "127.0.0.2", "verify-full", server_.caCertificate()));
    EXPECT_TRUE(contains(error, where("127.0.0.2"))) << error;
    EXPECT_TRUE(contains(error, "does not match host name \"127.0.0.2\"")) << error;
}

TEST_F(LedgerTlsTest, UnencryptedConnectionOverTcpIsRefusedByTheServer)
{
    const std::string error = refusal(server_.tlsLocation(database_, "127.0.0.1", "disable", {}));
    EXPECT_TRUE(contains(error, where("127.0.0.1"))) << error;
    EXPECT_TRUE(contains(error, "no encryption")) << error;
}

// A station told to require TLS never records in the clear to a server without it.
TEST(LedgerTlsRequired, ServerWithoutTlsIsRefused)
{
    PostgresServer& server = PostgresServer::shared();
    if (!server.installed()) {
        GTEST_SKIP() << server.error();
    }
    ASSERT_TRUE(server.running()) << server.error();
    std::string error;
    const std::string database = server.createDatabase(error);
    ASSERT_FALSE(database.empty()) << error;
    EXPECT_FALSE(openLedger(server.tlsLocation(database, "127.0.0.1", "require", {}), error));
    EXPECT_TRUE(contains(error, "server does not support SSL")) << error;
}

} // namespace
} // namespace orv::ledger::test
