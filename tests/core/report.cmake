# The custody report, read back with poppler-utils as a reader would.
if(NOT TARGET orv_report OR NOT TARGET orv_cli OR NOT UNIX)
    return()
endif()

orv_add_gtest(report_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/report/custody_report_test.cpp
    LIBS orv_cli orv_report orv_camsim orv_test_postgres
)
