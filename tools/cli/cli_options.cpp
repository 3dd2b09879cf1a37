#include "tools/cli/cli_options.h"

#include "provision/camera_groups.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string_view>

namespace orv::cli {
using namespace orv::provision;
namespace {

// ---- what the help says ----

constexpr std::string_view kDescription =
    R"(Configures a body-worn camera over its USB network link (TCP port 19436), the way the OrvCamera
console does, one command per run. Options may stand before or after the command word; every word
after "--" is an argument, even one that starts with "-". "orvctl COMMAND --help" (or "orvctl help
COMMAND") describes a command in full.)";

constexpr std::string_view kFields = R"(Fields for set (names ignore case; other accepted names in brackets):
  platform   serverAddress [ip, address, server], serverPort [port]  (camera on platform 0)
             rtsId, rtsCode [authcode, code]                         (camera on platform 1)
  4g         apn, apnUser [username, user], apnPassword [password]
  wifi       ssid, wifiPassword [password]
  device     policeId [officerid], policeName [officername], deviceId, companyId [unitid],
             companyName [unitname], screenPsk [psk]
  time       timeZone [zone, choice_timezone]: a row 0..24 or its name, UTC-12:00 (row 0) to
             UTC+12:00 (row 24), case ignored; any other number is sent as 255 (no zone)
             summerTime [dst]: on or off
  proxy      proxyEnable [enable]: on or off, proxyAddress [ip, address], proxyPort [port]
  uidentify  uIdentify [enable]: on or off
Numbers are whole decimal numbers with an optional sign and nothing else; ports are 0..65535.
Anything else ("abc", "+8x", "80 ", 70000 for a port) is a usage error and nothing is sent (the
console would send 0, 8, 80 or 4464). Texts longer than their field are cut to the field, as the
console does.)";

constexpr std::string_view kPasswords = R"(Passwords:
  The passwords that set and passwd write (wifiPassword, apnPassword, passwd's NEW) need not
  appear on the command line, where other users of this computer can read them in the process
  list and the shell history:
  - A value of "-" (wifiPassword=-, password=-, passwd -) reads the next line of standard input.
    With --password-stdin, line 1 is the login password and the "-" values follow in the order
    they appear on the command line. No line left for one is a usage error. (A password that
    is "-" itself goes in --secrets-file.)
  - --secrets-file F holds NAME=VALUE lines: new-password (for passwd), wifiPassword (set wifi),
    apnPassword (set 4g); names ignore case, the value is the rest of the line as it is.
    LF or CR LF line ends; empty lines and lines starting with # are skipped. An unknown name, a
    name given twice or a line without "=" is a usage error. The file's password for the group
    being set is written as if named on the command line (which then must not name it too);
    passwords for other groups are not used.
  A password given literally still works, with a warning on standard error.)";

constexpr std::string_view kExitStatus = R"(Exit status:
  0    done
  1    a file could not be read or written, or the camera's platform choice is unknown or has
       no such field; the ledger cannot be opened or reached (nothing was sent), or it did not
       take an outcome (the outcome is printed; provision and check start no camera after it
       and say how many outcomes are in the inventory only); ledger who: no officer is
       recorded for that camera at that time
  2    usage error (also a number field that is not a number, a "-" with no line left on
       standard input, an --interface that does not exist for scan, or a TIME that is no
       time); nothing was sent
  3    login refused
  4    camera unreachable or silent (or gone during the command); scan: no camera answered
  5    verification or check found a field that differs, or cameras with the same device id
       were left without their officer; the ledger's history changed since this station last
       saw it, or another ledger was put in its place (nothing was sent; the proof is kept
       beside the station's witness file); ledger verify: the ledger is broken (an event was
       altered, removed, inserted or reordered, a signed checkpoint or this station's witness
       file disagrees with it, a checkpoint's signature does not verify or no trusted key
       signed it); ledger witness: the ledger contradicts what the witness cosigned before
  130  provision or check interrupted)";

constexpr std::string_view kTimes =
    R"(TIME is "2026-03-05 14:07", "2026-03-05 14:07:09" or "2026-03-05" in this computer's local time,
or an ISO 8601 time with Z or an offset ("2026-03-05T06:07:09Z").)";

// An option: its names, the value it takes as help shows it (none: a flag), the end of the usage
// error when the value is missing ("--ip needs an address") and what help says of it. The options
// of ledger actions also name the field they fill.
struct OptionDefinition
{
    std::string_view names;
    std::string_view value;
    std::string_view needs;
    std::string_view description;
    std::string CliOptions::*field = nullptr;
};

