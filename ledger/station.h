#pragma once
// A station: one computer's account that records to a ledger, with a key of its own and a witness
// file that keeps what it has seen of every ledger. Before anything is written to a camera the
// station checks that the ledger still holds what it saw; after it appended, it signs a checkpoint
// of the whole ledger, keeps it in its witness file and then publishes it in the ledger. Whoever
// administers the database can rewrite its tables, but not the stations' keys and witness files:
// a rewritten, rolled-back or swapped ledger no longer matches them.

#include "ledger/checkpoint.h"
#include "ledger/ledger.h"
#include "ledger/signed_note.h"
#include "ledger/witness_file.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace orv::ledger {

inline constexpr std::string_view kStationKeyFileName = "orv_station.key";
inline constexpr std::string_view kWitnessKeyFileName = "orv_witness.key";
inline constexpr std::string_view kWitnessFileName = "orv_witness.txt";

// The machine's settings for stations, which IT writes for an install (MSI or Debian package):
// "orv_station.ini" in /etc/orvcamera (%ProgramData%\OrvCamera on Windows), or the file
// ORV_MACHINE_SETTINGS names. Section [Ledger]: StationFolder, TrustedKeys.
std::filesystem::path machineSettingsFile();

// Where a station keeps its key, its witness file and what proves a fork: the folder
// ORV_STATION_FOLDER names, else the machine settings' StationFolder, else the default ledger's
// folder in the user's data folder (owner-only).
std::filesystem::path defaultStationFolder();

// "station/HOST/ACCOUNT" and "witness/HOST/ACCOUNT", within the note rules (spaces and '+' become
// '_'): which computer and account a signature came from.
std::string stationKeyName();
std::string witnessKeyName();

// The key in `file`, made (0600, with its folder when missing) on first use. Nullopt with `error`
// when it cannot be read, is not a key of `type`, or cannot be made.
std::optional<SignerKey> loadOrCreateKey(const std::filesystem::path& file, const std::string& name, KeyType type,
                                         std::string& error);

// A key file's text as SignerKey::parse takes it: without its line end.
std::string keyText(std::string text);

// The keys of a file of verifier keys; nullopt with `error` naming the file as `what` ("the
// trusted keys file F does not exist", "... cannot be read", "... does not parse: line 3: ...").
std::optional<KeyRing> readKeyRingFile(const std::filesystem::path& file, std::string_view what, std::string& error);

// How long a station works on while its shared ledger does not take its events (counted from
// the first time it did not): the machine settings' [Ledger] OfflineHours, 12 when not set; 0 is
// never (nothing is sent while the shared ledger is away).
inline constexpr std::chrono::minutes kDefaultOfflineLimit{12 * 60};

struct StationSetup
{
    std::filesystem::path folder;      // empty: defaultStationFolder()
    std::filesystem::path trustedKeys; // a file of verifier keys IT hands out; empty: the station's own only
    std::chrono::minutes offlineLimit{kDefaultOfflineLimit};
};

// The keys this account trusts, with nothing made: the setup's trusted keys file (if it names one)
// and the station's own key when it has one already. Nullopt with `error` when the file is unusable.
std::optional<KeyRing> trustedKeysOf(const StationSetup& setup, std::string& error);

class Station
{
public:
    // Loads (or makes) the key, reads the trusted keys and the witness file. Null with `error`
    // ("the trusted keys file F: line 3: ...", "the station key F: ...") otherwise: nothing may be
    // sent then.
    static std::shared_ptr<Station> open(const StationSetup& setup, std::string& error);

    const SignerKey& key() const { return *key_; }
    // The trusted keys file's and the station's own.
    const KeyRing& trusted() const { return trusted_; }
    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path witnessPath() const;
    // A copy of the witness file as it stands.
    WitnessFile witness() const;

    struct Guard
    {
        enum class Outcome : std::uint8_t {
            Ok,
            Forked, // the ledger's history changed (or the ledger was replaced): `evidence` keeps the proof
            Failed, // the ledger or the witness file could not be read or written
        } outcome = Outcome::Ok;
        std::string message;            // one line, for the operator
        std::filesystem::path evidence; // Forked
        std::int64_t seenAt = 0;        // Forked: the event number the station last saw
        bool ok() const { return outcome == Outcome::Ok; }
    };
    // Before a run or a write: the witness file can be written, the ledger at its place has the
    // origin this station saw there, and the station's newest tree of that origin is still the
    // ledger's prefix (the chain hash of that event, one row).
    Guard checkBeforeWriting(Ledger& ledger);

