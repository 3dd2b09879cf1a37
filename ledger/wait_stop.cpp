#include "ledger/wait_stop.h"

#include <utility>

namespace orv::ledger {
namespace {

thread_local std::stop_token current;

} // namespace

WaitStopScope::WaitStopScope(std::stop_token token)
    : previous_(std::exchange(current, std::move(token)))
{
}

WaitStopScope::~WaitStopScope()
{
    current = std::move(previous_);
}

bool WaitStopScope::stopRequested()
{
    return current.stop_requested();
}

} // namespace orv::ledger
