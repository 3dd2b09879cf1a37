orv_add_gtest(link_tests
    SOURCES
        link/frame_and_exchange_test.cpp
        link/commands_test.cpp
        link/link_text_test.cpp
        link/platform_test.cpp
    LIBS orv_link orv_camsim)
