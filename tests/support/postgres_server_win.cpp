// The test server on Windows: none. The test programs run under Wine, and a Windows program cannot
// start the Linux side's initdb and pg_ctl, so every case that needs a server skips with the reason
// below; the ledger on PostgreSQL is exercised by the Linux build and, through orvctl.exe against a
// server started on the Linux side, by scripts/test-windows-e2e.sh.
#include "tests/support/postgres_server.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

namespace orv::test {
namespace {

const char* const kNoServer =
    "no PostgreSQL server for a Windows test program: it cannot start initdb and pg_ctl (the ledger's "
    "PostgreSQL cases run in the Linux build, orvctl.exe's in scripts/test-windows-e2e.sh)";

} // namespace

std::uint16_t freeLoopbackPort()
{
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return 0;
    }
    std::uint16_t port = 0;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof addr;
    if (s != INVALID_SOCKET && ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length) == 0) {
        port = ntohs(addr.sin_port);
    }
    if (s != INVALID_SOCKET) {
        ::closesocket(s);
    }
    WSACleanup();
    return port;
}

PostgresServer::PostgresServer(bool /*durable*/, Tls /*tls*/) : error_(kNoServer) {}

PostgresServer::~PostgresServer() = default;

PostgresServer& PostgresServer::shared()
{
    static PostgresServer server;
    return server;
}

bool PostgresServer::restart()
{
    return false;
}

bool PostgresServer::startAgain()
{
    return false;
}

std::string PostgresServer::createDatabase(std::string& error)
{
    error = kNoServer;
    return {};
}

std::string PostgresServer::socketLocation(const std::string& database) const
{
    return tcpLocation(database);
}

std::string PostgresServer::tcpLocation(const std::string& database) const
{
    return "postgresql://" + role_ + "@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

std::string PostgresServer::tlsLocation(const std::string& database, const std::string& host,
                                        const std::string& sslmode, const std::filesystem::path& rootCertificate) const
{
    std::string location = "host=" + host + " port=" + std::to_string(port_) + " user=" + role_ +
                           " dbname=" + database + " sslmode=" + sslmode;
    if (!rootCertificate.empty()) {
        location += " sslrootcert=" + rootCertificate.string();
    }
    return location;
}

bool PostgresServer::execute(const std::string&, const std::string&, std::string& error) const
{
    error = kNoServer;
    return false;
}

std::vector<std::string> PostgresServer::query(const std::string&, const std::string&, std::string& error) const
{
    error = kNoServer;
    return {};
}

bool PostgresServer::start(bool, Tls)
{
    return false;
}

int PostgresServer::runAsServerUser(const std::vector<std::string>&) const
{
    return -1;
}

} // namespace orv::test