// orvctl's own options, taken before or after the command word, in the order help lists them.
constexpr OptionDefinition kGlobalOptions[] = {
    {"--ip", "ADDR", "needs an address",
     "Camera address (default 192.168.2.158); scan and provision --all: the\n"
     "address every camera answers at behind its own interface."},
    {"--user", "NAME", "needs a name", "Account name (default admin)."},
    {"--password-stdin", "", "", "Read the account password from the first line of standard input."},
    {"--password-file", "F", "needs a file",
     "Read the account password from the first line of file F.\n"
     "Without either, the camera's factory password is used. The account\n"
     "password is never taken on the command line, and no password is printed."},
    {"--secrets-file", "F", "needs a file",
     "set and passwd: take the passwords they write from file F (see \"Passwords\")."},
    {"--json", "", "", "Print the result as one JSON object (provision, check: one per line)."},
    {"--show-passwords", "", "", "Show Wi-Fi and 4G passwords instead of ********."},
    {"--yes", "", "", "Confirm factory and format."},
    {"--inventory", "FILE", "needs a file",
     "provision, check: the CSV file rows are appended to (UTF-8; a new file\n"
     "gets the header row time,device_id,officer_id,result). With --all and\n"
     "check the header is time,interface_or_address,device_id,officer_id,result,\n"
     "differences,clock_offset_s (a file with the older header without\n"
     "clock_offset_s keeps taking rows in its own form); a file that starts\n"
     "otherwise, or that cannot be created or written, is refused before\n"
     "anything is sent."},
    {"--count", "N", "needs a number", "provision, check --all: stop after N cameras."},
    {"--all", "", "", "provision, check: every camera found at once."},
    {"--retry-failed", "", "",
     "provision --all, check --all: take on only the cameras whose last row in\n"
     "the --inventory is not ok (by device id; by where it was found for a\n"
     "camera that never said its device id); the others are left alone."},
    {"--interface", "NAME", "needs an interface name",
     "scan, provision --all, check --all: look behind this interface only; give\n"
     "it again for more."},
    {"--address", "ADDR", "needs an address",
     "scan, provision --all, check --all: a camera address to look at instead of\n"
     "the interfaces (simulated cameras on loopback addresses); give it again for\n"
     "more."},
    {"--roster", "FILE", "needs a file",
     "provision --all, check --all: the officers, a CSV file with the columns\n"
     "device_id, police_id, police_name, company_id, company_name (any order,\n"
     "names ignore case; UTF-8 or GBK). A camera's row is found by the device id\n"
     "it reports."},
    {"--not-on-roster", "skip|setup", "takes skip or setup",
     "provision --all, check --all: a camera whose device id is not on the roster\n"
     "is left as it is and recorded as \"not on the roster\" (skip, the default),\n"
     "or given the setup's own officer fields (setup)."},
    {"--timeout-ms", "N", "needs a number", "How long a connection and each reply may take (default 3000)."},
    {"--poll-ms", "N", "needs a number",
     "provision, check --all: how often to look for a camera coming or going\n"
     "(default 500)."},
    {"--ledger", "LOCATION", "needs a location",
     "Where the ledger is: a SQLite file or a PostgreSQL connection string\n"
     "(default: orv_ledger.db in the user's data folder). Every command that\n"
     "writes to a camera, check and provision record each outcome there;\n"
     "one that cannot be reached stops them before anything is sent."},
    {"--trusted", "FILE", "needs a file",
     "The verifier keys to trust besides this station's own, one a line (what\n"
     "ledger key prints); remembered for later commands (orv_station.ini in the\n"
     "station's folder). Checkpoints signed by other keys are not evidence."},
    {"--version", "", "", "Print the program version and exit."},
};

constexpr OptionDefinition kWhoOptions[] = {
    {"--at", "TIME", "needs a time", "The moment asked about.", &CliOptions::at},
};

constexpr OptionDefinition kVerifyOptions[] = {
    {"--file", "EXPORT", "needs a file",
     "Verify an export (ledger export FILE.jsonl) instead of the ledger, with\n"
     "no database.",
     &CliOptions::file},
    {"--witness-keys", "FILE", "needs a file",
     "The witnesses' verifier keys to trust (what ledger key witness prints).", &CliOptions::witnessKeys},
    {"--min-witnesses", "K", "needs a number",
     "At least K of those witnesses must have cosigned the ledger.", &CliOptions::minWitnesses},
};

constexpr OptionDefinition kCheckpointOptions[] = {
    {"--size", "N", "needs a number", "The checkpoint of N events rather than the newest.", &CliOptions::size},
};

constexpr OptionDefinition kProveOptions[] = {
    {"--out", "FILE", "needs a file", "Write the proof to FILE (written whole or not at all).", &CliOptions::out},
};

constexpr OptionDefinition kWitnessOptions[] = {
    {"--state", "FILE", "needs a file",
     "The witness's own state file: what it cosigned of each ledger (made on\n"
     "first use; only ever added to).",
     &CliOptions::state},
    {"--key", "FILE", "needs a file",
     "The witness's key (default: orv_witness.key in this account's data\n"
     "folder, made on first use).",
     &CliOptions::key},
};

constexpr OptionDefinition kInitDbOptions[] = {
    {"--station-role", "ROLE", "needs a role", "The role the stations log in as.", &CliOptions::stationRole},
    {"--witness-role", "ROLE", "needs a role", "A role for independent witnesses (reading, and adding cosignatures).",
     &CliOptions::witnessRole},
};

constexpr OptionDefinition kHistoryOptions[] = {
    {"--device", "ID", "needs a device id", "The camera, by its device id.", &CliOptions::device},
    {"--officer", "ID", "needs an officer id", "The officer, by the officer id.", &CliOptions::officer},
    {"--since", "TIME", "needs a time", "Only what happened from TIME on.", &CliOptions::since},
    {"--until", "TIME", "needs a time", "Only what happened up to TIME.", &CliOptions::until},
};

// Options of orvctl that apply to a command, listed again in its own help.
constexpr std::string_view kCameraOptions = "--ip --user --password-stdin --password-file --timeout-ms --json";
constexpr std::string_view kRecordedOptions =
    "--ip --user --password-stdin --password-file --timeout-ms --ledger --trusted --json";
constexpr std::string_view kManyCameraOptions = "--inventory --count --all --roster --not-on-roster --retry-failed "
                                                "--interface --address --poll-ms --ip --user --password-stdin "
                                                "--password-file --timeout-ms --ledger --trusted --json";

constexpr std::size_t kAny = static_cast<std::size_t>(-1);

struct CommandDoc
{
    std::string_view name;
    CommandKind kind;
    std::string_view operands; // as the usage line shows them
    std::size_t minOperands;
    std::size_t maxOperands; // kAny: any number
    std::string_view summary;  // its line in the list of commands
    std::string_view details;  // what its own help adds
    std::string_view related;  // orvctl's options that apply
    std::span<const OptionDefinition> options{};
    std::string_view footer{};
};

