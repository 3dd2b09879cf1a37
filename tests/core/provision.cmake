# The shared provisioning core: the runner and the watch on simulated cameras, the fleet inventory.
if(NOT TARGET orv_provision)
    return()
endif()

orv_add_gtest(provision_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/provision/fleet_runner_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/provision/camera_watch_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/provision/inventory_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/provision/ledger_events_test.cpp
    LIBS orv_provision orv_camsim
)

# The same with real interfaces: cameras in network namespaces of their own. Needs root and ip;
# it says so and is skipped elsewhere. CI runs as root.
if(UNIX AND NOT CMAKE_CROSSCOMPILING)
    add_test(NAME fleet_netns COMMAND ${PROJECT_SOURCE_DIR}/tests/netns/fleet_netns_test.sh $<TARGET_FILE_DIR:orvctl>)
    set_tests_properties(fleet_netns PROPERTIES SKIP_RETURN_CODE 77 LABELS netns TIMEOUT 120 RUN_SERIAL ON)
    # orvctl killed (SIGKILL) at random moments of provision --all, ten times here; the full
    # fifty in scripts/power-cut-bench.sh.
    add_test(NAME power_cut COMMAND ${PROJECT_SOURCE_DIR}/tests/faults/power_cut_test.sh $<TARGET_FILE_DIR:orvctl> 10)
    set_tests_properties(power_cut PROPERTIES LABELS faults TIMEOUT 300)
    # A small tmpfs of its own filled while orvctl writes each of its files (root: skipped elsewhere).
    add_test(NAME disk_full COMMAND ${PROJECT_SOURCE_DIR}/tests/faults/disk_full_test.sh $<TARGET_FILE_DIR:orvctl>)
    set_tests_properties(disk_full PROPERTIES SKIP_RETURN_CODE 77 LABELS faults TIMEOUT 300)
    # orvctl and the search tool run with umask 022 in a HOME of their own; no file they wrote that
    # holds a secret or a key may be readable by others.
    if(TARGET SearchTool AND TARGET orv-camsim)
        add_test(NAME secrets_walk COMMAND ${PROJECT_SOURCE_DIR}/tests/faults/secrets_walk_test.sh
            $<TARGET_FILE_DIR:orvctl>)
        set_tests_properties(secrets_walk PROPERTIES LABELS faults TIMEOUT 180)
    endif()
    add_test(NAME ledger_netns COMMAND ${PROJECT_SOURCE_DIR}/tests/netns/ledger_netns_test.sh $<TARGET_FILE_DIR:orvctl>)
    set_tests_properties(ledger_netns PROPERTIES SKIP_RETURN_CODE 77 LABELS netns TIMEOUT 120 RUN_SERIAL ON)
endif()
