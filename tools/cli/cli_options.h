#pragma once
// orvctl's command line: options anywhere before "--", then the command and its operands.

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
    kExitFailed = 1, // a file could not be read or written, or the camera reports an unknown platform
    kExitUsage = 2,
    kExitLoginRefused = 3,
    kExitUnreachable = 4, // unreachable or silent
    kExitDiffers = 5,
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

    CommandKind command = CommandKind::Help;
    std::string commandName;
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

} // namespace orv::cli
