#pragma once
// orvctl's command line: options anywhere before "--", then the command and its operands.

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
};

enum class PasswordSource : std::uint8_t { Default, Stdin, File };

inline constexpr const char* kDefaultAddress = "192.168.2.158";
inline constexpr const char* kDefaultUser = "admin";
inline constexpr const char* kDefaultPassword = "wrenq";

struct CliOptions
{
    std::string address = kDefaultAddress;
    std::string user = kDefaultUser;
    PasswordSource passwordSource = PasswordSource::Default;
    std::string passwordFile;
    bool json = false;
    bool yes = false;
    bool showPasswords = false;
    std::string inventory;
    int count = 0; // provision: 0 until interrupted
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
// operands, group names, the address, --yes for factory and format.
ParsedCommandLine parseCommandLine(std::span<const std::string> args);

} // namespace orv::cli
