#pragma once
// A database of the test's own on the tests' PostgreSQL server, reached through a relay that can
// stop carrying data (a database that goes away while the window works), for the window tests of
// a station whose shared ledger is away.

#include "tests/support/postgres_server.h"
#include "tests/support/stalling_relay.h"

#include <QString>

#include <memory>
#include <string>

namespace orv::testing {

struct RelayedDatabase
{
    test::PostgresServer* server = nullptr;
    std::string name;
    std::unique_ptr<test::StallingRelay> relay;

    enum class Start { Ready, NoServer, Failed };
    // Starts the shared server if need be and makes the database; `why` says what went wrong.
    Start start(QString& why)
    {
        server = &test::PostgresServer::shared();
        if (!server->installed()) {
            why = QStringLiteral("no PostgreSQL server to start: ") + QString::fromStdString(server->error());
            return Start::NoServer;
        }
        if (!server->running()) {
            why = QString::fromStdString(server->error());
            return Start::Failed;
        }
        std::string error;
        name = server->createDatabase(error);
        if (name.empty()) {
            why = QString::fromStdString(error);
            return Start::Failed;
        }
        relay = std::make_unique<test::StallingRelay>(server->port());
        return Start::Ready;
    }

    std::string locationThroughRelay(int connectSeconds) const
    {
        return "host=127.0.0.1 port=" + std::to_string(relay->port()) + " user=" + server->role() + " dbname=" +
               name + " connect_timeout=" + std::to_string(connectSeconds);
    }
};

} // namespace orv::testing
