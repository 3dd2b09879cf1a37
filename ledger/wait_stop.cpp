#include "ledger/wait_stop.h"

#include <utility>

namespace orv::ledger {
namespace {

// A plain pointer to the token of the scope that lives on this thread: a thread-local of a type
// with a destructor (the token itself) crashes threads as they end in MinGW builds.
thread_local const std::stop_token* current = nullptr;

} // namespace

WaitStopScope::WaitStopScope(std::stop_token token)
    : token_(std::move(token))
    , previous_(std::exchange(current, &token_))
{
}

WaitStopScope::~WaitStopScope()
{
    current = previous_;
}

bool WaitStopScope::stopRequested()
{
    return current != nullptr && current->stop_requested();
}

} // namespace orv::ledger
