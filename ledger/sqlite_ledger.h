#pragma once
// The ledger in a SQLite file: one computer, any number of processes and threads on it.

#include "ledger/ledger.h"
#include "ledger/thread_errors.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

struct sqlite3;

namespace orv::ledger {

class SqliteLedger final : public Ledger
{
public:
    // Opens `file`, creating it and its folders when missing. A file that is not a SQLite
    // database, is damaged, belongs to another program or was written by a newer OrvCamera is
    // refused and left as it is.
    static std::unique_ptr<SqliteLedger> open(const std::filesystem::path& file, std::string& error);
    ~SqliteLedger() override;
    SqliteLedger(const SqliteLedger&) = delete;
    SqliteLedger& operator=(const SqliteLedger&) = delete;

    std::string location() const override { return location_; }
    bool append(Event& event) override;
    bool readEvents(const EventFilter& filter, std::vector<Event>& events) override;
    std::optional<ChainHead> head() override;
    bool readSnapshot(LedgerSnapshot& snapshot) override;
    const std::string& origin() const override { return origin_; }
    std::string place() const override; // the file's absolute path
    bool hashAt(std::int64_t number, std::optional<std::string>& hash) override;
    bool addCheckpoint(std::int64_t size, const std::string& note) override;
    bool readCheckpoints(std::int64_t minSize, std::vector<StoredCheckpoint>& checkpoints) override;
    std::string error() const override { return errors_.get(); }
    bool hasRoomForOutcomes(std::string& why) const override;

private:
    SqliteLedger(sqlite3* db, std::filesystem::path file, std::string location);

    bool fail(const std::string& what);

    sqlite3* db_;
    const std::filesystem::path file_; // absolute
    const std::string location_;
    std::string origin_; // set once by open()
    std::mutex mutex_; // one connection: one call at a time
    detail::ThreadErrors errors_;
};

} // namespace orv::ledger
