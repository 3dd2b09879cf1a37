#pragma once
// The ledger: every outcome of work on a camera as one event, numbered without gaps in the order
// recorded and chained by SHA-256, so that an edited, deleted, inserted or reordered event is
// found. Two places keep it behind one interface: a SQLite file (one computer) and a PostgreSQL
// database (several stations). Standard C++ only; texts are UTF-8 throughout.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv::ledger {

// The chain's start: the "previous hash" of event 1.
inline constexpr std::string_view kGenesisHash = "0000000000000000000000000000000000000000000000000000000000000000";

// The schema this program writes: 2 adds the ledger's origin and its signed checkpoints, 3 the
// fields of an event that came through a station's spool. An older ledger is upgraded when opened;
// one with a higher version is refused, never altered.
inline constexpr int kSchemaVersion = 3;

struct Event
{
    // Given by append(): 1, 2, 3, ... in the order the events were recorded.
    std::int64_t number = 0;

    std::string timeUtc;       // "2026-03-05T06:07:09.123Z"
    int utcOffsetMinutes = 0;  // the computer's local offset then: +480 in China
    std::string station;       // the computer's name
    std::string operatorName;  // the account logged into the computer
    std::string tool;          // "orvctl", "SearchTool", "OrvCamera"
    std::string toolVersion;   // "1.0.0.2"
    std::string kind;          // "provision", "check", "apply", "set", "passwd", "timesync", ...
    std::string deviceId;      // empty when the camera was never identified
    std::string where;         // "usb0 192.168.2.158", "127.0.0.5"
    std::string officerBefore; // as read from the camera before anything was sent; empty: not read
    std::string officerAfter;  // as read back afterwards (or as sent when not read back); empty: not known
    std::string unitBefore;
    std::string unitAfter;
    std::string setupName;                          // the setup file's name (no folder); empty when none
    std::string setupSha256;                        // hex, lower case, of the setup file's bytes
    std::string groups;                             // groups written, "platform, wifi, device"
    std::string result;                             // "ok", "failed: ...", "differs", "check: ok", ...
    std::string differences;                        // "wifi.ssid, device.policeId"
    std::optional<std::int64_t> clockOffsetSeconds; // the camera's clock minus the computer's

    // An event a station kept in its spool before a shared ledger took it: all three, or none
    // (an event appended where it was recorded). timeUtc stays the time it was recorded.
    std::string eventId;                          // "<spool id>:<sequence>", never in two ledgers' rows
    std::optional<std::int64_t> stationSequence;  // the spool's own numbering: 1, 2, 3, ...
    std::string arrivedUtc;                       // when the shared ledger took it, by the server's clock

    // Given by append().
    std::string previousHash; // hex; kGenesisHash for event 1
    std::string hash;         // hex: SHA-256 of previousHash and canonicalForm(*this)

    // Set when reading: why this row is no event (a value of the wrong type, text where a number
    // belongs). Such an event keeps its number; it is never hashed, shown or exported as if whole.
    std::string unreadable;
};

// The event's content in the one form the hash covers: every field above except the two hashes,
// number included, each field named and length-prefixed so that no two events share a form.
// Version 1 for an event without a spool's fields (so every older event hashes as it did), 2 with.
std::string canonicalForm(const Event& event);
// The event a canonical form holds (its two hashes empty), read strictly: the header, every field
// in order with its exact length, numbers in plain decimal, nothing after the last field, so that
// canonicalForm(*parseCanonicalForm(form)) == form. Nullopt with `error` naming what is wrong.
std::optional<Event> parseCanonicalForm(std::string_view form, std::string& error);
// SHA-256 (hex, lower case) of `previousHash` followed by canonicalForm(event).
std::string eventHash(std::string_view previousHash, const Event& event);
// SHA-256 (hex, lower case) of any bytes: setup files.
std::string sha256Hex(std::string_view bytes);

struct ChainHead
{
    std::int64_t number = 0; // 0: no event yet
    std::string hash{kGenesisHash};
};

