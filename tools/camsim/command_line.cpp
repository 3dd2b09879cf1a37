#include "tools/camsim/command_line.h"

#include "tools/camsim/camera_state.h"

#include "link/socket_io.h"

#include "orv_version.h"

#include <charconv>
#include <optional>

namespace orv::camsim {

std::string usageText()
{
    return "usage: orv-camsim [--listen ADDR] [--port N] [--sdk-port N] [--state FILE] [--device-id ID]\n"
           "                  [--one-connection] [--reply-delay-ms N] [--verbose]\n"
           "\n"
           "A simulated body-worn camera that answers the camera link over TCP.\n"
           "\n"
           "  --listen ADDR  local IPv4 address to listen on (default 127.0.0.1)\n"
           "  --port N       TCP port, 1 to 65535 (default 19436)\n"
           "  --sdk-port N   TCP port for the stand-in of the maker's SDK (libQMNetSDK.so), which\n"
           "                 carries the GB28181 settings (default 19437, not the same as --port)\n"
           "  --state FILE   keep the camera's accounts, settings, clock and GB28181 settings in FILE\n"
           "                 across runs; it is created with the defaults when missing\n"
           "  --device-id ID the camera's device id (up to 32 bytes as the camera stores text); it\n"
           "                 replaces the id kept in the state file. Without it a new camera takes\n"
           "                 ORV2026 and five digits from its address (127.0.0.1: ORV202600001,\n"
           "                 127.0.0.2: ORV202600002) and a state file keeps the id it holds\n"
           "  --one-connection\n"
           "                 reset a connection that arrives while another is open, instead of\n"
           "                 letting it replace the open one\n"
           "  --reply-delay-ms N\n"
           "                 wait N milliseconds (0 to 10000) before every reply, as a real camera\n"
           "                 takes its time (default 0)\n"
           "  --verbose      print every frame received (<-) and sent (->) as hex, and with every\n"
           "                 connect and disconnect how many connections are held now and the most\n"
           "                 held at once\n"
           "  --version      print the version and stop\n"
           "  --help         show this text\n"
           "\n"
           "The camera starts with one account, admin / wrenq. Ctrl+C stops it.\n"
           "\n"
           "The GB28181 dialog reaches the camera through the stand-in SDK library, which always uses\n"
           "port 19437 unless the environment variable ORV_CAMSIM_SDK_PORT names another (1 to 65535;\n"
           "any other value makes every login fail). To run two cameras on one address, give each its\n"
           "own --port and --sdk-port, and set the variable for the console to the camera it is meant for.\n";
}

std::string versionText()
{
    return std::string(kProgramVersion) + "\n";
}

namespace {

// Longer than any reply timeout of the link: a camera that slow is a silent one.
constexpr unsigned kMaxReplyDelayMs = 10000;

std::optional<std::uint16_t> portNumber(const std::string& text)
{
    unsigned port = 0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, port);
    if (ec != std::errc() || p != end || port < 1 || port > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(port);
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args)
{
    CommandLine result;
    auto fail = [&](std::string message) {
        result.action = CommandLine::Action::Error;
        result.error = std::move(message);
        return result;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            hasValue = true;
        }
        const bool takesValue = name == "--listen" || name == "--port" || name == "--sdk-port" || name == "--state" ||
                                name == "--reply-delay-ms" || name == "--device-id";
        if (takesValue && !hasValue) {
            if (i + 1 >= args.size()) {
                return fail(name + " needs a value");
            }
            value = args[++i];
        } else if (!takesValue && hasValue) {
            return fail(name + " takes no value");
        }

        if (name == "--help" || name == "-h") {
            result.action = CommandLine::Action::Help;
            return result;
        } else if (name == "--version") {
            result.action = CommandLine::Action::Version;
            return result;
        } else if (name == "--verbose" || name == "-v") {
            result.options.verbose = true;
        } else if (name == "--one-connection") {
            result.options.oneConnection = true;
        } else if (name == "--device-id") {
            if (value.empty()) {
                return fail("--device-id needs an id");
            }
            if (const std::string problem = deviceIdProblem(value); !problem.empty()) {
                return fail("--device-id \"" + value + "\": " + problem);
            }
            result.options.deviceId = value;
        } else if (name == "--listen") {
            std::uint32_t address = 0;
            if (!net::parseIpv4(value, address)) {
                return fail("--listen: \"" + value + "\" is not an IPv4 address such as 127.0.0.1");
            }
            result.options.listenAddress = value;
        } else if (name == "--port" || name == "--sdk-port") {
            const auto port = portNumber(value);
            if (!port) {
                return fail(name + ": \"" + value + "\" is not a port number from 1 to 65535");
            }
            (name == "--port" ? result.options.port : result.options.sdkPort) = *port;
        } else if (name == "--reply-delay-ms") {
            unsigned ms = 0;
            const char* end = value.data() + value.size();
            const auto [p, ec] = std::from_chars(value.data(), end, ms);
            if (value.empty() || ec != std::errc() || p != end || ms > kMaxReplyDelayMs) {
                return fail("--reply-delay-ms: \"" + value + "\" is not a number of milliseconds from 0 to 10000");
            }
            result.replyDelay = std::chrono::milliseconds(ms);
        } else if (name == "--state") {
            if (value.empty()) {
                return fail("--state needs a file name");
            }
            result.options.stateFile = value;
        } else {
            return fail("unknown option \"" + args[i] + "\"");
        }
    }
    // Both listen on the same address, so the second could never be bound.
    if (result.options.port == result.options.sdkPort) {
        return fail("--port and --sdk-port are both " + std::to_string(result.options.port) +
                    "; the SDK needs a port of its own");
    }
    return result;
}

} // namespace orv::camsim