constexpr CommandDoc kCommands[] = {
    {"get", CommandKind::Get, "GROUP", 1, 1, "Print a group's fields.",
     "GROUP is platform, 4g, wifi, device, time, proxy, uidentify or all. Each field is printed as\n"
     "a group.field=value line (--json: one object of groups); passwords show as ********.",
     "--show-passwords --ip --user --password-stdin --password-file --timeout-ms --json"},
    {"set", CommandKind::Set, "GROUP FIELD=VALUE...", 2, kAny, "Change only the named fields of a group.",
     "The record is read, the fields replaced and the whole record written back, as the console's\n"
     "Set does. \"set time\" also sets the camera's clock from this computer. The proxy record is\n"
     "rebuilt from the camera's proxy values with the named ones replaced. An unknown field stops\n"
     "before anything is sent. With --secrets-file, FIELD=VALUE may be left out when the file holds\n"
     "the group's password.",
     "--secrets-file --ip --user --password-stdin --password-file --timeout-ms --ledger --trusted --json"},
    {"passwd", CommandKind::Passwd, "NEW|-", 1, 1, "Change the password of the --user account.",
     "Give \"-\" to read NEW from standard input, or leave NEW out and put a new-password line in\n"
     "--secrets-file; see \"Passwords\" below.",
     "--secrets-file --ip --user --password-stdin --password-file --timeout-ms --ledger --trusted --json"},
    {"timesync", CommandKind::TimeSync, "", 0, 0, "Set the camera's clock from this computer.",
     "The camera's time zone and summer time stay as they are.", kRecordedOptions},
    {"udisk", CommandKind::UDisk, "", 0, 0, "Switch the camera to U-disk mode; it leaves the network.", "",
     kRecordedOptions},
    {"uidentify", CommandKind::UIdentify, "on|off", 1, 1, "Switch U-identify on or off.", "", kRecordedOptions},
    {"factory", CommandKind::Factory, "--yes", 0, 0, "Restore the camera's factory settings.",
     "This cannot be undone: without --yes nothing is sent.",
     "--yes --ip --user --password-stdin --password-file --timeout-ms --ledger --trusted --json"},
    {"format", CommandKind::Format, "--yes", 0, 0, "Format the camera's SD card.",
     "This cannot be undone: without --yes nothing is sent.",
     "--yes --ip --user --password-stdin --password-file --timeout-ms --ledger --trusted --json"},
    {"apply", CommandKind::Apply, "SETUP.xml", 1, 1, "Send a setup file saved by the console, then verify it.",
     "Sends what the setup file holds: U-identify, platform, 4g, wifi, the device fields except the\n"
     "device id, time zone and summer time (with the clock from this computer). Groups missing from\n"
     "the file are not sent; the file's \"camera\" (login) and \"language\" elements are not used.\n"
     "Then every sent group is read back and each field that differs from the file is reported\n"
     "(exit status 5).",
     "--show-passwords --ip --user --password-stdin --password-file --timeout-ms --ledger --trusted --json"},
    {"export-id", CommandKind::ExportId, "FILE", 1, 1,
     "Append the camera's device id to FILE, as the console's Export does.",
     "The id is appended as one UTF-16LE line.", kCameraOptions},
    {"provision", CommandKind::Provision, "SETUP.xml", 1, 1,
     "Set cameras up one after another, or many at once (--all).",
     R"(provision SETUP.xml --inventory FILE.csv [--count N]
  One camera after another: wait until a camera answers at the address, log in, apply and verify
  the setup, append a row (local time, device id, officer id, result) to the inventory, wait until
  that camera has gone (unplugged or switched to U-disk mode), start over. A camera that fails is
  recorded as failed and the loop goes on. Runs until N cameras are done or Ctrl+C, which lets the
  current camera finish first.

provision SETUP.xml --all --inventory FILE.csv [--roster FILE.csv] [--count N] [--retry-failed]
  Many cameras at once, found as scan finds them: each camera is logged into, named by its device
  id, given the setup and its own officer and unit from the roster, read back, and recorded in the
  inventory (time, interface or address, device id, officer id, result, fields that differ, clock
  offset). Keeps looking for more cameras, and takes on the next one plugged in where one has gone,
  until N cameras were taken on or Ctrl+C, which lets every camera finish the step it is in and
  sends nothing more. The roster is checked whole before anything is sent; with a roster the setup
  may hold no group (the officers alone are written). Cameras attached at once that report the
  same device id get no officer: each is recorded as "duplicate device id".)",
     kManyCameraOptions},
    {"scan", CommandKind::Scan, "", 0, 0, "List the cameras that answer, with device id, officer and clock offset.",
     R"(Looks for one camera behind every network interface that is up and has an address in the --ip
address's /24 (USB network adapters first), or behind the interfaces named with --interface (one
that does not exist is a usage error), or at the --address addresses (simulated cameras). All are
tried at once. Cameras reporting the same device id are marked.)",
     "--interface --address --ip --user --password-stdin --password-file --timeout-ms --json"},
    {"check", CommandKind::Check, "SETUP.xml", 1, 1, "Compare cameras with a setup and the roster, writing nothing.",
     R"(check SETUP.xml [--all] [--inventory FILE.csv] [--roster FILE.csv] [--count N] [--retry-failed]
  The audit before cameras are issued: read each camera and compare it with the setup and its
  roster officer, writing nothing. With --all, every camera found, watching as provision --all
  does; without, the camera at --ip. Each is recorded as "check: ok" or "check: differs".)",
     kManyCameraOptions},
};

constexpr CommandDoc kHelp = {"help", CommandKind::Help, "[COMMAND]", 0, kAny, "Show this text, or a command's.", "", ""};

// The family of ledger actions; its kind is never used (ledger alone is a usage error).
constexpr CommandDoc kLedger = {
    "ledger", CommandKind::Help, "", 0, 0, "Read the ledger of work done on cameras.",
    "The ledger holds every outcome of work on a camera as one event, numbered and chained so that\n"
    "an edited, deleted, inserted or reordered event is found. --ledger says where it is.",
    "--ledger --json", {}, kTimes};

