orv_add_gtest(fleet_tests
    SOURCES
        fleet/interfaces_test.cpp
        fleet/binding_and_probe_test.cpp
        fleet/roster_test.cpp
        fleet/worker_pool_test.cpp
    LIBS orv_fleet orv_camsim)
