#include "tests/support/postgres_server.h"

#include <libpq-fe.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace orv::test {
namespace {

// The server's programs: pg_config's bindir, else the newest /usr/lib/postgresql/*/bin.
fs::path serverBinaries()
{
    std::error_code ec;
    if (FILE* pipe = ::popen("pg_config --bindir 2>/dev/null", "r")) {
        std::array<char, 4096> line{};
        const bool read = std::fgets(line.data(), line.size(), pipe) != nullptr;
        ::pclose(pipe);
        std::string dir = read ? line.data() : "";
        while (!dir.empty() && (dir.back() == '\n' || dir.back() == '\r')) {
            dir.pop_back();
        }
        if (!dir.empty() && fs::exists(fs::path(dir) / "initdb", ec) && fs::exists(fs::path(dir) / "pg_ctl", ec)) {
            return dir;
        }
    }
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
        const fs::path bin = entry.path() / "bin";
        if (fs::exists(bin / "initdb", ec) && fs::exists(bin / "pg_ctl", ec)) {
            found.push_back(bin);
        }
    }
    std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
        return std::atoi(a.parent_path().filename().c_str()) < std::atoi(b.parent_path().filename().c_str());
    });
    return found.empty() ? fs::path() : found.back();
}

} // namespace

std::uint16_t freeLoopbackPort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    std::uint16_t port = 0;
    if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length) == 0) {
        port = ntohs(addr.sin_port);
    }
    if (s >= 0) {
        ::close(s);
    }
    return port;
}

namespace {

std::string firstExisting(std::initializer_list<const char*> paths)
{
    for (const char* p : paths) {
        if (::access(p, X_OK) == 0) {
            return p;
        }
    }
    return {};
}

std::string readText(const fs::path& file)
{
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Connection
{
    PGconn* conn;
    ~Connection() { PQfinish(conn); }
};

} // namespace

PostgresServer::PostgresServer(bool durable)
{
    bin_ = serverBinaries();
    installed_ = !bin_.empty();
    if (!installed_) {
        error_ = "PostgreSQL server (initdb) not installed";
        return;
    }
    running_ = start(durable);
}

PostgresServer::~PostgresServer()
{
    if (running_) {
        runAsServerUser(
            {(bin_ / "pg_ctl").string(), "stop", "-D", (folder_ / "data").string(), "-m", "immediate", "-w"});
    }
    if (!folder_.empty()) {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
}

PostgresServer& PostgresServer::shared()
{
    static PostgresServer server;
    return server;
}

int PostgresServer::runAsServerUser(const std::vector<std::string>& command) const
{
    std::vector<std::string> argv;
    if (!serverUser_.empty()) {
        const std::string runuser = firstExisting({"/usr/sbin/runuser", "/sbin/runuser", "/usr/bin/runuser"});
        if (!runuser.empty()) {
            argv = {runuser, "-u", serverUser_, "--"};
        } else {
            argv = {firstExisting({"/usr/bin/setpriv", "/bin/setpriv"}), "--reuid=" + serverUser_,
                    "--regid=" + serverUser_, "--init-groups", "--"};
        }
    }
    argv.insert(argv.end(), command.begin(), command.end());
    std::vector<char*> args;
    for (std::string& a : argv) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    const std::string log = (folder_ / "commands.log").string();
    const std::string cwd = folder_.string();
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        const int none = ::open("/dev/null", O_RDONLY);
        if (none >= 0) {
            ::dup2(none, 0);
        }
        if (::chdir(cwd.c_str()) != 0) {
            ::_exit(126);
        }
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool PostgresServer::start(bool durable)
{
    char pattern[] = "/tmp/orv-pg-XXXXXX"; // short: the socket's path must fit in 107 bytes
    if (::mkdtemp(pattern) == nullptr) {
        error_ = "cannot create a temporary folder";
        return false;
    }
    folder_ = pattern;
    if (::geteuid() == 0) {
        const passwd* account = ::getpwnam("postgres");
        if (account == nullptr) {
            account = ::getpwnam("nobody");
        }
        if (account == nullptr || ::chown(folder_.c_str(), account->pw_uid, account->pw_gid) != 0) {
            error_ = "running as root, and no account to run the server as";
            return false;
        }
        serverUser_ = account->pw_name;
        // The log written through the child's descriptor is opened by root; the server writes its own.
    }
    const std::string data = (folder_ / "data").string();
    if (runAsServerUser({(bin_ / "initdb").string(), "-D", data, "-U", role_, "-A", "trust", "-E", "UTF8", "--locale=C",
                         "--no-sync"}) != 0) {
        error_ = "initdb failed:\n" + readText(folder_ / "commands.log");
        return false;
    }
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = freeLoopbackPort();
        std::string options = "-c listen_addresses=127.0.0.1 -c port=" + std::to_string(port_) +
                              " -c unix_socket_directories=" + folder_.string() + " -c max_connections=60";
        if (!durable) {
            options += " -c fsync=off -c full_page_writes=off";
        }
        if (runAsServerUser({(bin_ / "pg_ctl").string(), "start", "-D", data, "-l", (folder_ / "server.log").string(),
                             "-w", "-t", "60", "-o", options}) == 0) {
            return true;
        }
    }
    error_ = "pg_ctl start failed:\n" + readText(folder_ / "commands.log") + readText(folder_ / "server.log");
    return false;
}

bool PostgresServer::restart()
{
    running_ = runAsServerUser({(bin_ / "pg_ctl").string(), "restart", "-D", (folder_ / "data").string(), "-l",
                                (folder_ / "server.log").string(), "-m", "fast", "-w", "-t", "60"}) == 0;
    return running_;
}

std::string PostgresServer::socketLocation(const std::string& database) const
{
    return "host=" + folder_.string() + " port=" + std::to_string(port_) + " user=" + role_ + " dbname=" + database;
}

std::string PostgresServer::tcpLocation(const std::string& database) const
{
    return "postgresql://" + role_ + "@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

std::string PostgresServer::createDatabase(std::string& error)
{
    // The name is the server's own counter, never outside text.
    const std::string name = "ledger_" + std::to_string(++databases_);
    if (!execute("postgres", "CREATE DATABASE " + name, error)) {
        return {};
    }
    return name;
}

bool PostgresServer::execute(const std::string& database, const std::string& sql, std::string& error) const
{
    query(database, sql, error);
    return error.empty();
}

std::vector<std::string> PostgresServer::query(const std::string& database, const std::string& sql,
                                               std::string& error) const
{
    error.clear();
    const Connection c{PQconnectdb(socketLocation(database).c_str())};
    if (PQstatus(c.conn) != CONNECTION_OK) {
        error = PQerrorMessage(c.conn);
        return {};
    }
    PGresult* result = PQexec(c.conn, sql.c_str());
    std::vector<std::string> rows;
    const ExecStatusType status = PQresultStatus(result);
    if (status == PGRES_TUPLES_OK) {
        for (int row = 0; row < PQntuples(result); ++row) {
            rows.emplace_back(PQgetisnull(result, row, 0) ? "NULL" : PQgetvalue(result, row, 0));
        }
    } else if (status != PGRES_COMMAND_OK) {
        error = PQresultErrorMessage(result);
    }
    PQclear(result);
    return rows;
}

} // namespace orv::test
