#pragma once
// In a GoogleTest test: `database` names a new database of `server`, started if it was not; the
// test is skipped where no PostgreSQL server is installed, and fails where one does not start.

#include "tests/support/postgres_server.h"

#include <gtest/gtest.h>

#include <string>

#define START_POSTGRES(server, database)                                                                               \
    if (!(server).installed()) {                                                                                       \
        GTEST_SKIP() << "no PostgreSQL server to start: " << (server).error();                                         \
    }                                                                                                                  \
    ASSERT_TRUE((server).running()) << (server).error();                                                               \
    std::string database##Error;                                                                                       \
    const std::string database = (server).createDatabase(database##Error);                                             \
    ASSERT_FALSE(database.empty()) << database##Error
