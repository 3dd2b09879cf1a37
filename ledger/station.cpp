#include "ledger/station.h"

#include "lang/utf.h"
#include "ledger/durable_file.h"
#include "ledger/event_fields.h"
#include "ledger/evidence.h"
#include "ledger/spooled_ledger.h"
#include "persist/atomic_file.h"
#include "persist/ini_file.h"
#include "persist/private_folder.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace orv::ledger {
namespace {

fs::path pathFromText(const std::string& text)
{
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string environmentText(const char* name)
{
#ifdef _WIN32
    std::wstring wide(name, name + std::strlen(name));
    const wchar_t* value = _wgetenv(wide.c_str());
    if (!value) {
        return {};
    }
    return pathUtf8(fs::path(value));
#else
    const char* value = std::getenv(name);
    return value ? value : "";
#endif
}

// The folder ready for the station's files, or why not.
bool prepareFolder(const fs::path& folder, std::string& error)
{
    std::string why;
    if (prepareLedgerFolder(folder, why)) {
        return true;
    }
    error = pathUtf8(folder) + ": cannot be created" + (why.empty() ? std::string() : ": " + why);
    return false;
}

} // namespace

fs::path machineSettingsFile()
{
    const std::string named = environmentText("ORV_MACHINE_SETTINGS");
    if (!named.empty()) {
        return pathFromText(named);
    }
#ifdef _WIN32
    const std::string data = environmentText("ProgramData");
    return pathFromText(data.empty() ? std::string("C:\\ProgramData") : data) / "OrvCamera" /
           std::string(kStationSettingsFileName);
#else
    return fs::path("/etc/orvcamera") / std::string(kStationSettingsFileName);
#endif
}

namespace {

// A path the machine's settings give, empty when they give none.
fs::path machineSetting(std::u16string_view key)
{
    const FileContents contents = readWholeFile(machineSettingsFile());
    if (contents.outcome != ReadOutcome::Read) {
        return {};
    }
    const std::string text = utf::toUtf8(IniFile::fromBytes(contents.bytes).readString(u"Ledger", key, u"", 4096));
    return text.empty() ? fs::path() : pathFromText(text);
}

} // namespace

fs::path defaultStationFolder()
{
    const std::string named = environmentText("ORV_STATION_FOLDER");
    if (!named.empty()) {
        return pathFromText(named);
    }
    if (fs::path machine = machineSetting(u"StationFolder"); !machine.empty()) {
        return machine;
    }
    return defaultLedgerFile().parent_path();
}

std::string stationKeyName()
{
    return "station/" + keyNameFrom(stationName()) + "/" + keyNameFrom(operatorName());
}

std::string witnessKeyName()
{
    return "witness/" + keyNameFrom(stationName()) + "/" + keyNameFrom(operatorName());
}

std::optional<SignerKey> loadOrCreateKey(const fs::path& file, const std::string& name, KeyType type,
                                         std::string& error)
{
    const std::string where = "the key " + pathUtf8(file);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const FileContents contents = readWholeFile(file);
        if (contents.outcome == ReadOutcome::Read) {
            std::string why;
            std::optional<SignerKey> key = SignerKey::parse(keyText(contents.bytes), why);
            if (!key) {
                error = where + " cannot be used: " + why;
                return std::nullopt;
            }
            if (key->type() != type) {
                error = where + " is not a key of the kind this needs";
                return std::nullopt;
            }
            restrictToOwner(file);
            return key;
        }
        if (contents.outcome == ReadOutcome::Failed) {
            error = where + " cannot be read";
            return std::nullopt;
        }
        if (!prepareFolder(file.parent_path(), error)) {
            error = where + ": its folder " + error;
            return std::nullopt;
        }
        std::optional<SignerKey> made = SignerKey::generate(name, type, error);
        if (!made) {
            error = where + " cannot be made: " + error;
            return std::nullopt;
        }
        bool existed = false;
        if (!detail::createFileOnce(file, made->text() + "\n", existed)) {
            error = where + " cannot be written: " + std::strerror(errno);
            return std::nullopt;
        }
        if (!existed) {
            return made;
        }
        // Another process made it a moment ago: use that one.
    }
    error = where + " cannot be read";
    return std::nullopt;
}

