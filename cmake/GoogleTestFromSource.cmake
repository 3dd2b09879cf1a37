# GoogleTest for a cross build: Debian's GoogleTest libraries are built for Linux, so the tests of a
# Windows build compile GoogleTest from Debian's source package instead. It provides the same
# GTest::gtest_main and GTest::gmock targets as find_package(GTest).
set(ORV_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${ORV_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${ORV_GOOGLETEST_SOURCE_DIR}: install Debian's googletest "
                        "package (scripts/setup.sh --windows) or set ORV_GOOGLETEST_SOURCE_DIR")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${ORV_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
