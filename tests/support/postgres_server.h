#pragma once
// A real PostgreSQL server for tests and benchmarks: initdb into a fresh temporary folder, started
// with pg_ctl listening on a Unix socket in that folder and on 127.0.0.1 at a free port, trust
// authentication, stopped and removed again by the destructor. As root the server runs as the
// `postgres` account (else `nobody`), since initdb refuses root; clients connect as the role
// `role()`. On Windows (postgres_server_win.cpp) no server is started: the test programs run under
// Wine there, which cannot start the Linux side's initdb and pg_ctl, so the server reports itself
// not installed and the cases that need it skip with error()'s reason.
//
// With Tls::On the server also listens on 127.0.0.2 and speaks TLS with a certificate for localhost
// and 127.0.0.1 (not 127.0.0.2) signed by a CA made for it, and pg_hba.conf takes TCP connections
// only over TLS (hostssl), as the README tells IT to set it up.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orv::test {

// A loopback TCP port nothing listened on a moment ago (0 when none could be had).
std::uint16_t freeLoopbackPort();

class PostgresServer
{
public:
    enum class Tls { Off, On };

    // durable: fsync as a production server does (benchmarks); otherwise the data need not
    // survive a crash of the machine and the tests run faster.
    explicit PostgresServer(bool durable = false, Tls tls = Tls::Off);
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // The server shared by one test program, started on first use and stopped at exit.
    static PostgresServer& shared();

    // False: the server binaries are missing or out of reach (skip, error() says why) or the
    // server did not start (error()).
    bool running() const { return running_; }
    bool installed() const { return installed_; }
    const std::string& error() const { return error_; }

    const std::string& role() const { return role_; }
    std::uint16_t port() const { return port_; }
    const std::filesystem::path& socketFolder() const { return folder_; }

    // Stops the server (connections are cut) and starts it again with the same settings.
    bool restart();
    // Starts again, with the same settings, a server that was stopped (a test that stops it as a
    // crash of its machine would: its postmaster killed).
    bool startAgain();

    // A new empty database (ledger_1, ledger_2, ...); empty with `error` on failure.
    std::string createDatabase(std::string& error);
    // Where a client finds `database`: libpq words over the Unix socket, or a URI over loopback TCP.
    std::string socketLocation(const std::string& database) const;
    std::string tcpLocation(const std::string& database) const;
    // libpq words over loopback TCP to `host` (localhost, 127.0.0.1, 127.0.0.2) with this sslmode and,
    // unless empty, this sslrootcert.
    std::string tlsLocation(const std::string& database, const std::string& host, const std::string& sslmode,
                            const std::filesystem::path& rootCertificate) const;

    // With Tls::On (PEM files in the server's folder): the CA that signed the server's certificate,
    // and one that signed nothing the server holds.
    const std::filesystem::path& caCertificate() const { return caCertificate_; }
    const std::filesystem::path& otherCaCertificate() const { return otherCaCertificate_; }

    // Runs `sql` on `database` as the server's superuser, beside any ledger (tests that tamper).
    bool execute(const std::string& database, const std::string& sql, std::string& error) const;
    // The first column of each row `sql` returns, as text ("NULL" for NULL).
    std::vector<std::string> query(const std::string& database, const std::string& sql, std::string& error) const;

private:
    bool start(bool durable, Tls tls);
    int runAsServerUser(const std::vector<std::string>& command) const;

    std::filesystem::path bin_;
    std::filesystem::path folder_;
    std::filesystem::path caCertificate_;
    std::filesystem::path otherCaCertificate_;
    std::string serverUser_; // as root: the account the server runs as
    std::string role_ = "orv_test";
    std::uint16_t port_ = 0;
    std::string options_; // the server's settings, as it was started with them
    bool installed_ = false;
    bool running_ = false;
    std::string error_;
    int databases_ = 0;
};

} // namespace orv::test