std::string keyText(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

std::optional<KeyRing> readKeyRingFile(const fs::path& file, std::string_view what, std::string& error)
{
    const std::string named = std::string(what) + " " + pathUtf8(file);
    const FileContents contents = readWholeFile(file);
    if (contents.outcome != ReadOutcome::Read) {
        error = named + (contents.outcome == ReadOutcome::Missing ? " does not exist" : " cannot be read");
        return std::nullopt;
    }
    std::string why;
    std::optional<KeyRing> ring = parseKeyRing(contents.bytes, why);
    if (!ring) {
        error = named + " does not parse: " + why;
    }
    return ring;
}

std::optional<KeyRing> trustedKeysOf(const StationSetup& setup, std::string& error)
{
    std::optional<KeyRing> ring = setup.trustedKeys.empty()
                                      ? std::optional<KeyRing>(KeyRing{})
                                      : readKeyRingFile(setup.trustedKeys, "the trusted keys file", error);
    if (!ring) {
        return std::nullopt;
    }
    const fs::path folder = setup.folder.empty() ? defaultStationFolder() : setup.folder;
    const FileContents own = readWholeFile(folder / std::string(kStationKeyFileName));
    std::string why;
    if (own.outcome == ReadOutcome::Read) {
        if (const std::optional<SignerKey> mine = SignerKey::parse(keyText(own.bytes), why)) {
            ring->add(mine->verifier());
        }
    }
    return ring;
}

std::shared_ptr<Station> Station::open(const StationSetup& setup, std::string& error)
{
    std::shared_ptr<Station> station(new Station);
    station->folder_ = setup.folder.empty() ? defaultStationFolder() : setup.folder;
    if (!setup.trustedKeys.empty()) {
        std::optional<KeyRing> ring = readKeyRingFile(setup.trustedKeys, "the trusted keys file", error);
        if (!ring) {
            return nullptr;
        }
        station->trusted_ = std::move(*ring);
    }
    if (!prepareFolder(station->folder_, error)) {
        error = "the station's folder " + error;
        return nullptr;
    }
    station->key_ =
        loadOrCreateKey(station->folder_ / std::string(kStationKeyFileName), stationKeyName(), KeyType::Ed25519, error);
    if (!station->key_) {
        return nullptr;
    }
    station->trusted_.add(station->key_->verifier());
    station->witness_ = WitnessFile::open(station->witnessPath(), error);
    if (!station->witness_) {
        error = "the witness file " + error;
        return nullptr;
    }
    return station;
}

fs::path Station::witnessPath() const
{
    return folder_ / std::string(kWitnessFileName);
}

WitnessFile Station::witness() const
{
    std::lock_guard lock(mutex_);
    return *witness_;
}

fs::path Station::keepEvidence(const std::string& heading, const std::string& body)
{
    std::string stamp = utcNow();
    std::string compact;
    for (const char c : stamp.substr(0, 19)) {
        if (c != '-' && c != ':') {
            compact += c;
        }
    }
    const fs::path file = folder_ / ("orv_fork_" + compact + "Z.txt");
    const std::string text = "OrvCamera: " + heading + "\n" + "Found " + stamp + " by " + key_->name() + "\n\n" + body;
    if (!replaceFileContents(file, text)) {
        return {};
    }
    restrictToOwner(file);
    return file;
}

Station::Guard Station::checkBeforeWriting(Ledger& ledger)
{
    std::lock_guard lock(mutex_);
    Guard guard;
    const auto failed = [&](std::string message) {
        guard.outcome = Guard::Outcome::Failed;
        guard.message = std::move(message);
        return guard;
    };
    std::string why;
    if (!witness_->writable(why)) {
        return failed("the witness file " + why);
    }
    const std::string place = ledger.place();
    const std::string& origin = ledger.origin();
    if (const std::optional<std::string> seen = witness_->originAt(place)) {
        if (*seen != origin) {
            const std::string message = "the ledger at " + place + " is not the one this station recorded to: it was " +
                                        *seen + " (witness file line " + std::to_string(witness_->placeLine(place)) +
                                        ") and is now " + origin + ", another ledger put in its place";
            guard.outcome = Guard::Outcome::Forked;
            guard.evidence = keepEvidence("the ledger was replaced",
                                          "Ledger: " + ledger.location() + "\nPlace: " + place +
                                              "\nOrigin this station saw there (" + pathUtf8(witnessPath()) +
                                              ", line " + std::to_string(witness_->placeLine(place)) + "): " + *seen +
                                              "\nOrigin found there now: " + origin + "\n");
            guard.message = message + (guard.evidence.empty() ? "" : "; the proof is in " + pathUtf8(guard.evidence));
            return guard;
        }
    } else if (!witness_->addPlace(place, origin, why)) {
        return failed("the witness file " + why);
    }
    const TreeRecord* seen = witness_->largest(origin);
    if (!seen || seen->size == 0) {
        return guard;
    }
    std::optional<std::string> hash;
    if (!ledger.hashAt(seen->size, hash)) {
        return failed(ledger.location() + ": " + ledger.error());
    }
    if (hash && *hash == seen->chainHash) {
        return guard;
    }
    // What the ledger holds there now, beside what this station signed.
    std::string now;
    if (!hash) {
        std::optional<ChainHead> head = ledger.head();
        now = "There is no event " + std::to_string(seen->size) + " in the ledger now" +
              (head ? ": it holds " + std::to_string(head->number) + " events.\n" : ".\n");
    } else {
        EventFilter one;
        one.afterNumber = seen->size - 1;
        one.throughNumber = seen->size;
        std::vector<Event> events;
        now = "Event " + std::to_string(seen->size) + " in the ledger now has the chain hash " + *hash +
              " (this station saw " + seen->chainHash + ").\n";
        if (ledger.readEvents(one, events) && events.size() == 1) {
            now += "Its canonical form now:\n" + canonicalForm(events[0]) +
                   "Its previous hash: " + events[0].previousHash + "\n";
        }
    }
    guard.outcome = Guard::Outcome::Forked;
    guard.seenAt = seen->size;
    guard.evidence = keepEvidence(
        "the ledger's history changed since this station last saw it at event " + std::to_string(seen->size),
        "Ledger: " + ledger.location() + "\nPlace: " + place + "\nOrigin: " + origin +
            "\n\nThis station's signed checkpoint of " + std::to_string(seen->size) + " events (" +
            pathUtf8(witnessPath()) + ", line " + std::to_string(seen->line) + "):\n" + seen->note + "\n" +
            "The chain hash of event " + std::to_string(seen->size) + " then: " + seen->chainHash + "\n\n" + now);
    guard.message = "the ledger's history changed since this station last saw it at event " +
                    std::to_string(seen->size) +
                    (guard.evidence.empty() ? "" : "; the proof is in " + pathUtf8(guard.evidence));
    return guard;
}

Station::Signed Station::signCheckpoint(Ledger& ledger)
{
    std::lock_guard lock(mutex_);
    Signed result;
    const auto refuse = [&](std::string message) {
        result.ok = false;
        result.message = std::move(message);
        return result;
    };
    const std::string& origin = ledger.origin();
    const TreeRecord* base = witness_->largest(origin);
    const std::int64_t from = base ? base->size : 0;
    std::optional<CompactRange> range =
        base ? CompactRange::fromNodes(static_cast<std::uint64_t>(base->size), base->range) : CompactRange();
    if (!range) {
        return refuse("the witness file " + pathUtf8(witnessPath()) + ": line " + std::to_string(base->line) +
                      " holds no tree of its size");
    }
    EventFilter after;
    after.afterNumber = from;
    std::vector<Event> events;
    if (!ledger.readEvents(after, events)) {
        return refuse(ledger.location() + ": " + ledger.error());
    }
    std::vector<StoredCheckpoint> stored;
    if (!ledger.readCheckpoints(from, stored)) {
        return refuse(ledger.location() + ": " + ledger.error());
    }
    // A checkpoint this station kept but could not publish then is published before the next.
    if (base &&
        std::none_of(stored.begin(), stored.end(), [&](const StoredCheckpoint& c) { return c.note == base->note; })) {
        if (!ledger.addCheckpoint(from, base->note)) {
            return refuse(ledger.location() + ": " + ledger.error());
        }
    }
    if (events.empty()) {
        result.ok = true;
        result.size = from;
        result.note = base ? base->note : std::string();
        return result;
    }
    // The checkpoints others signed of sizes this station is about to cover: it signs no tree that
    // disagrees with one of them.
    std::map<std::int64_t, std::vector<std::pair<Hash, std::string>>> others;
    for (const StoredCheckpoint& c : stored) {
        const std::optional<JudgedCheckpoint> judged = judgeCheckpoint(c.note, origin, trusted_, {});
        if (judged && judged->trusted() && c.size > from) {
            others[c.size].emplace_back(judged->checkpoint.root, judged->signers());
        }
    }
    std::string previous = base ? base->chainHash : std::string(kGenesisHash);
    std::int64_t expected = from + 1;
    for (const Event& e : events) {
        const std::string n = std::to_string(e.number);
        if (e.number != expected) {
            return refuse("event " + std::to_string(expected) + " is missing from the ledger; no checkpoint signed");
        }
        if (!e.unreadable.empty()) {
            return refuse("event " + n + " cannot be read (" + e.unreadable + "); no checkpoint signed");
        }
        if (e.previousHash != previous || eventHash(e.previousHash, e) != e.hash) {
            return refuse("event " + n + " does not follow the chain (" +
                          (e.previousHash != previous ? "its previous hash differs" : "its hash does not match it") +
                          "); no checkpoint signed");
        }
        range->append(leafHash(canonicalForm(e)));
        previous = e.hash;
        ++expected;
        if (const auto found = others.find(e.number); found != others.end()) {
            for (const auto& [root, signers] : found->second) {
                if (root != range->root()) {
                    return refuse("the ledger's first " + n + " events disagree with the checkpoint of " + n +
                                  " events signed by " + signers + "; no checkpoint signed");
                }
            }
        }
    }
    const Checkpoint checkpoint{origin, range->size(), range->root()};
    const std::string text = checkpointText(checkpoint);
    Note note{text, {signNoteText(*key_, text)}};
    const std::string message = noteMessage(note);

    TreeRecord record;
    record.origin = origin;
    record.size = static_cast<std::int64_t>(range->size());
    record.root = range->root();
    record.chainHash = previous;
    record.range = range->nodes();
    record.note = message;
    std::string why;
    // Kept on this computer before the ledger has it: a checkpoint published is one this station
    // will hold the ledger to.
    if (!witness_->addTree(record, why)) {
        return refuse("the witness file " + why + "; no checkpoint signed");
    }
    if (!ledger.addCheckpoint(record.size, message)) {
        return refuse(ledger.location() + ": " + ledger.error() +
                      " (the checkpoint is kept in the witness file and is published once the ledger takes it)");
    }
    result.ok = true;
    result.made = true;
    result.size = record.size;
    result.note = message;
    return result;
}

} // namespace orv::ledger

