# The custody report of one camera over 1 000 events, made end to end, and its phases.
if(NOT TARGET orv_report)
    return()
endif()
add_executable(report_bench report_bench.cpp)
target_link_libraries(report_bench PRIVATE orv_report benchmark::benchmark orv_flags)
