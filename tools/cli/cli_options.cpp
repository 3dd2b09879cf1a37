#include "tools/cli/cli_options.h"

#include "provision/camera_groups.h"

#include <charconv>
#include <string_view>

namespace orv::cli {
using namespace orv::provision;
namespace {

struct CommandInfo
{
    std::string_view name;
    CommandKind kind;
    std::size_t minOperands;
    std::size_t maxOperands; // SIZE_MAX: any number
};

constexpr std::size_t kAny = static_cast<std::size_t>(-1);

constexpr CommandInfo kCommands[] = {
    {"help", CommandKind::Help, 0, 0},           {"get", CommandKind::Get, 1, 1},
    {"set", CommandKind::Set, 2, kAny},          {"passwd", CommandKind::Passwd, 1, 1},
    {"timesync", CommandKind::TimeSync, 0, 0},   {"udisk", CommandKind::UDisk, 0, 0},
    {"uidentify", CommandKind::UIdentify, 1, 1}, {"factory", CommandKind::Factory, 0, 0},
    {"format", CommandKind::Format, 0, 0},       {"apply", CommandKind::Apply, 1, 1},
    {"export-id", CommandKind::ExportId, 1, 1},  {"provision", CommandKind::Provision, 1, 1},
    {"scan", CommandKind::Scan, 0, 0},           {"check", CommandKind::Check, 1, 1},
};

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

ParsedCommandLine usage(std::string message)
{
    return {std::nullopt, std::move(message)};
}

} // namespace

ParsedCommandLine parseCommandLine(std::span<const std::string> args)
{
    CliOptions o;
    std::vector<std::string> words;
    bool sawPasswordOption = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const auto takeValue = [&](std::string& into) {
            if (i + 1 >= args.size()) {
                return false;
            }
            into = args[++i];
            return true;
        };
        std::string value;
        if (arg == "--help" || arg == "-h") {
            o.command = CommandKind::Help;
            o.commandName = "help";
            return {o, {}};
        } else if (arg == "--version") {
            o.command = CommandKind::Version;
            o.commandName = "version";
            return {o, {}};
        } else if (arg == "--secrets-file") {
            if (!o.secretsFile.empty()) {
                return usage("give --secrets-file once");
            }
            if (!takeValue(o.secretsFile) || o.secretsFile.empty()) {
                return usage("--secrets-file needs a file");
            }
        } else if (arg == "--ip") {
            if (!takeValue(o.address)) {
                return usage("--ip needs an address");
            }
        } else if (arg == "--user") {
            if (!takeValue(o.user)) {
                return usage("--user needs a name");
            }
        } else if (arg == "--password-stdin" || arg == "--password-file") {
            if (sawPasswordOption) {
                return usage("give the password one way only");
            }
            sawPasswordOption = true;
            o.passwordSource = arg == "--password-stdin" ? PasswordSource::Stdin : PasswordSource::File;
            if (o.passwordSource == PasswordSource::File && !takeValue(o.passwordFile)) {
                return usage("--password-file needs a file");
            }
        } else if (arg == "--password") {
            return usage("passwords are not taken on the command line, where other users can see them; use "
                         "--password-stdin or --password-file");
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--yes") {
            o.yes = true;
        } else if (arg == "--show-passwords") {
            o.showPasswords = true;
        } else if (arg == "--all") {
            o.all = true;
        } else if (arg == "--retry-failed") {
            o.retryFailed = true;
        } else if (arg == "--interface" || arg == "--address") {
            if (!takeValue(value) || value.empty()) {
                return usage(arg + (arg == "--interface" ? " needs an interface name" : " needs an address"));
            }
            if (arg == "--address" && !isDottedIpv4(value)) {
                return usage("--address: \"" + value + "\" is not an IPv4 address");
            }
            (arg == "--interface" ? o.interfaces : o.addresses).push_back(value);
        } else if (arg == "--roster") {
            if (!takeValue(o.roster) || o.roster.empty()) {
                return usage("--roster needs a file");
            }
        } else if (arg == "--not-on-roster") {
            if (!takeValue(value) || (value != "skip" && value != "setup")) {
                return usage("--not-on-roster takes skip or setup");
            }
            o.notOnRosterSetup = value == "setup";
        } else if (arg == "--inventory") {
            if (!takeValue(o.inventory)) {
                return usage("--inventory needs a file");
            }
        } else if (arg == "--count" || arg == "--timeout-ms" || arg == "--poll-ms") {
            if (!takeValue(value)) {
                return usage(arg + " needs a number");
            }
            const std::optional<int> n = positiveNumber(value);
            if (!n) {
                return usage(arg + " takes a whole number above 0, not \"" + value + "\"");
            }
            if (arg == "--count") {
                o.count = *n;
            } else if (arg == "--timeout-ms") {
                o.timeout = std::chrono::milliseconds(*n);
            } else {
                o.poll = std::chrono::milliseconds(*n);
            }
        } else {
            return usage("unknown option " + arg);
        }
    }

    if (words.empty()) {
        return usage("no command given");
    }
    const CommandInfo* info = nullptr;
    for (const CommandInfo& c : kCommands) {
        if (c.name == words[0]) {
            info = &c;
        }
    }
    if (!info) {
        return usage("unknown command \"" + words[0] + "\"");
    }
    o.command = info->kind;
    o.commandName = words[0];
    o.operands.assign(words.begin() + 1, words.end());
    const bool fileMayFillIn =
        !o.secretsFile.empty() && (o.command == CommandKind::Set || o.command == CommandKind::Passwd);
    const std::size_t minOperands = info->minOperands - (fileMayFillIn ? 1 : 0);
    if (o.operands.size() < minOperands || o.operands.size() > info->maxOperands) {
        return usage(o.commandName + (o.operands.size() < minOperands ? ": missing " : ": too many ") + "arguments");
    }
    if (!o.secretsFile.empty() && !fileMayFillIn) {
        return usage("--secrets-file belongs to set and passwd");
    }
    if (!isDottedIpv4(o.address)) {
        return usage("\"" + o.address + "\" is not an IPv4 address such as 192.168.2.158");
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

} // namespace orv::cli
