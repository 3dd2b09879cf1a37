#pragma once
// A station's spool: the events it recorded for a shared ledger, each durable in a SQLite file of
// the station's own before the camera's outcome is reported, until the shared ledger has taken it.
// Every event gets an id no other event has ("<spool id>:<sequence>") and the spool's sequence
// number, so that the shared ledger takes each once and in the station's order. Several programs
// of one account (orvctl, the search tool, the console) may use one spool at once.

#include "ledger/ledger.h"
#include "ledger/thread_errors.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;

namespace orv::ledger {

struct SpoolStatus
{
    std::int64_t waiting = 0;        // events not yet in the shared ledger
    std::string oldestWaitingUtc;    // the oldest one's time; empty when none waits
    std::string unreachableSinceUtc; // when the shared ledger stopped answering; empty: it answered last
    std::string lastError;           // why, the last time it did not take the events
    bool refused = false;            // the last error is the shared ledger's refusal, not its silence
    std::string lastForwardedUtc;    // when events were last taken
    std::int64_t forwarded = 0;      // events taken since the spool was made
    std::string origin;              // the shared ledger's, once it answered; empty: never reached
};

class Spool
{
public:
    // The spool of the shared ledger at `location` in the station's `folder`: one file per shared
    // ledger ("orv_spool-<16 hex digits>.db"), so that events wait for the ledger they were for.
    static std::filesystem::path fileFor(const std::filesystem::path& folder, const std::string& location);

    // Opens (or makes, owner-only from its creation) the spool file. Null with `error` (its path
    // and why) when it cannot be had, or it is no spool.
    static std::unique_ptr<Spool> open(const std::filesystem::path& file, std::string& error);
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    const std::string& id() const { return id_; }
    const std::filesystem::path& file() const { return file_; }

    // Gives `event` its id and sequence and makes it durable (synchronous=FULL) before returning
    // true. False with error() set: nothing may be sent then.
    bool add(Event& event);
    // Whether the spool's disk has room for the outcomes of the cameras to come
    // (ledger/disk_room.h). False with `why`, which names the spool.
    bool hasRoomForOutcomes(std::string& why) const;
    // Up to `limit` waiting events, oldest first, with their ids and sequences (number 0).
    bool waiting(std::size_t limit, std::vector<Event>& events);
    // The waiting events of one camera, oldest first.
    bool waitingFor(const std::string& deviceId, std::vector<Event>& events);
    // The shared ledger took these (in the spool's order): they wait no more.
    bool markForwarded(const std::vector<Event>& events);

    bool status(SpoolStatus& status);
    // The shared ledger did not take the events: since when (kept from the first failure of an
    // outage) and why.
    bool noteUnreachable(const std::string& why, bool refused);
    // The shared ledger answered and took what waited.
    bool noteReached();
    // The shared ledger's origin these events are for: kept the first time one answers; false
    // with `held` set when the spool is another ledger's (its events are never forwarded here).
    bool claimOrigin(const std::string& origin, std::string& held);

    // Why the calling thread's last call failed.
    std::string error() const { return errors_.get(); }

private:
    Spool(sqlite3* db, std::filesystem::path file);
    bool fail(const std::string& what);
    bool setMeta(const std::string& key, const std::string& value);

    sqlite3* db_;
    std::filesystem::path file_;
    std::string where_; // the file, for messages
    std::string id_;
    std::mutex mutex_;
    detail::ThreadErrors errors_;
};

} // namespace orv::ledger