constexpr CommandDoc kLedgerActions[] = {
    {"verify", CommandKind::LedgerVerify, "", 0, 0,
     "Check the chain, its signed checkpoints, this station's witness file.",
     "Checks that the events are numbered 1, 2, 3, ... without gaps, every link and every hash, and\n"
     "that the chain head the ledger keeps is its last event's; then every checkpoint: a signature by\n"
     "a trusted key must verify, a checkpoint no trusted key signed is an unknown signer, and the\n"
     "first N events must still hash to the root of each checkpoint of N events (a rewrite is found\n"
     "even when its hashes were computed again, a removed tail by the events the checkpoint counts);\n"
     "then this station's witness file: the ledger at this place is the one it recorded to, and every\n"
     "checkpoint it signed is still in it and still true. Exit status 5 names the first event where\n"
     "they disagree, and whose checkpoint it was.",
     "--ledger --trusted --json", kVerifyOptions},
    {"head", CommandKind::LedgerHead, "", 0, 0, "Print the number and hash of the last event.", "", "--ledger --json"},
    {"who", CommandKind::LedgerWho, "DEVICE --at TIME", 1, 1, "Print the officer who held camera DEVICE at TIME.",
     "Prints the officer, the unit and the interval (local time) in which the camera carried that\n"
     "officer, as the events show it. When none is recorded for DEVICE at TIME, nothing is printed\n"
     "on standard output (--json: an object whose officer is null) and the exit status is 1.",
     "--ledger --json", kWhoOptions, kTimes},
    {"history", CommandKind::LedgerHistory, "--device ID|--officer ID", 0, 0,
     "Who held a camera, or which cameras an officer held, over time.",
     "Give the camera (--device) or the officer (--officer), not both; --since and --until narrow\n"
     "the time (a date alone covers that whole day). Prints the events, oldest first, one a line\n"
     "(number, local time, kind, device, officer before -> after, result, station, operator, where),\n"
     "then the intervals in which the camera carried each officer, or in which the officer held each\n"
     "camera.",
     "--ledger --json", kHistoryOptions, kTimes},
    {"cameras", CommandKind::LedgerCameras, "", 0, 0, "List every camera in the ledger: its officer now, its last event.",
     "", "--ledger --json"},
    {"export", CommandKind::LedgerExport, "FILE.jsonl|FILE.csv", 1, 1, "Write the ledger to a file.",
     "FILE.jsonl (or .json): JSON Lines, the ledger's origin and head, every event with both hashes\n"
     "and every signed checkpoint, exactly as stored: verify it with ledger verify --file. Any other\n"
     "name: CSV for people (UTF-8 with a byte order mark, a header row, one event a row), where a cell\n"
     "that starts like a spreadsheet formula gets an apostrophe first, so it is safe to open but not\n"
     "for recomputing hashes.",
     "--ledger --json"},
    {"key", CommandKind::LedgerKey, "[witness]", 0, 1, "Print this station's verifier key (or its witness key).",
     "The first line is the verifier key, as the trusted keys file takes it (name+id+key); the lines\n"
     "after it, starting with #, say whose it is and its fingerprint, to compare by telephone. The key\n"
     "is made on first use in this account's data folder (or ORV_STATION_FOLDER). \"witness\" prints\n"
     "the key this account cosigns with as an independent witness.",
     "--json"},
    {"checkpoint", CommandKind::LedgerCheckpoint, "", 0, 0,
     "Print the newest signed checkpoint with all its signatures.",
     "A signed note in the C2SP tlog-checkpoint form: the ledger's origin, its number of events and\n"
     "the root of its Merkle tree (RFC 6962), then one line for each station's signature and each\n"
     "witness's cosignature. Only checkpoints signed by a trusted key are printed.",
     "--ledger --trusted --json", kCheckpointOptions},
    {"prove", CommandKind::LedgerProve, "NUMBER", 1, 1,
     "Write the proof that event NUMBER is in the signed ledger.",
     "The proof holds the event's canonical form (the extra line), its index (NUMBER - 1), the\n"
     "inclusion proof and the newest checkpoint signed by a trusted key, with every signature:\n"
     "anyone can check it offline against the signers' verifier keys.",
     "--ledger --trusted --json", kProveOptions},
    {"witness", CommandKind::LedgerWitness, "--state FILE", 0, 0,
     "Cosign the ledger's newest checkpoint as an independent witness.",
     "Run by a party that does not administer the database, on its own computer (a scheduled task):\n"
     "takes the newest checkpoint a trusted station signed, checks that the ledger's events hash to\n"
     "it and that it extends the checkpoint this witness cosigned before (a consistency proof), keeps\n"
     "it in the state file, then adds the witness's cosignature to the ledger. A smaller tree, or the\n"
     "same size with another root, is refused (exit status 5).",
     "--ledger --trusted --json", kWitnessOptions},
    {"init-db", CommandKind::LedgerInitDb, "LOCATION --station-role ROLE", 1, 1,
     "Create a shared PostgreSQL ledger; grant the stations' role.",
     "Run once by the database's owner. Creates the ledger's tables (or upgrades older ones), and\n"
     "gives ROLE what appending needs and nothing more: reading, adding events and checkpoints, and\n"
     "locking the chain head through the owner's function. No station may change or remove an event\n"
     "or a checkpoint or move the head (the database refuses it for every role but the owner).",
     "--json", kInitDbOptions},
};

// ---- help from the CLI11 model ----

constexpr std::size_t kOptionColumn = 21;
constexpr std::size_t kCommandColumn = 29;