namespace orv::ledger {
namespace {

constexpr std::u16string_view kSection = u"Ledger";
constexpr std::u16string_view kTrustedKey = u"TrustedKeys";

} // namespace

fs::path rememberedTrustedKeys(const fs::path& folder)
{
    const FileContents contents = readWholeFile(folder / std::string(kStationSettingsFileName));
    if (contents.outcome != ReadOutcome::Read) {
        return {};
    }
    const std::string text =
        utf::toUtf8(IniFile::fromBytes(contents.bytes).readString(kSection, kTrustedKey, u"", 4096));
    return text.empty() ? fs::path() : pathFromText(text);
}

bool rememberTrustedKeys(const fs::path& folder, const fs::path& file)
{
    const fs::path settings = folder / std::string(kStationSettingsFileName);
    const FileContents contents = readWholeFile(settings);
    if (contents.outcome == ReadOutcome::Failed) {
        return false; // never replace what could not be read
    }
    IniFile ini = contents.outcome == ReadOutcome::Read ? IniFile::fromBytes(contents.bytes) : IniFile{};
    std::error_code ec;
    const fs::path absolute = fs::absolute(file, ec);
    ini.setValue(kSection, kTrustedKey, utf::toUtf16(pathUtf8(ec ? file : absolute)));
    const std::string bytes = ini.toBytes();
    if (contents.outcome == ReadOutcome::Read && bytes == contents.bytes) {
        return true;
    }
    std::string why;
    return prepareFolder(folder, why) && replaceFileContents(settings, bytes);
}

namespace {

std::chrono::minutes offlineLimitSetting()
{
    const std::u8string text = machineSetting(u"OfflineHours").u8string();
    const std::optional<std::int64_t> hours = detail::parseInteger(std::string(text.begin(), text.end()));
    if (!hours || *hours < 0 || *hours > 24 * 365) {
        return kDefaultOfflineLimit; // not set, or no number of hours: the default
    }
    return std::chrono::hours(*hours);
}

// Minutes from a timeUtc to now; nullopt when it is no such time.
std::optional<std::int64_t> minutesSince(const std::string& timeUtc)
{
    const std::optional<std::chrono::sys_seconds> then = utcTimePoint(timeUtc);
    if (!then) {
        return std::nullopt;
    }
    return std::chrono::duration_cast<std::chrono::minutes>(std::chrono::system_clock::now() - *then).count();
}

} // namespace

StationSetup stationSetup(const fs::path& trustedKeys)
{
    StationSetup setup;
    setup.folder = defaultStationFolder();
    if (!trustedKeys.empty()) {
        setup.trustedKeys = trustedKeys;
        // Remembered once it is a file of keys: a mistyped name must not stop every later command.
        std::string why;
        if (readKeyRingFile(trustedKeys, "", why)) {
            rememberTrustedKeys(setup.folder, trustedKeys);
        }
    } else {
        setup.trustedKeys = rememberedTrustedKeys(setup.folder);
    }
    if (setup.trustedKeys.empty()) {
        setup.trustedKeys = machineSetting(u"TrustedKeys");
    }
    setup.offlineLimit = offlineLimitSetting();
    return setup;
}

std::string offlineText(const SpoolStatus& status)
{
    std::string text = std::to_string(status.waiting) + (status.waiting == 1 ? " event waits" : " events wait") +
                       " in the station's spool; the shared ledger " +
                       (status.refused ? "refuses them" : "is unreachable");
    if (!status.unreachableSinceUtc.empty()) {
        text += " since " + localTimeText(status.unreachableSinceUtc);
    }
    if (!status.lastError.empty()) {
        text += " (" + status.lastError + ")";
    }
    return text;
}

RecordingStart startRecording(const std::string& location, const StationSetup& setup, std::shared_ptr<Station> station,
                              std::shared_ptr<Ledger> opened)
{
    RecordingStart start;
    const auto refuse = [&](RecordingStart::Refusal why, std::string message) {
        start.refusal = why;
        start.message = oneLine(message);
        return start;
    };
    std::string error;
    if (!station) {
        station = Station::open(setup, error);
        if (!station) {
            return refuse(RecordingStart::Refusal::Station, error);
        }
    }
    if (!opened) {
        opened = openStationLedger(location, station->folder(), error);
        if (!opened) {
            return refuse(RecordingStart::Refusal::Unreachable, error);
        }
    }
    std::string notice;
    if (auto* spooled = dynamic_cast<SpooledLedger*>(opened.get())) {
        const ForwardOutcome forwarded = spooled->forward();
        if (!forwarded.reached) {
            SpoolStatus status;
            if (!spooled->spool().status(status)) {
                return refuse(RecordingStart::Refusal::Unreachable, spooled->spool().error());
            }
            if (!forwarded.refused && forwarded.problem.starts_with("the station's spool")) {
                return refuse(RecordingStart::Refusal::Unreachable, forwarded.problem);
            }
            if (status.origin.empty()) {
                // A location this station never reached may be mistyped: no work without it.
                return refuse(RecordingStart::Refusal::Unreachable,
                              forwarded.problem + "; this station has never reached it, so it does not work "
                                                  "without it");
            }
            const std::int64_t hours = setup.offlineLimit.count() / 60;
            const std::optional<std::int64_t> away = minutesSince(status.unreachableSinceUtc);
            if (setup.offlineLimit.count() == 0) {
                return refuse(RecordingStart::Refusal::Unreachable,
                              forwarded.problem + "; this station may not work without the shared ledger "
                                                  "(OfflineHours is 0)");
            }
            if (!away || *away >= setup.offlineLimit.count()) {
                return refuse(RecordingStart::Refusal::Unreachable,
                              offlineText(status) + "; this station may work without it for " + std::to_string(hours) +
                                  (hours == 1 ? " hour" : " hours") + " (OfflineHours), and that time is over");
            }
            start.recording = Recording{std::move(opened), std::move(station), ChainHead{}, offlineText(status), {}};
            return start;
        }
        if (forwarded.forwarded > 0) {
            const Station::Signed sealed = station->signCheckpoint(*opened);
            if (!sealed.ok) {
                notice = oneLine(sealed.message);
            }
        }
    }
    const std::optional<ChainHead> head = opened->head();
    if (!head) {
        return refuse(RecordingStart::Refusal::Unreachable, opened->location() + ": " + opened->error());
    }
    const Station::Guard guard = station->checkBeforeWriting(*opened);
    if (guard.outcome == Station::Guard::Outcome::Forked) {
        start.evidence = guard.evidence;
        return refuse(RecordingStart::Refusal::Forked, opened->location() + ": " + guard.message);
    }
    if (guard.outcome == Station::Guard::Outcome::Failed) {
        return refuse(RecordingStart::Refusal::Station, guard.message);
    }
    start.recording = Recording{std::move(opened), std::move(station), *head, {}, notice};
    return start;
}

void refuseWithoutRoomForOutcomes(RecordingStart& start)
{
    if (std::string why; start.ok() && !start.recording->ledger->hasRoomForOutcomes(why)) {
        start.recording.reset();
        start.refusal = RecordingStart::Refusal::NoRoom;
        start.message = oneLine(why);
    }
}

Station::Signed sealRecording(Ledger& ledger, Station& station, ForwardOutcome* forwarded)
{
    if (auto* spooled = dynamic_cast<SpooledLedger*>(&ledger)) {
        const ForwardOutcome outcome = spooled->forward();
        if (forwarded != nullptr) {
            *forwarded = outcome;
        }
        if (!outcome.reached) {
            Station::Signed waiting;
            waiting.ok = true; // nothing to sign until the events are there: signed when they are
            return waiting;
        }
    }
    return station.signCheckpoint(ledger);
}

} // namespace orv::ledger