    struct Signed
    {
        bool ok = false;
        std::string message;   // why not, when not ok
        std::int64_t size = 0; // the checkpoint's tree size
        bool made = false;     // a new checkpoint was signed (false: the newest was already)
        std::string note;      // the signed note
    };
    // Signs a checkpoint of the whole ledger: extends the station's last tree of this origin with
    // the events after it (their links and hashes checked), refuses when a checkpoint signed by a
    // trusted key disagrees with those events, keeps the checkpoint in the witness file and then
    // adds it to the ledger. A checkpoint kept but not published before is published again.
    Signed signCheckpoint(Ledger& ledger);

private:
    Station() = default;

    // Writes what proves a fork beside the witness file; its path, or empty.
    std::filesystem::path keepEvidence(const std::string& heading, const std::string& body);

    std::filesystem::path folder_;
    std::optional<SignerKey> key_; // always set once open() returned
    KeyRing trusted_;
    mutable std::mutex mutex_; // one thread at a time writes the witness file
    std::optional<WitnessFile> witness_;
};

} // namespace orv::ledger

namespace orv::ledger {

// The trusted keys file this station was last told of (`--trusted FILE` of orvctl or the search
// tool), kept in "orv_station.ini" in the station's folder so that every tool of the account uses
// it; empty when none.
inline constexpr std::string_view kStationSettingsFileName = "orv_station.ini";
std::filesystem::path rememberedTrustedKeys(const std::filesystem::path& folder);
bool rememberTrustedKeys(const std::filesystem::path& folder, const std::filesystem::path& file);

// The station as a tool starts it: the default folder, and `trustedKeys` when given (then
// remembered), else the file remembered for this account, else the machine settings' TrustedKeys.
StationSetup stationSetup(const std::filesystem::path& trustedKeys = {});

// A ledger ready to be recorded to: opened and answering, its station open and satisfied that the
// ledger still holds what it saw. What every tool has in hand before anything is sent.
struct Recording
{
    std::shared_ptr<Ledger> ledger;
    std::shared_ptr<Station> station;
    ChainHead head;      // the shared ledger's when it is away: the last one this station saw
    std::string offline; // the shared ledger is away and events wait in the spool: since when and why
    std::string notice;  // what the station had to say that stops nothing (a checkpoint not signed)
};

struct RecordingStart
{
    enum class Refusal : std::uint8_t {
        None,
        Unreachable, // the ledger cannot be opened or does not answer
        Station,     // the station's key, trusted keys or witness file cannot be used
        Forked,      // the ledger's history changed since this station saw it (or it was replaced)
        NoRoom,      // the disk that keeps the outcomes has too little room (refuseWithoutRoomForOutcomes)
    } refusal = Refusal::None;
    std::optional<Recording> recording;
    std::string message;            // "LOCATION: WHY", one line, never a password
    std::filesystem::path evidence; // Forked: what proves it
    bool ok() const { return recording.has_value(); }
};

// Opens the station (unless given) and the ledger at `location` (unless given; a shared database
// through the station's spool), reads its head and checks the station's witness file against it.
// A spooled ledger first forwards what waits; when its database does not answer (or refuses the
// events) recording goes on offline within `setup.offlineLimit`, refused beyond it.
RecordingStart startRecording(const std::string& location, const StationSetup& setup,
                              std::shared_ptr<Station> station = {}, std::shared_ptr<Ledger> opened = {});
// For a start that is to set cameras: refused as well (Refusal::NoRoom) while the disk that keeps
// their outcomes has no room for them (ledger/disk_room.h). A fleet run asks again before each
// camera (FleetRun).
void refuseWithoutRoomForOutcomes(RecordingStart& start);

struct ForwardOutcome;

// After a run: forwards what the run spooled (a shared ledger), then signs a checkpoint of the
// ledger. While the shared ledger is away nothing is signed and that is no failure (`forwarded`
// says what happened to the events).
Station::Signed sealRecording(Ledger& ledger, Station& station, ForwardOutcome* forwarded = nullptr);

// "12 events wait in the station's spool; the shared ledger is unreachable since 2026-12-10 14:07:09
// (connection timed out)".
std::string offlineText(const struct SpoolStatus& status);

} // namespace orv::ledger
