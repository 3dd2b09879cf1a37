orv_add_gtest(camsim_tests
    SOURCES
        camsim/command_line_test.cpp
        camsim/connections_test.cpp
        camsim/device_id_test.cpp
        camsim/frame_reader_test.cpp
        camsim/misbehaviour_test.cpp
        camsim/sdk_service_test.cpp
        camsim/silent_address_test.cpp
        camsim/simulated_camera_test.cpp
        camsim/state_file_test.cpp
    LIBS orv_camsim)
