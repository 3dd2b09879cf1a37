orv_add_gtest(persist_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/persist/ini_file_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/persist/atomic_file_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/persist/private_folder_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/persist/settings_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/persist/language_file_test.cpp
    LIBS orv_persist
)
target_compile_definitions(persist_tests PRIVATE ORV_RES_DIR="${PROJECT_SOURCE_DIR}/res")

# The settings file against the system's own private-profile functions (under Wine in the cross build).
if(WIN32)
    orv_add_gtest(persist_system_profile_tests
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/persist/system_profile_test.cpp
        LIBS orv_persist
    )
endif()
