#include "tests/support/postgres_server.h"

#include <libpq-fe.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

struct KeyFree
{
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
struct CertificateFree
{
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using Certificate = std::unique_ptr<X509, CertificateFree>;

Key newKey()
{
    // P-256: made in a millisecond, where an RSA key would cost the suite noticeable time.
    return Key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
}

using Extensions = std::initializer_list<std::pair<int, const char*>>;

// A certificate named `commonName` for `key`, valid from an hour ago for a week, signed by
// `issuer` (self-signed when null).
Certificate makeCertificate(EVP_PKEY* key, const char* commonName, long serial, X509* issuer, EVP_PKEY* issuerKey,
                            Extensions extensions)
{
    Certificate certificate(X509_new());
    if (!certificate) {
        return {};
    }
    X509* c = certificate.get();
    X509_NAME* name = X509_get_subject_name(c);
    bool ok = X509_set_version(c, X509_VERSION_3) == 1 && ASN1_INTEGER_set(X509_get_serialNumber(c), serial) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(c), -3600) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(c), 7 * 24 * 3600) != nullptr &&
              X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName),
                                         -1, -1, 0) == 1 &&
              X509_set_issuer_name(c, issuer ? X509_get_subject_name(issuer) : name) == 1 &&
              X509_set_pubkey(c, key) == 1;
    X509V3_CTX context{};
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer ? issuer : c, c, nullptr, nullptr, 0);
    for (const auto& [nid, value] : extensions) {
        X509_EXTENSION* extension = ok ? X509V3_EXT_conf_nid(nullptr, &context, nid, value) : nullptr;
        ok = extension != nullptr && X509_add_ext(c, extension, -1) == 1;
        X509_EXTENSION_free(extension);
    }
    ok = ok && X509_sign(c, issuer ? issuerKey : key, EVP_sha256()) > 0;
    return ok ? std::move(certificate) : Certificate();
}

// Created with `mode` and owned as `owner` is: the server refuses a key that is not its own or that
// others may read.
bool writePem(const fs::path& file, ::mode_t mode, const struct stat& owner, X509* certificate, EVP_PKEY* key)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (fd < 0) {
        return false;
    }
    BIO* bio = ::fchown(fd, owner.st_uid, owner.st_gid) == 0 ? BIO_new_fd(fd, BIO_CLOSE) : nullptr;
    if (bio == nullptr) {
        ::close(fd);
        return false;
    }
    const bool written = certificate ? PEM_write_bio_X509(bio, certificate) == 1
                                     : PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    return BIO_free(bio) == 1 && written;
}

// In `folder`: ca.crt, which signed server.crt (localhost and 127.0.0.1) and its server.key, and
// other-ca.crt, a CA of the same kind that signed nothing here.
bool writeTlsFiles(const fs::path& folder, std::string& error)
{
    struct stat owner = {};
    if (::stat(folder.c_str(), &owner) != 0) {
        error = "cannot read the owner of " + folder.string();
        return false;
    }
    const Extensions ca = {{NID_basic_constraints, "critical,CA:TRUE"},
                           {NID_key_usage, "critical,keyCertSign,cRLSign"},
                           {NID_subject_key_identifier, "hash"}};
    const Extensions server = {{NID_basic_constraints, "critical,CA:FALSE"},
                               {NID_key_usage, "critical,digitalSignature"},
                               {NID_ext_key_usage, "serverAuth"},
                               {NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1"},
                               {NID_subject_key_identifier, "hash"},
                               {NID_authority_key_identifier, "keyid:always"}};
    const Key caKey = newKey();
    const Key otherKey = newKey();
    const Key serverKey = newKey();
    const Certificate caCertificate =
        caKey ? makeCertificate(caKey.get(), "OrvCamera test CA", 1, nullptr, nullptr, ca) : nullptr;
    const Certificate otherCertificate =
        otherKey ? makeCertificate(otherKey.get(), "OrvCamera unrelated test CA", 1, nullptr, nullptr, ca) : nullptr;
    const Certificate serverCertificate =
        serverKey && caCertificate
            ? makeCertificate(serverKey.get(), "localhost", 2, caCertificate.get(), caKey.get(), server)
            : nullptr;
    if (!caCertificate || !otherCertificate || !serverCertificate) {
        std::array<char, 256> why{};
        ERR_error_string_n(ERR_get_error(), why.data(), why.size());
        error = std::string("cannot make the test certificates: ") + why.data();
        return false;
    }
    if (!writePem(folder / "ca.crt", 0644, owner, caCertificate.get(), nullptr) ||
        !writePem(folder / "other-ca.crt", 0644, owner, otherCertificate.get(), nullptr) ||
        !writePem(folder / "server.crt", 0644, owner, serverCertificate.get(), nullptr) ||
        !writePem(folder / "server.key", 0600, owner, nullptr, serverKey.get())) {
        error = "cannot write the test certificates into " + folder.string();
        return false;
    }
    return true;
}

} // namespace

PostgresServer::PostgresServer(bool durable, Tls tls)
{
    bin_ = serverBinaries();
    installed_ = !bin_.empty();
    if (!installed_) {
        error_ = "PostgreSQL server (initdb) not installed";
        return;
    }
    running_ = start(durable, tls);
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

bool PostgresServer::start(bool durable, Tls tls)
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
    std::string tlsOptions;
    if (tls == Tls::On) {
        if (!writeTlsFiles(folder_, error_)) {
            return false;
        }
        caCertificate_ = folder_ / "ca.crt";
        otherCaCertificate_ = folder_ / "other-ca.crt";
        // Rewriting initdb's file keeps its owner; the Unix socket stays open for the tests' own SQL.
        std::ofstream hba(fs::path(data) / "pg_hba.conf", std::ios::trunc);
        hba << "local   all all              trust\n"
               "hostssl all all 127.0.0.0/8  trust\n";
        if (!hba.flush()) {
            error_ = "cannot write pg_hba.conf";
            return false;
        }
        tlsOptions = " -c ssl=on -c ssl_cert_file=" + (folder_ / "server.crt").string() +
                     " -c ssl_key_file=" + (folder_ / "server.key").string();
    }
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = freeLoopbackPort();
        std::string options = std::string("-c listen_addresses=") +
                              (tls == Tls::On ? "127.0.0.1,127.0.0.2" : "127.0.0.1") +
                              " -c port=" + std::to_string(port_) + " -c unix_socket_directories=" + folder_.string() +
                              " -c max_connections=60" + tlsOptions;
        if (!durable) {
            options += " -c fsync=off -c full_page_writes=off";
        }
        if (runAsServerUser({(bin_ / "pg_ctl").string(), "start", "-D", data, "-l", (folder_ / "server.log").string(),
                             "-w", "-t", "60", "-o", options}) == 0) {
            options_ = options;
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

bool PostgresServer::startAgain()
{
    running_ = runAsServerUser({(bin_ / "pg_ctl").string(), "start", "-D", (folder_ / "data").string(), "-l",
                                (folder_ / "server.log").string(), "-w", "-t", "60", "-o", options_}) == 0;
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

std::string PostgresServer::tlsLocation(const std::string& database, const std::string& host,
                                        const std::string& sslmode, const fs::path& rootCertificate) const
{
    std::string location = "host=" + host + " port=" + std::to_string(port_) + " user=" + role_ +
                           " dbname=" + database + " sslmode=" + sslmode;
    if (!rootCertificate.empty()) {
        location += " sslrootcert=" + rootCertificate.string();
    }
    return location;
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
