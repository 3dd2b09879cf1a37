#include "orvctl/cli_options.h"

#include "orvctl/command.h"
#include "orvctl/help_texts.h"

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
  5    verification or check found a field that differs, cameras with the same device id
       were left without their officer, or a camera was left untouched as "not on the
       roster"; the ledger's history changed since this station last saw it, or another
       ledger was put in its place (nothing was sent; the proof is kept beside the station's
       witness file); ledger verify: the ledger is broken (an event was altered, removed,
       inserted or reordered, a signed checkpoint or this station's witness file disagrees
       with it, a checkpoint's signature does not verify or no trusted key signed it); ledger
       verify-proof: the proof is refused (altered, not signed by a trusted key, of another
       ledger); ledger witness: the ledger contradicts what the witness cosigned before
  130  provision or check interrupted)";

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

// The family of ledger actions; its kind is never used (ledger alone is a usage error).
constexpr Command kLedger = {
    "ledger", CommandKind::Help, "", 0, 0, "Read the ledger of work done on cameras.",
    "The ledger holds every outcome of work on a camera as one event, numbered and chained so that\n"
    "an edited, deleted, inserted or reordered event is found. --ledger says where it is.",
    "--ledger --json", {}, kTimesFooter};

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

std::string commandWords(const Command& doc)
{
    return std::string(doc.name) + (doc.operands.empty() ? "" : " ") + std::string(doc.operands);
}

// Lays out what CLI11 knows of orvctl and its commands: usage, description, the commands (one line
// each), the options, then the footer. help2man turns orvctl's into the manual page, so it keeps
// the shape that tool reads: a Usage line, then sections headed "Name:".
class HelpFormatter final : public CLI::Formatter
{
public:
    void describe(const CLI::App* app, const Command* doc) { docs_[app] = doc; }

    const Command* docOf(const CLI::App* app) const
    {
        const auto found = docs_.find(app);
        return found == docs_.end() ? nullptr : found->second;
    }

    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode) const override
    {
        const Command* doc = docOf(app);
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
            const Command* doc = docOf(sub);
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

    std::map<const CLI::App*, const Command*> docs_;
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

        for (const Command* command : orvctlCommands()) {
            addCommand(app, *command);
        }
        ledger = addCommand(app, kLedger);
        ledger->require_subcommand(0, 1);
        for (const Command* action : ledgerActions()) {
            addCommand(*ledger, *action);
        }
        addCommand(app, kHelpCommand);
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
    CLI::App* addCommand(CLI::App& parent, const Command& doc)
    {
        CLI::App* sub = parent.add_subcommand(std::string(doc.name), std::string(doc.summary));
        formatter->describe(sub, &doc);
        std::string footer;
        for (const std::string_view section : doc.footer) {
            footer += (footer.empty() ? "" : "\n\n") + std::string(section);
        }
        sub->footer(footer);
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

std::span<const Command* const> orvctlCommands()
{
    static constexpr const Command* kCommands[] = {
        &kGetCommand,   &kSetCommand,   &kPasswdCommand,   &kTimeSyncCommand,  &kUDiskCommand,
        &kUIdentifyCommand, &kFactoryCommand, &kFormatCommand, &kApplyCommand, &kExportIdCommand,
        &kProvisionCommand, &kScanCommand, &kCheckCommand,
    };
    return kCommands;
}

std::span<const Command* const> ledgerActions()
{
    static constexpr const Command* kActions[] = {
        &kLedgerVerifyCommand,     &kLedgerHeadCommand,    &kLedgerWhoCommand,        &kLedgerHistoryCommand,
        &kLedgerReportCommand,     &kLedgerCamerasCommand, &kLedgerExportCommand,     &kLedgerKeyCommand,
        &kLedgerCheckpointCommand, &kLedgerProveCommand,   &kLedgerVerifyProofCommand, &kLedgerWitnessCommand,
        &kLedgerSyncCommand,       &kLedgerStatusCommand,  &kLedgerInitDbCommand,
    };
    return kActions;
}

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
                     "verify-proof, witness or init-db");
    }
    if (!extras.empty()) {
        return usage("unknown command \"" + extras.front() + "\"");
    }
    const CLI::App& command = *path.back();
    const Command& info = *line.formatter->docOf(&command);
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
    if (info.check) {
        if (std::string error = info.check(o); !error.empty()) {
            return usage(error);
        }
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
