#pragma once
// Many cameras looked at together: the same job for every index on a few threads at once.

#include <cstddef>
#include <functional>

namespace orv::fleet {

// Runs `job(0)` .. `job(count - 1)` on up to `parallel` threads of a pool that ends with the call
// (fewer when no more can be had, this one when none can: the same results, only slower).
// Returns when every job has.
void forEachInParallel(std::size_t count, std::size_t parallel, const std::function<void(std::size_t)>& job);

} // namespace orv::fleet
