#pragma once
// A thread's way to stop waiting for a shared database at once. While a WaitStopScope lives on a
// thread, that thread's waits for a database (connecting, an answer) end within a tenth of a
// second of its token being asked to stop, given up as when the database does not answer: what
// closes a window at once (a forwarder, the search tool's ledger thread) never waits the
// database's whole time.

#include <stop_token>

namespace orv::ledger {

class WaitStopScope
{
public:
    explicit WaitStopScope(std::stop_token token);
    ~WaitStopScope(); // the scope before it holds again
    WaitStopScope(const WaitStopScope&) = delete;
    WaitStopScope& operator=(const WaitStopScope&) = delete;

    // Whether the calling thread's current scope was asked to stop.
    static bool stopRequested();

private:
    std::stop_token token_;
    const std::stop_token* previous_;
};

} // namespace orv::ledger