// "  NAME   text", the text's further lines indented to the column; a name too wide for the column
// puts the text on the next line.
std::string twoColumns(const std::string& name, std::string_view text, std::size_t column)
{
    std::string out = "  " + name;
    if (text.empty()) {
        return out + "\n";
    }
    if (out.size() + 2 > column) {
        out += "\n";
        out.append(column, ' ');
    } else {
        out.resize(column, ' ');
    }
    for (const char c : text) {
        out += c;
        if (c == '\n') {
            out.append(column, ' ');
        }
    }
    return out + "\n";
}

std::string commandWords(const CommandDoc& doc)
{
    return std::string(doc.name) + (doc.operands.empty() ? "" : " ") + std::string(doc.operands);
}

// Lays out what CLI11 knows of orvctl and its commands: usage, description, the commands (one line
// each), the options, then the footer. help2man turns orvctl's into the manual page, so it keeps
// the shape that tool reads: a Usage line, then sections headed "Name:".
class HelpFormatter final : public CLI::Formatter
{
public:
    void describe(const CLI::App* app, const CommandDoc* doc) { docs_[app] = doc; }

    const CommandDoc* docOf(const CLI::App* app) const
    {
        const auto found = docs_.find(app);
        return found == docs_.end() ? nullptr : found->second;
    }

    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode) const override
    {
        const CommandDoc* doc = docOf(app);
        const auto named = [](const CLI::App* sub) { return !sub->get_name().empty(); };
        const std::vector<const CLI::App*> subcommands = app->get_subcommands(named);

        std::string out = "Usage: " + name;
        if (!doc) {
            out += " [OPTIONS] COMMAND [ARGUMENTS]";
        } else {
            out += doc->operands.empty() ? "" : " " + std::string(doc->operands);
            out += subcommands.empty() ? " [OPTIONS]" : " ACTION [ARGUMENTS] [OPTIONS]";
        }
        out += "\n\n";
        if (!doc) {
            out += app->get_description() + "\n";
        } else {
            out += std::string(doc->summary) + "\n";
            out += doc->details.empty() ? "" : "\n" + std::string(doc->details) + "\n";
        }

        if (!subcommands.empty()) {
            out += doc ? "\nActions:\n" : "\nCommands:\n";
            out += commandList(subcommands, "");
        }

        std::vector<const CLI::Option*> options = app->get_options([app, doc](const CLI::Option* o) {
            return o->nonpositional() && !o->get_group().empty() && !(doc && o == app->get_help_ptr());
        });
        if (doc) {
            const CLI::App* root = app;
            while (root->get_parent()) {
                root = root->get_parent();
            }
            std::string_view related = doc->related;
            while (!related.empty()) {
                const std::size_t end = std::min(related.find(' '), related.size());
                if (const CLI::Option* o = root->get_option_no_throw(std::string(related.substr(0, end)))) {
                    options.push_back(o);
                }
                related.remove_prefix(std::min(end + 1, related.size()));
            }
        }
        if (!options.empty()) {
            out += "\nOptions:\n";
            for (const CLI::Option* o : options) {
                out += twoColumns(make_option_name(o, false) + make_option_opts(o), o->get_description(), kOptionColumn);
            }
        }
        if (!app->get_footer().empty()) {
            out += "\n" + app->get_footer() + "\n";
        }
        return out;
    }

private:
    // One line per command; a family of actions (ledger) is listed action by action.
    std::string commandList(const std::vector<const CLI::App*>& subcommands, const std::string& prefix) const
    {
        std::string out;
        for (const CLI::App* sub : subcommands) {
            const CommandDoc* doc = docOf(sub);
            const auto named = [](const CLI::App* a) { return !a->get_name().empty(); };
            const std::vector<const CLI::App*> actions = sub->get_subcommands(named);
            if (!prefix.empty() || actions.empty()) {
                out += twoColumns(prefix + commandWords(*doc), doc->summary, kCommandColumn);
            } else {
                out += commandList(actions, sub->get_name() + " ");
            }
        }
        return out;
    }

    std::map<const CLI::App*, const CommandDoc*> docs_;
};

// ---- the command line as CLI11 sees it ----

class CommandLine
{
public:
    CommandLine()
    {
        app.formatter(formatter);
        app.allow_windows_style_options(false); // "/path" is an argument, not an option
        app.allow_extras();                     // unknown words and options are reported below
        app.require_subcommand(0, 1);           // later words matching a command are its arguments
        app.fallthrough();                      // orvctl's options after the command word too
        app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)->disable_flag_override();
        app.set_help_flag("-h,--help", "Show this text and exit; after a command, that command's help.");
        addOptions(app, kGlobalOptions);
        app.footer(std::string(kFields) + "\n\n" + std::string(kPasswords) + "\n\n" + std::string(kExitStatus));

