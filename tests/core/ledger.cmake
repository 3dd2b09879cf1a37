# The ledger on both backends. The PostgreSQL cases share one real server per test program
# (tests/support/postgres_server), so the program runs as one test: a server per case would spend
# most of the suite's time in initdb.
if(NOT TARGET orv_ledger)
    return()
endif()

add_executable(ledger_append_tool ${CMAKE_CURRENT_LIST_DIR}/ledger/ledger_append_tool.cpp)
target_link_libraries(ledger_append_tool PRIVATE orv_ledger orv_flags)
add_executable(spool_forward_tool ${CMAKE_CURRENT_LIST_DIR}/ledger/spool_forward_tool.cpp)
target_link_libraries(spool_forward_tool PRIVATE orv_ledger orv_flags)

# On Windows the test server is one that reports itself out of reach: those cases skip.
if(WIN32)
    set(orv_postgres_server ${PROJECT_SOURCE_DIR}/tests/support/postgres_server_win.cpp)
else()
    set(orv_postgres_server ${PROJECT_SOURCE_DIR}/tests/support/postgres_server.cpp)
endif()
# Compiled once for every program that starts a test server (ledger_tests, cli_tests, ledger_bench).
add_library(orv_test_postgres STATIC ${orv_postgres_server})
target_link_libraries(orv_test_postgres PUBLIC orv_ledger PRIVATE orv_flags)
if(WIN32)
    target_link_libraries(orv_test_postgres PUBLIC ws2_32)
endif()
add_executable(ledger_tests
    ${CMAKE_CURRENT_LIST_DIR}/ledger/assignments_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ledger/chain_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ledger/concurrency_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ledger/evidence_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ledger/form_and_export_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ledger/independent_witness_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ledger/ledger_time_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ledger/opening_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ledger/schema_upgrade_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ledger/spool_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ledger/station_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ledger/witness_file_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ledger/tls_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ledger/tlog_formats_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ledger/tlog_merkle_test.cpp
)
target_link_libraries(ledger_tests PRIVATE orv_test_postgres orv_ledger GTest::gtest_main GTest::gmock orv_flags)
if(WIN32)
    target_link_libraries(ledger_tests PRIVATE ws2_32)
else()
    # Runs psql as a station would; the server is never there on Windows. A server that stops
    # answering, behind a relay of POSIX sockets.
    target_sources(ledger_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ledger/privileges_test.cpp
                                        ${CMAKE_CURRENT_LIST_DIR}/ledger/unanswered_test.cpp
                                        ${CMAKE_CURRENT_LIST_DIR}/ledger/spool_kill_test.cpp)
endif()
target_compile_definitions(ledger_tests PRIVATE ORV_LEDGER_APPEND_TOOL="$<TARGET_FILE:ledger_append_tool>"
                                                 ORV_SPOOL_FORWARD_TOOL="$<TARGET_FILE:spool_forward_tool>"
                                                 ORV_MERKLE_VECTORS="${PROJECT_SOURCE_DIR}/tests/data/merkle_vectors")
add_dependencies(ledger_tests ledger_append_tool spool_forward_tool)
add_test(NAME ledger_tests COMMAND ledger_tests)
set_tests_properties(ledger_tests PROPERTIES TIMEOUT 600)
