#pragma once
// orvctl's command line, parsed with CLI11: the command (a subcommand; ledger has actions of its
// own) and its operands, and options anywhere before "--", before or after the command word.

#include "link/frame.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace orv::cli {

enum ExitCode : int {
    kExitDone = 0,
    // a file could not be read or written, the camera reports an unknown platform, the ledger cannot
    // be reached or did not take an outcome; ledger who: no officer is recorded then
    kExitFailed = 1,
    kExitUsage = 2,
    kExitLoginRefused = 3,
    kExitUnreachable = 4, // unreachable or silent
    kExitDiffers = 5,
    kExitLedgerBroken = 5, // ledger verify: the ledger disagrees with its chain, its checkpoints or this station;
                           // before a write: the ledger's history changed since this station saw it
    kExitInterrupted = 130,
};

enum class CommandKind : std::uint8_t {
    Help,
    Version,
    Get,
    Set,
    Passwd,
    TimeSync,
    UDisk,
    UIdentify,
    Factory,
    Format,
    Apply,
    ExportId,
    Provision,
    Scan,
    Check,
    LedgerVerify,
    LedgerHead,
    LedgerWho,
    LedgerHistory,
    LedgerCameras,
    LedgerExport,
    LedgerKey,
    LedgerCheckpoint,
    LedgerProve,
    LedgerVerifyProof,
    LedgerReport,
    LedgerWitness,
    LedgerInitDb,
    LedgerSync,
    LedgerStatus,
};

enum class PasswordSource : std::uint8_t { Default, Stdin, File };

inline constexpr const char* kDefaultUser = "admin";
inline constexpr const char* kDefaultPassword = "wrenq";

struct CliOptions
{
    std::string address{kFactoryCameraAddress};
    std::string user = kDefaultUser;
    PasswordSource passwordSource = PasswordSource::Default;
    std::string passwordFile;
    std::string secretsFile; // set and passwd: passwords as NAME=VALUE lines
    bool json = false;
    bool yes = false;
    bool showPasswords = false;
    std::string inventory;
    int count = 0; // provision: 0 until interrupted
    // scan and provision --all: where cameras are looked for. Addresses (simulated cameras) stand
    // in for the interfaces; without either, every interface in the --ip address's /24.
    bool all = false;
    std::vector<std::string> interfaces;
    std::vector<std::string> addresses;
    std::string roster;
    bool notOnRosterSetup = false; // --not-on-roster setup; skip otherwise
    bool retryFailed = false;      // only cameras whose last outcome in the inventory was not ok
    std::chrono::milliseconds timeout{3000};
    std::chrono::milliseconds poll{500};
    std::string ledger;  // --ledger: where the ledger is; empty: the default place
    std::string trusted; // --trusted: the verifier keys to trust; empty: those remembered

    // The evidence actions' options, as given.
    std::string file;          // ledger verify --file: an export to verify with no database
    std::string witnessKeys;   // ledger verify --witness-keys
    std::string minWitnesses;  // ledger verify --min-witnesses
    std::string size;          // ledger checkpoint --size
    std::string out;           // ledger prove --out
    std::string origin;        // ledger verify-proof --origin
    std::string state;         // ledger witness --state
    std::string key;           // ledger witness --key
    std::string stationRole;   // ledger init-db --station-role
    std::string witnessRole;   // ledger init-db --witness-role
    int minWitnessCount = 0;   // --min-witnesses read
    std::int64_t treeSize = 0; // --size read
    std::int64_t number = 0;   // ledger prove NUMBER

    // The ledger's queries, as given (times are read where they are used).
    std::string device;  // ledger who: DEVICE; ledger history --device
    std::string officer; // ledger history --officer
    std::string at;      // ledger who --at
    std::string since;   // ledger history --since; empty: from the first event
    std::string until;   // ledger history --until; empty: to the last event
    std::string pdf;      // ledger report --pdf
    std::string language; // ledger report --language: zh_CN, zh_TW or en; empty: the computer's

    CommandKind command = CommandKind::Help;
    std::string commandName; // "get", "ledger who", ...
    // The command's arguments (ledger who: DEVICE; ledger export: the file); help: the command
    // whose help is asked for, one word per level ("ledger", "who"), none for orvctl's own.
    std::vector<std::string> operands;
};

struct ParsedCommandLine
{
    std::optional<CliOptions> options;
    std::string error; // a usage error when options is empty
};

// Checks everything that can be checked without the camera: options, the command, the number of
// operands, group names, the address, --yes for factory and format. With --secrets-file, set may
// name no field and passwd no new password: the file may hold them.
ParsedCommandLine parseCommandLine(std::span<const std::string> args);

// The help text of orvctl (no words) or of one of its commands ("set"; "ledger", "who"), as
// --help prints it. Words that name no command give orvctl's own.
std::string commandLineHelp(std::span<const std::string> command = {});

} // namespace orv::cli
