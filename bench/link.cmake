add_executable(link_bench link_bench.cpp)
target_link_libraries(link_bench PRIVATE orv_link orv_camsim benchmark::benchmark orv_flags)
