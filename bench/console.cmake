# The real program's start-up time and memory beside two floors (a bare dialog, the same controls in
# plain Qt code), and the log box at 100 000 lines.
if(TARGET orv_console AND TARGET orvcamera)
    # The floors: the same program shape with nothing of ours linked in.
    add_executable(bare_dialog_probe console_start_probe.cpp)
    target_link_libraries(bare_dialog_probe PRIVATE Qt6::Widgets orv_flags)

    add_executable(console_bench console_bench.cpp)
    target_link_libraries(console_bench PRIVATE orv_console benchmark::benchmark orv_flags)
    add_dependencies(console_bench orvcamera bare_dialog_probe)

    # Login and the six Gets through the dialog, beside the same loopback round trips.
    add_executable(console_actions_bench console_actions_bench.cpp)
    target_link_libraries(console_actions_bench PRIVATE orv_console orv_camsim benchmark::benchmark orv_flags)
endif()