        for (const CommandDoc& doc : kCommands) {
            CLI::App* sub = addCommand(app, doc);
            if (doc.kind == CommandKind::Set) {
                sub->footer(std::string(kFields) + "\n\n" + std::string(kPasswords));
            } else if (doc.kind == CommandKind::Passwd) {
                sub->footer(std::string(kPasswords));
            }
        }
        ledger = addCommand(app, kLedger);
        ledger->require_subcommand(0, 1);
        for (const CommandDoc& action : kLedgerActions) {
            addCommand(*ledger, action);
        }
        addCommand(app, kHelp);
    }

    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    // The command that `words` name (orvctl itself for none); null when they name none.
    const CLI::App* find(std::span<const std::string> words) const
    {
        const CLI::App* at = &app;
        for (const std::string& word : words) {
            const auto named = [&word](const CLI::App* sub) { return sub->get_name() == word; };
            const std::vector<const CLI::App*> found = at->get_subcommands(named);
            if (found.empty()) {
                return nullptr;
            }
            at = found.front();
        }
        return at;
    }

    std::string helpOf(const CLI::App* at) const
    {
        std::string name;
        for (const CLI::App* a = at; a; a = a->get_parent()) {
            name = a->get_name() + (name.empty() ? "" : " ") + name;
        }
        return formatter->make_help(at, name, CLI::AppFormatMode::Normal);
    }

    // "--ip needs an address" for an option CLI11 found without its value.
    std::string missingValue(std::string_view arg) const
    {
        const auto found = needs_.find(std::string(arg.substr(0, arg.find('='))));
        return found == needs_.end() ? std::string() : found->first + " " + found->second;
    }

    // What CLI11 would misread, found before it parses `words`: "--ip=" (it would take the next
    // word as the address: an empty shell variable must not shift the command line) and
    // "--json=x" (its message would not say that a flag takes no value). Empty when neither.
    std::string inlineValueMistake(std::span<const std::string> words) const
    {
        for (std::size_t i = 0; i < words.size(); ++i) {
            const std::string& word = words[i];
            if (!word.starts_with("--")) {
                continue;
            }
            const std::size_t equals = word.find('=');
            const std::string name = word.substr(0, equals);
            const bool takesValue = needs_.contains(name);
            if (equals == std::string::npos) {
                i += takesValue ? 1 : 0; // its value may look like anything
            } else if (takesValue && equals + 1 == word.size()) {
                return missingValue(name);
            } else if (flags_.contains(name)) {
                return name + " takes no value";
            }
        }
        return {};
    }

    // An option of a ledger action given elsewhere belongs to that action; any other is unknown.
    std::string unknownOption(const std::string& arg) const
    {
        const std::string name = arg.substr(0, arg.find('='));
        for (const CLI::App* action : ledger->get_subcommands([](const CLI::App*) { return true; })) {
            if (name.starts_with("--") && action->get_option_no_throw(name)) {
                return name + " belongs to ledger " + action->get_name();
            }
        }
        return "unknown option " + arg;
    }

    const std::shared_ptr<HelpFormatter> formatter = std::make_shared<HelpFormatter>();
    CLI::App app{std::string(kDescription), "orvctl"};
    CLI::App* ledger = nullptr;

private:
    CLI::App* addCommand(CLI::App& parent, const CommandDoc& doc)
    {
        CLI::App* sub = parent.add_subcommand(std::string(doc.name), std::string(doc.summary));
        formatter->describe(sub, &doc);
        sub->footer(std::string(doc.footer));
        addOptions(*sub, doc.options);
        if (&doc != &kLedger) {
            // Every word up to "--" that is no option; counted below, where the message names the
            // command. Help shows them on the usage line rather than as a list of their own.
            sub->add_option("operands")->expected(0, -1)->allow_extra_args()->group("");
        }
        return sub;
    }

    void addOptions(CLI::App& to, std::span<const OptionDefinition> definitions)
    {
        for (const OptionDefinition& option : definitions) {
            const std::string names(option.names);
            if (option.value.empty()) {
                to.add_flag(names)->description(std::string(option.description));
                flags_.insert(names);
            } else {
                to.add_option(names)->description(std::string(option.description))->type_name(std::string(option.value));
                needs_[names] = option.needs;
            }
        }
    }

    std::map<std::string, std::string> needs_;
    std::set<std::string> flags_{"--help"};
};

// ---- checks ----

bool isDottedIpv4(std::string_view text)
{
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text[0] != '.') {
                return false;
            }
            text.remove_prefix(1);
        }
        unsigned value = 0;
        const auto [next, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        const auto used = static_cast<std::size_t>(next - text.data());
        if (error != std::errc() || used == 0 || used > 3 || value > 255) {
            return false;
        }
        text.remove_prefix(used);
    }
    return text.empty();
}

std::optional<int> positiveNumber(std::string_view text)
{
    int value = 0;
    const auto [next, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || next != text.data() + text.size() || value <= 0) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> positiveNumber64(std::string_view text)
{
    std::int64_t value = 0;
    const auto [next, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || next != text.data() + text.size() || value <= 0) {
        return std::nullopt;
    }
    return value;
}

ParsedCommandLine usage(std::string message)
{
    return {std::nullopt, std::move(message)};
}

// Every value an option of `app` was given, in command-line order.
const std::vector<std::string>& valuesOf(const CLI::App& app, const std::string& name)
{
    return app.get_option(name)->results();
}

bool given(const CLI::App& app, const std::string& name)
{
    return app.get_option(name)->count() > 0;
}

// The value of an option given at most once (a ledger query would silently drop a filter given
// twice); empty when not given.
std::optional<std::string> onceValue(const CLI::App& app, const OptionDefinition& option, std::string& value)
{
    const std::string name(option.names);
    const std::vector<std::string>& values = valuesOf(app, name);
    if (values.size() > 1) {
        return "give " + name + " once";
    }
    if (!values.empty() && values[0].empty()) {
        return name + " " + std::string(option.needs);
    }
    value = values.empty() ? std::string() : values[0];
    return std::nullopt;
}

bool looksLikeOption(const std::string& arg)
{
    return arg.size() > 1 && arg[0] == '-';
}

} // namespace