// Which events to read. Empty fields do not filter. Times are compared with timeUtc.
struct EventFilter
{
    std::string deviceId;
    std::string officerId; // events whose officerBefore or officerAfter is this officer
    std::string sinceUtc;  // timeUtc >= sinceUtc
    std::string untilUtc;  // timeUtc <= untilUtc
    std::int64_t afterNumber = 0;   // number > afterNumber
    std::int64_t throughNumber = 0; // number <= throughNumber, when above 0
};

// A signed checkpoint as the ledger keeps it: the signed note's text (a station's signature, or a
// witness's cosignature added later as a row of its own).
struct StoredCheckpoint
{
    std::int64_t id = 0;   // the order rows were added in
    std::int64_t size = 0; // the tree size the note states, as the row files it
    std::string note;
    std::string recordedUtc;
};

// Everything the ledger holds, as of one moment.
struct LedgerSnapshot
{
    std::string origin;
    std::vector<Event> events; // in number order
    std::optional<ChainHead> head; // none in an export that carries no head
    std::vector<StoredCheckpoint> checkpoints;
};

class Ledger
{
public:
    virtual ~Ledger() = default;

    // Where the ledger is, for messages: a file path, or "PostgreSQL database D on H:P as U".
    // Never a password.
    virtual std::string location() const = 0;

    // Numbers and chains `event` (fills number, previousHash, hash) and makes it durable before
    // returning true. Safe from many threads and many processes (stations) at once: appends are
    // serialised, so numbering stays gap-free and the chain linear. False with error() set.
    virtual bool append(Event& event) = 0;

    // Events matching `filter`, in number order. False with error() set.
    virtual bool readEvents(const EventFilter& filter, std::vector<Event>& events) = 0;

    // The last event's number and hash as the database's chain head records them.
    virtual std::optional<ChainHead> head() = 0;

    // Events, head and checkpoints as of one moment (one read transaction), so that an append by
    // another station between the reads is not mistaken for a broken chain. False with error() set.
    virtual bool readSnapshot(LedgerSnapshot& snapshot) = 0;

    // The ledger's origin: the name its checkpoints carry, made when it was created and never
    // reused ("orvcamera.ledger/2026-12-10/3f9c..."). Read when it was opened.
    virtual const std::string& origin() const = 0;
    // Where the ledger is, the same however it was reached: an absolute file path, or
    // "postgresql://HOST:PORT/DATABASE". What a station remembers the ledger's origin by.
    virtual std::string place() const = 0;

    // The hash of event `number`, or nullopt in `hash` when there is no such event: one row read.
    // False with error() set when the ledger cannot be read.
    virtual bool hashAt(std::int64_t number, std::optional<std::string>& hash) = 0;

    // Adds a signed checkpoint (a note whose checkpoint is of `size` events). Durable when true.
    virtual bool addCheckpoint(std::int64_t size, const std::string& note) = 0;
    // The checkpoints of at least `minSize` events, in the order added. False with error() set.
    virtual bool readCheckpoints(std::int64_t minSize, std::vector<StoredCheckpoint>& checkpoints) = 0;

    // Why the calling thread's last call on this ledger failed.
    virtual std::string error() const = 0;

    // Whether the disk that keeps this ledger's new events (its file, or the station's spool) has
    // room for the outcomes of the cameras to come (ledger/disk_room.h). False with `why`, which
    // names the file: no camera is to be started then. A server's ledger keeps none on this disk.
    virtual bool hasRoomForOutcomes(std::string& why) const
    {
        (void)why;
        return true;
    }
};

// Whether a --ledger location names a PostgreSQL database (a "postgresql://" or "postgres://"
// URI, or libpq's key=value words) rather than a SQLite file.
bool isPostgresLocation(std::string_view location);

// Why `location` may be neither used nor kept anywhere: it carries a password (any of libpq's
// password words, in key=value words or a URI), or it is a PostgreSQL location libpq cannot read,
// which cannot be told to carry none. Empty for a file path and any other location.
std::string locationSecretProblem(const std::string& location);

// Opens (creating or upgrading the schema as needed) the ledger at `location`: a SQLite file
// path, or a PostgreSQL connection string. A location that carries a password is refused:
// passwords come from libpq's own means (password file, environment). Null with `error` set
// (where and why) otherwise; a corrupt file or a database of a newer schema is refused, never
// altered.
std::unique_ptr<Ledger> openLedger(const std::string& location, std::string& error);

