# The search tool's window while 32 cameras are identified and set up: how long its thread stands still.
if(NOT TARGET orv_searchtool)
    return()
endif()
add_executable(search_tool_stall_bench search_tool_stall_bench.cpp)
target_link_libraries(search_tool_stall_bench PRIVATE orv_searchtool orv_camsim benchmark::benchmark orv_flags)
