#include "tools/camsim/command_line.h"

#include "tools/camsim/server_socket.h"

#include <charconv>

namespace orv::camsim {

std::string usageText()
{
    return "usage: orv-camsim [--listen ADDR] [--port N] [--state FILE] [--verbose]\n"
           "\n"
           "A simulated body-worn camera that answers the camera link over TCP.\n"
           "\n"
           "  --listen ADDR  local IPv4 address to listen on (default 127.0.0.1)\n"
           "  --port N       TCP port, 1 to 65535 (default 19436)\n"
           "  --state FILE   keep the camera's accounts, settings and clock in FILE across runs;\n"
           "                 it is created with the defaults when missing\n"
           "  --verbose      print every frame received (<-) and sent (->) as hex\n"
           "  --help         show this text\n"
           "\n"
           "The camera starts with one account, admin / wrenq. Ctrl+C stops it.\n";
}

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
        const bool takesValue = name == "--listen" || name == "--port" || name == "--state";
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
        } else if (name == "--verbose" || name == "-v") {
            result.options.verbose = true;
        } else if (name == "--listen") {
            std::uint32_t address = 0;
            if (!sock::parseIpv4(value, address)) {
                return fail("--listen: \"" + value + "\" is not an IPv4 address such as 127.0.0.1");
            }
            result.options.listenAddress = value;
        } else if (name == "--port") {
            unsigned port = 0;
            const char* end = value.data() + value.size();
            const auto [p, ec] = std::from_chars(value.data(), end, port);
            if (ec != std::errc() || p != end || port < 1 || port > 65535) {
                return fail("--port: \"" + value + "\" is not a port number from 1 to 65535");
            }
            result.options.port = static_cast<std::uint16_t>(port);
        } else if (name == "--state") {
            if (value.empty()) {
                return fail("--state needs a file name");
            }
            result.options.stateFile = value;
        } else {
            return fail("unknown option \"" + args[i] + "\"");
        }
    }
    return result;
}

} // namespace orv::camsim