// The embedded default: "orv_ledger.db" in the user's data folder ($XDG_DATA_HOME/OrvCamera or
// ~/.local/share/OrvCamera; %LOCALAPPDATA%\OrvCamera on Windows).
std::filesystem::path defaultLedgerFile();
// Makes `folder` ready for the ledger's and the station's files: the default file's folder is
// OrvCamera's own, its owner's only as every file in it; any other is created as it is, with the
// permissions of the place the operator chose. False when it cannot be had, `why` the system's
// reason where it gave one.
bool prepareLedgerFolder(const std::filesystem::path& folder, std::string& why);
// `location` as openLedger takes it: an empty one is the default file, as UTF-8.
std::string locationOrDefault(const std::string& location);

// A problem in words on one line (a database's messages may run over several): control
// characters and runs of spaces become one space, none at either end.
std::string oneLine(std::string_view text);

// ---- what is derived from the events (the same for both backends) ----

struct VerifyReport
{
    bool intact = true;
    std::int64_t eventsChecked = 0;
    std::int64_t firstBroken = 0; // the number of the first event that breaks the chain (0: none)
    std::string problem;          // what is wrong there, in words
    ChainHead head;               // the last good head
};
// Checks numbering (1..n without gaps), every link and every hash, and that the chain head the
// database keeps is the last event's.
VerifyReport verifyChain(Ledger& ledger);
VerifyReport verifyChain(const LedgerSnapshot& snapshot);

// One interval in which a camera held an officer: from the event that first showed it until the
// event that showed another (empty untilUtc: still).
struct Assignment
{
    std::string deviceId;
    std::string officerId;
    std::string unit;
    std::string fromUtc;
    std::string untilUtc;
    std::int64_t fromEvent = 0;
    std::int64_t untilEvent = 0; // 0: still
};
// The assignment intervals in `events` (any order), per camera in time order.
std::vector<Assignment> assignmentHistory(const std::vector<Event>& events);
// The officer `deviceId` held at `timeUtc`, if the events say.
std::optional<Assignment> whoHadCamera(const std::vector<Event>& events, const std::string& deviceId,
                                       const std::string& timeUtc);

// Each camera as the ledger knows it now: its officer, and its last event.
struct CameraSummary
{
    std::string deviceId;
    std::string officerNow;
    std::string unitNow;
    Event last;
};
std::vector<CameraSummary> cameraSummaries(const std::vector<Event>& events);

// The events as CSV for people (UTF-8 with BOM, CRLF, a header row), written atomically. A cell
// that starts like a spreadsheet formula is written after an apostrophe, so the CSV is safe to open
// but not exact: the JSON Lines export (ledger_export.h) is the one to recompute hashes from.
bool exportCsv(const std::vector<Event>& events, const std::filesystem::path& file, std::string& error);

// ---- the context every event carries ----

// This computer's name and the logged-in account.
std::string stationName();
std::string operatorName();
// Now in UTC as timeUtc carries it, and the computer's local offset in minutes.
std::string utcNow();
int localOffsetMinutes();
// What a date alone stands for: its first moment, or its last millisecond (an upper bound that
// takes the whole day in, as timeUtc values compare).
enum class DateOnly : std::uint8_t { StartOfDay, EndOfDay };
// "2026-03-05 14:07" or "2026-03-05 14:07:09" or "2026-03-05" in local time, or an ISO time with
// Z or an offset, as a timeUtc; nullopt for anything else.
std::optional<std::string> parseUserTime(std::string_view text, DateOnly dateOnly = DateOnly::StartOfDay);
// A timeUtc as people read it: "2026-03-05 14:07:09" in this computer's local time (orvctl's
// output, the search tool's history window); the text as it is when it is no such time.
std::string localTimeText(std::string_view timeUtc);
// A timeUtc (to the second) as a point in time; nullopt when it is no such time.
std::optional<std::chrono::sys_seconds> utcTimePoint(std::string_view timeUtc);
// "UTC+08:00": an offset east of UTC in minutes, as reports and proofs show a station's zone.
std::string utcOffsetText(int minutes);

} // namespace orv::ledger