ParsedCommandLine parseCommandLine(std::span<const std::string> args)
{
    // CLI11 sees the words before "--"; those after it are operands whatever they look like.
    const auto mark = std::find(args.begin(), args.end(), "--");
    std::vector<std::string> reversed(std::make_reverse_iterator(mark), std::make_reverse_iterator(args.begin()));
    const std::vector<std::string> afterMark(mark == args.end() ? mark : mark + 1, args.end());

    CommandLine line;
    const CLI::App& app = line.app;
    if (std::string mistake = line.inlineValueMistake(args.subspan(0, reversed.size())); !mistake.empty()) {
        return usage(mistake);
    }
    bool helpAsked = false;
    try {
        line.app.parse(std::move(reversed));
    } catch (const CLI::CallForHelp&) {
        helpAsked = true;
    } catch (const CLI::ArgumentMismatch& e) {
        // CLI11 runs out of words only for an option that is the last one before "--" or the end.
        std::string message = mark == args.begin() ? std::string() : line.missingValue(*(mark - 1));
        return usage(message.empty() ? e.what() : message);
    } catch (const CLI::Error& e) {
        return usage(e.what());
    }

    std::vector<const CLI::App*> path; // the command, and the ledger's action
    for (const CLI::App* at = &app; !at->get_subcommands().empty();) {
        at = at->get_subcommands().front();
        path.push_back(at);
    }

    CliOptions o;
    if (helpAsked) {
        o.command = CommandKind::Help;
        o.commandName = "help";
        for (const CLI::App* at : path) {
            o.operands.push_back(at->get_name());
        }
        return {o, {}};
    }
    if (given(app, "--version")) {
        o.command = CommandKind::Version;
        o.commandName = "version";
        return {o, {}};
    }

    const std::vector<std::string> extras = app.remaining(true);
    for (const std::string& extra : extras) {
        if (extra == "--password" || extra.starts_with("--password=")) {
            return usage("passwords are not taken on the command line, where other users can see them; use "
                         "--password-stdin or --password-file");
        }
    }
    for (const std::string& extra : extras) {
        if (looksLikeOption(extra)) {
            return usage(line.unknownOption(extra));
        }
    }

    // Each option's values, as the hand-checked command line always has.
    const std::vector<std::string>& secretsFiles = valuesOf(app, "--secrets-file");
    if (secretsFiles.size() > 1) {
        return usage("give --secrets-file once");
    }
    if (!secretsFiles.empty()) {
        if (secretsFiles[0].empty()) {
            return usage("--secrets-file needs a file");
        }
        o.secretsFile = secretsFiles[0];
    }
    const std::vector<std::string>& passwordFiles = valuesOf(app, "--password-file");
    if (app.get_option("--password-stdin")->count() + passwordFiles.size() > 1) {
        return usage("give the password one way only");
    }
    if (given(app, "--password-stdin")) {
        o.passwordSource = PasswordSource::Stdin;
    } else if (!passwordFiles.empty()) {
        o.passwordSource = PasswordSource::File;
        o.passwordFile = passwordFiles[0];
    }
    for (const std::string& name : {std::string("--interface"), std::string("--address")}) {
        for (const std::string& value : valuesOf(app, name)) {
            if (value.empty()) {
                return usage(line.missingValue(name));
            }
            if (name == "--address" && !isDottedIpv4(value)) {
                return usage("--address: \"" + value + "\" is not an IPv4 address");
            }
        }
    }
    o.interfaces = valuesOf(app, "--interface");
    o.addresses = valuesOf(app, "--address");
    for (const std::string& value : valuesOf(app, "--not-on-roster")) {
        if (value != "skip" && value != "setup") {
            return usage("--not-on-roster takes skip or setup");
        }
        o.notOnRosterSetup = value == "setup";
    }
    for (const std::string& name : {std::string("--count"), std::string("--timeout-ms"), std::string("--poll-ms")}) {
        for (const std::string& value : valuesOf(app, name)) {
            const std::optional<int> n = positiveNumber(value);
            if (!n) {
                return usage(name + " takes a whole number above 0, not \"" + value + "\"");
            }
            if (name == "--count") {
                o.count = *n;
            } else if (name == "--timeout-ms") {
                o.timeout = std::chrono::milliseconds(*n);
            } else {
                o.poll = std::chrono::milliseconds(*n);
            }
        }
    }
    // Given more than once, the last value counts.
    const auto last = [&app](const std::string& name, std::string& into) {
        const std::vector<std::string>& values = valuesOf(app, name);
        into = values.empty() ? into : values.back();
        return !values.empty();
    };
    last("--ip", o.address);
    last("--user", o.user);
    last("--inventory", o.inventory);
    if (last("--roster", o.roster) && o.roster.empty()) {
        return usage("--roster needs a file");
    }
    if (last("--ledger", o.ledger) && o.ledger.empty()) {
        return usage("--ledger needs a location");
    }
    if (last("--trusted", o.trusted) && o.trusted.empty()) {
        return usage("--trusted needs a file");
    }
    o.json = given(app, "--json");
    o.yes = given(app, "--yes");
    o.showPasswords = given(app, "--show-passwords");
    o.all = given(app, "--all");
    o.retryFailed = given(app, "--retry-failed");

    // The command.
    if (path.empty()) {
        if (!extras.empty()) {
            return usage("unknown command \"" + extras.front() + "\"");
        }
        return usage(afterMark.empty() ? "no command given" : "the command goes before \"--\"");
    }
    if (path.size() == 1 && path[0] == line.ledger) {
        if (!extras.empty()) {
            return usage("ledger: unknown action \"" + extras.front() + "\"");
        }
        return usage("ledger needs an action: verify, head, who, history, cameras, export, key, checkpoint, prove, "
                     "witness or init-db");
    }
    if (!extras.empty()) {
        return usage("unknown command \"" + extras.front() + "\"");
    }
    const CLI::App& command = *path.back();
    const CommandDoc& info = *line.formatter->docOf(&command);
    o.command = info.kind;
    for (const CLI::App* at : path) {
        o.commandName += (o.commandName.empty() ? "" : " ") + at->get_name();
    }
    o.operands = valuesOf(command, "operands");
    o.operands.insert(o.operands.end(), afterMark.begin(), afterMark.end());

    if (o.command == CommandKind::Help) {
        if (!line.find(o.operands)) {
            std::string words;
            for (const std::string& w : o.operands) {
                words += (words.empty() ? "" : " ") + w;
            }
            return usage("help: unknown command \"" + words + "\"");
        }
        return {o, {}};
    }

    const bool fileMayFillIn =
        !o.secretsFile.empty() && (o.command == CommandKind::Set || o.command == CommandKind::Passwd);
    const std::size_t minOperands = info.minOperands - (fileMayFillIn ? 1 : 0);
    if (o.operands.size() < minOperands || o.operands.size() > info.maxOperands) {
        return usage(o.commandName + (o.operands.size() < minOperands ? ": missing " : ": too many ") + "arguments");
    }
    if (!o.secretsFile.empty() && !fileMayFillIn) {
        return usage("--secrets-file belongs to set and passwd");
    }
    if (!isDottedIpv4(o.address)) {
        return usage("\"" + o.address + "\" is not an IPv4 address such as 192.168.2.158");
    }
    for (const OptionDefinition& option : info.options) {
        if (std::optional<std::string> error = onceValue(command, option, o.*option.field)) {
            return usage(*error);
        }
    }
    switch (o.command) {
        case CommandKind::Get:
            if (o.operands[0] != "all" && !groupFromName(o.operands[0])) {
                return usage("unknown group \"" + o.operands[0] +
                             "\" (groups: platform, 4g, wifi, device, time, proxy, uidentify, all)");
            }
            break;
        case CommandKind::Set:
            if (!groupFromName(o.operands[0])) {
                return usage("unknown group \"" + o.operands[0] +
                             "\" (groups: platform, 4g, wifi, device, time, proxy, uidentify)");
            }
            break;
        case CommandKind::UIdentify:
            if (o.operands[0] != "on" && o.operands[0] != "off") {
                return usage("uidentify takes on or off");
            }
            break;
        case CommandKind::Factory:
        case CommandKind::Format:
            if (!o.yes) {
                return usage(o.commandName + " cannot be undone; add --yes to run it");
            }
            break;
        case CommandKind::Provision:
            if (o.inventory.empty()) {
                return usage("provision needs --inventory FILE.csv");
            }
            break;
        case CommandKind::LedgerWho:
            o.device = o.operands[0];
            if (o.device.empty()) {
                return usage("ledger who needs a device id");
            }
            if (o.at.empty()) {
                return usage("ledger who needs --at TIME");
            }
            break;
        case CommandKind::LedgerHistory:
            if (!o.device.empty() && !o.officer.empty()) {
                return usage("ledger history: give --device or --officer, not both");
            }
            if (o.device.empty() && o.officer.empty()) {
                return usage("ledger history needs --device ID or --officer ID");
            }
            break;
        case CommandKind::LedgerExport:
            if (o.operands[0].empty()) {
                return usage("ledger export needs a file");
            }
            break;
        case CommandKind::LedgerVerify:
            if (!o.minWitnesses.empty()) {
                const std::optional<int> k = positiveNumber(o.minWitnesses);
                if (!k) {
                    return usage("--min-witnesses takes a whole number above 0, not \"" + o.minWitnesses + "\"");
                }
                if (o.witnessKeys.empty()) {
                    return usage("--min-witnesses needs --witness-keys FILE: the witnesses it counts");
                }
                o.minWitnessCount = *k;
            }
            break;
        case CommandKind::LedgerKey:
            if (!o.operands.empty() && o.operands[0] != "witness") {
                return usage("ledger key takes nothing, or \"witness\"");
            }
            break;
        case CommandKind::LedgerCheckpoint:
            if (!o.size.empty()) {
                const std::optional<std::int64_t> n = positiveNumber64(o.size);
                if (!n) {
                    return usage("--size takes a whole number above 0, not \"" + o.size + "\"");
                }
                o.treeSize = *n;
            }
            break;
        case CommandKind::LedgerProve: {
            const std::optional<std::int64_t> n = positiveNumber64(o.operands[0]);
            if (!n) {
                return usage("ledger prove takes an event number, not \"" + o.operands[0] + "\"");
            }
            o.number = *n;
            break;
        }
        case CommandKind::LedgerWitness:
            if (o.state.empty()) {
                return usage("ledger witness needs --state FILE: the witness's own record");
            }
            break;
        case CommandKind::LedgerInitDb:
            if (o.stationRole.empty()) {
                return usage("ledger init-db needs --station-role ROLE");
            }
            if (o.operands[0].empty()) {
                return usage("ledger init-db needs the database's location");
            }
            break;
        default:
            break;
    }
    const bool provisionOrCheck = o.command == CommandKind::Provision || o.command == CommandKind::Check;
    if (!provisionOrCheck && (!o.inventory.empty() || o.count != 0)) {
        return usage("--inventory and --count belong to provision and check");
    }
    const bool manyCameras = o.command == CommandKind::Scan || (provisionOrCheck && o.all);
    if (o.all && !provisionOrCheck) {
        return usage("--all belongs to provision and check");
    }
    if (!manyCameras && (!o.interfaces.empty() || !o.addresses.empty())) {
        return usage("--interface and --address belong to scan, provision --all and check --all");
    }
    if (!o.interfaces.empty() && !o.addresses.empty()) {
        return usage("give --interface or --address, not both: the addresses stand in for the interfaces");
    }
    if (!(provisionOrCheck && o.all) && (!o.roster.empty() || o.notOnRosterSetup || o.retryFailed)) {
        return usage("--roster, --not-on-roster and --retry-failed belong to provision --all and check --all");
    }
    if (o.command == CommandKind::Check && !o.all && o.count != 0) {
        return usage("--count belongs to check --all");
    }
    if (o.retryFailed && o.inventory.empty()) {
        return usage("--retry-failed reads the inventory: give --inventory FILE.csv");
    }
    return {o, {}};
}

std::string commandLineHelp(std::span<const std::string> command)
{
    const CommandLine line;
    const CLI::App* at = line.find(command);
    return line.helpOf(at ? at : &line.app);
}

} // namespace orv::cli
