# orvctl and the setup document it reads; both need tinyxml2 (see persist/CMakeLists.txt).
if(NOT TARGET orv_cli)
    return()
endif()

orv_add_gtest(setup_document_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/setup/setup_document_test.cpp
    LIBS orv_persist
)

orv_add_gtest(cli_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/cli/cli_parts_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/cli/orvctl_commands_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/cli/orvctl_secrets_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/cli/apply_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/cli/provision_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/cli/orvctl_fleet_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/cli/orvctl_ledger_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/cli/orvctl_evidence_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/cli/orvctl_verify_proof_test.cpp
    LIBS orv_cli orv_camsim
)

# Stations as real orvctl processes, and a real PostgreSQL server (skipped where none is installed).
if(UNIX)
    target_sources(cli_tests PRIVATE
        ${CMAKE_CURRENT_LIST_DIR}/cli/orvctl_stations_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/cli/orvctl_evidence_stations_test.cpp
    )
    target_link_libraries(cli_tests PRIVATE orv_test_postgres)
    target_compile_definitions(cli_tests PRIVATE ORV_ORVCTL_BINARY="$<TARGET_FILE:orvctl>")
    add_dependencies(cli_tests orvctl)
endif()

# The station's spool and witness file and a device-id export on a small disk of the test's own,
# filled to the last byte: root, in a mount namespace; skipped elsewhere.
if(UNIX AND NOT CMAKE_CROSSCOMPILING)
    add_executable(small_disk_station_tests ${CMAKE_CURRENT_LIST_DIR}/cli/small_disk_station_test.cpp)
    target_link_libraries(small_disk_station_tests PRIVATE orv_cli orv_camsim orv_test_postgres
        GTest::gtest_main GTest::gmock orv_flags)
    add_test(NAME small_disk_station COMMAND ${PROJECT_SOURCE_DIR}/tests/faults/small_disk_run.sh
        $<TARGET_FILE:small_disk_station_tests>)
    set_tests_properties(small_disk_station PROPERTIES SKIP_RETURN_CODE 77 LABELS faults TIMEOUT 300)
endif()

# The worked example of docs/LEDGER.md, run as written with the openssl command line.
if(UNIX AND NOT CMAKE_CROSSCOMPILING AND TARGET orv-camsim)
    add_test(NAME ledger_openssl_example COMMAND ${PROJECT_SOURCE_DIR}/tests/ledger/openssl_example.sh
                                                 $<TARGET_FILE_DIR:orvctl>)
    set_tests_properties(ledger_openssl_example PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
endif()
